#pragma once

#include <cstdint>
#include <string>

// Builds a server manifest text as servers publish it: a "head" member, then "paths" with one
// line per directory. The same arguments always give the same text.
inline std::string GenerateManifest(int directories, int filesPerDirectory) {
  std::string text = "\"head\":{\"date\":\"2024-06-07 12:00:00\"},\n\"paths\":[\n";
  text.reserve(static_cast<size_t>(directories) * filesPerDirectory * 70 + 64);
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  int file = 0;
  for (int d = 0; d < directories; ++d) {
    if (d > 0) {
      text += ",\n";
    }
    text += "\"dir" + std::to_string(d / 10) + "/sub" + std::to_string(d) + "\":[";
    for (int f = 0; f < filesPerDirectory; ++f, ++file) {
      if (f > 0) {
        text += ',';
      }
      text += "\"file" + std::to_string(file) + ".dll\":{\"l\":\"" +
              std::to_string(next() % 5000000) + "\",\"v\":\"" + std::to_string(next() % 100) +
              "\",\"d\":\"" + std::to_string(133000000000000000ull + next()) + "\"}";
    }
    text += ']';
  }
  text += "]\n";
  return text;
}
