#include "catalogue/manifest_paths.h"

#include "platform/file_system.h"

bool IsSafeDirectoryKey(const std::string& key) {
  if (key.find('\0') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find_first_of("/\\", start);
    if (end == std::string::npos) {
      end = key.size();
    }
    const std::string component = key.substr(start, end - start);
    if (component == ".." || PlatformRefusesName(component)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") {
    return false;
  }
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
         !PlatformRefusesName(name);
}

void CreateKeyDirectories(const std::string& root, const std::string& key) {
  if (key.empty()) {
    return;
  }
  std::string path;
  path.reserve(root.size() + 1 + key.size());
  path = root;
  size_t start = 0;
  while (true) {
    size_t end = key.find('/', start);
    path += '/';
    path.append(key, start, end == std::string::npos ? std::string::npos : end - start);
    CreateFolder(path);
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
}
