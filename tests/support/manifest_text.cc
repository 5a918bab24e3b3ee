#include "support/manifest_text.h"

#include <algorithm>

ManifestFile::ManifestFile(const std::string& path, std::string fileLength, int fileVersion,
                           bool fileExecutable)
    : length(std::move(fileLength)), version(fileVersion), executable(fileExecutable) {
  size_t slash = path.rfind('/');
  key = slash == std::string::npos ? "" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ManifestText(const std::vector<ManifestFile>& files, const std::string& extraMembers) {
  std::vector<std::string> keys;
  for (const ManifestFile& file : files) {
    if (std::find(keys.begin(), keys.end(), file.key) == keys.end()) {
      keys.push_back(file.key);
    }
  }
  std::string text = "\"paths\":[\n";
  for (size_t k = 0; k < keys.size(); ++k) {
    text += "\"" + keys[k] + "\":[";
    bool first = true;
    for (const ManifestFile& file : files) {
      if (file.key == keys[k]) {
        text += std::string(first ? "" : ",") + "\"" + file.name + "\":{\"l\":\"" + file.length +
                "\",\"v\":\"" + std::to_string(file.version) + "\"" +
                (file.executable ? ",\"x\":\"1\"" : "") +
                (file.hash.empty() ? "" : ",\"h\":\"" + file.hash + "\"") + "}";
        first = false;
      }
    }
    text += std::string("]") + (k + 1 < keys.size() ? ",\n" : "\n");
  }
  text += "]";
  if (!extraMembers.empty()) {
    text += ",\n" + extraMembers;
  }
  return text + "\n";
}
