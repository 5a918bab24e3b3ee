#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file of a test manifest: its path ("dir/name", "/name" for the root directory), l and v.
struct ManifestFile {
  std::string path;
  int64_t length;
  int version;
};

// A manifest text listing each file under its own directory member, in the given order.
inline std::string ManifestText(const std::vector<ManifestFile>& files) {
  std::string text = "\"paths\":[";
  for (size_t i = 0; i < files.size(); ++i) {
    const ManifestFile& file = files[i];
    size_t slash = file.path.rfind('/');
    text += (i == 0 ? "\"" : ",\"") + file.path.substr(0, slash) + "\":[\"" +
            file.path.substr(slash + 1) + "\":{\"l\":\"" + std::to_string(file.length) +
            "\",\"v\":\"" + std::to_string(file.version) + "\"}]";
  }
  return text + "]";
}
