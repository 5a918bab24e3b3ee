#include "platform/module_directory.h"

std::string DirectoryOfPath(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == '/' || path[i] == '\\') {
      return path.substr(0, i + 1);
    }
  }
  return path;
}
