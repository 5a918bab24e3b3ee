#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/path_folding.h"

// A file that the served manifest lists.
struct PublishedFile {
  std::string key;
  std::string name;
  int version = 0;
  int64_t length = 0;
  bool executable = false;
  std::string hash;               // "h"; "" when not given
  int64_t compressedLength = -1;  // "z"; -1 when no compressed copy is listed
  // "p": the contents its patches start from, with each patch's length.
  std::vector<std::pair<std::string, int64_t>> patches;
};

// What an output folder serves now, read from its manifest: the listed files, and the last
// version of every path that has left the release (kept in the manifest's head, which clients
// ignore), so that a path coming back never reuses a version number a client may still hold.
// Publishing thread.
class PreviousRelease {
 public:
  // A missing manifest gives an empty release; one that is not a manifest fails, since
  // versions cannot be carried on from it.
  static PreviousRelease Read(const std::string& manifestPath);
  // The same from a manifest's text; name stands for it in messages.
  static PreviousRelease Parse(const std::string& text, const std::string& name);

  // The listed file at exactly this path ("key/name"), or null.
  const PublishedFile* Find(const std::string& path) const;
  // The highest version this path was ever published with, listed or retired, compared without
  // regard to ASCII case as clients match paths; 0 when never.
  int HighestVersion(const std::string& path) const;

  const std::vector<PublishedFile>& files() const { return files_; }
  const std::map<std::string, int>& retired() const { return retired_; }
  // The SHA-256 of the manifest's text; "" for a missing manifest.
  const std::string& manifestHash() const { return manifestHash_; }
  // The head's "earlier": the SHA-256 of the manifest served before this one, kept for later
  // patches; "" when none is kept.
  const std::string& earlier() const { return earlier_; }

 private:
  void Remember(const std::string& path, int version);

  std::vector<PublishedFile> files_;
  std::map<std::string, size_t> byPath_;
  std::map<std::string, int> retired_;
  std::string manifestHash_;
  std::string earlier_;
  // By path without regard to ASCII case.
  std::unordered_map<std::string, int, FoldedHash, FoldedEqual> highestFolded_;
};
