#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file as a test manifest lists it.
struct ManifestFile {
  // path: "key/name", the key being the file's directory ("/name" or "name" for the top one).
  // length: the "l" text, which tests may make something other than a number.
  ManifestFile(const std::string& path, std::string length, int version = 1,
               bool executable = false);
  ManifestFile(const std::string& path, int64_t length, int version = 1, bool executable = false)
      : ManifestFile(path, std::to_string(length), version, executable) {}

  std::string key;
  std::string name;
  std::string length;
  int version;
  bool executable;
  std::string hash;  // the "h" text; none when empty
};

// The manifest text listing files, each directory key once in the order of its first file, and
// then extraMembers (a "head" member, say) when given.
std::string ManifestText(const std::vector<ManifestFile>& files,
                         const std::string& extraMembers = "");
