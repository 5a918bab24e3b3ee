#include "platform/file_system.h"

#include <algorithm>
#include <cctype>

// What every platform's file calls share.

PathParts SplitPath(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (IsPathSeparator(path[i])) {
      return {path.substr(0, i + 1), path.substr(i + 1)};
    }
  }
  return {std::string(), path};
}

bool IsReplacementName(const std::string& name, const std::string& targetName) {
  const size_t prefix = targetName.size() + 2;
  return name.size() == prefix + kReplacementUniqueLength && name[0] == '.' &&
         name.compare(1, targetName.size(), targetName) == 0 && name[prefix - 1] == '-' &&
         std::all_of(name.begin() + prefix, name.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; });
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::string reason;
  return ReadWholeFile(path, out, reason) == ReadResult::Read;
}
