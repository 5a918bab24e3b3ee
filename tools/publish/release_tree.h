#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One file of a release as it will be published.
struct ReleaseFile {
  std::string name;        // the name on disk, case kept
  std::string sourcePath;  // where it is read from
  int64_t fileTime = 0;    // last write, 100-ns intervals since 1601-01-01 UTC
  bool executable = false;
  // Filled while publishing:
  uint64_t length = 0;
  int version = 0;
  std::string hash;               // SHA-256 of the content, 64 lower-case hex digits
  std::string contentPath;        // where those bytes lie now: the served or the staged copy
  int64_t compressedLength = -1;  // of the listed compressed copy; -1 when none is listed
  std::vector<std::pair<std::string, uint64_t>> patches;  // listed: source content, patch length
};

// One folder of a release that the manifest lists.
struct ReleaseDirectory {
  std::string key;  // "/"-separated below the top, no leading or trailing "/"; "" is the top
  std::vector<ReleaseFile> files;  // sorted by name, byte-wise
};

// A release: the listed folders in depth-first order, each before its subfolders, siblings
// sorted by name byte-wise. A folder is listed when it holds files or nothing listed lies below
// it (so that clients create empty folders too); the top is always listed.
struct ReleaseTree {
  std::vector<ReleaseDirectory> directories;
};

// "key/name", or the name alone in the top folder.
inline std::string ReleasePath(const std::string& key, const std::string& name) {
  return key.empty() ? name : key + "/" + name;
}
