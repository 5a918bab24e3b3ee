#pragma once

#include <cstdint>
#include <string>

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
};
