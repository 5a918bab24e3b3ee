#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Manifest texts of a large installation for the catalogue benchmarks: files spread evenly over
// directories two levels deep, every length and version derived from the file's number.

// Length of file number i in the server's manifest.
inline int64_t BenchFileLength(int i) {
  return 1 + (int64_t{i} * 7919) % 200000;
}

// A manifest of files files in directories directories. With changedEvery > 0, every file whose
// number is a multiple of changedEvery carries an older version, as a local manifest would
// before an update.
inline std::string BenchManifestText(int files, int directories, int changedEvery) {
  std::string text;
  text.reserve(static_cast<size_t>(files) * 48);
  text += "\"head\":{\"date\":\"2024-05-01 12:00:00\"},\n\"paths\":[\n";
  int perDirectory = (files + directories - 1) / directories;
  char buffer[160];
  for (int d = 0, i = 0; d < directories && i < files; ++d) {
    std::snprintf(buffer, sizeof buffer, "%s\"modules/m%02d/pack%04d\":[", d == 0 ? "" : ",\n",
                  d % 40, d);
    text += buffer;
    for (int k = 0; k < perDirectory && i < files; ++k, ++i) {
      int version = changedEvery > 0 && i % changedEvery == 0 ? 1 : 2;
      std::snprintf(buffer, sizeof buffer,
                    "%s\"file%06d.bin\":{\"l\":\"%lld\",\"v\":\"%d\",\"d\":\"%lld\"}",
                    k == 0 ? "" : ",", i, static_cast<long long>(BenchFileLength(i)), version,
                    133000000000000000ll + i);
      text += buffer;
    }
    text += "]";
  }
  text += "]\n";
  return text;
}
