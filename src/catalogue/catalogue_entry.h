#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One accepted file of a manifest: what to fetch, where it lands, and how the comparison sees it.
struct CatalogueEntry {
  std::string name;        // the file name on disk, case kept
  int64_t length = 0;      // "l"
  int32_t version = 0;     // "v"
  std::string localPath;   // root + "/" + directory key + "/" + name
  std::string remotePath;  // directory key + "/" + name + ".txt"
  bool needsDownload = false;
  bool executable = false;  // "x" reads as 1
  std::string hash;  // "h": SHA-256 of the content, 64 lower-case hex digits; "" when not given
  // Smaller ways to the same content, as the manifest offers them (of use only with a hash).
  int64_t compressedLength = -1;  // "z": the compressed copy's length; -1 when none is offered
  // "p", newest source first: the hash of the content a patch starts from, and its length.
  std::vector<std::pair<std::string, int64_t>> patches;
};
