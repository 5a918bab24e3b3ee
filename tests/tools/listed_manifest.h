#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// One file as a manifest lists it, every field as text ("" when absent); its patches as
// (source content, length).
struct ListedFile {
  std::string l, v, d, x, h, z;
  std::vector<std::pair<std::string, std::string>> p;
};

// The files of the manifest at path by "key/name" (the name alone at the top), read with the
// document library; the folder keys in order go to keys when given.
std::map<std::string, ListedFile> ReadManifest(const std::string& path, std::string* date = nullptr,
                                               std::string* keys = nullptr);

// What a zstd frame decompresses to, with reference as its prefix for a patch, by libzstd's
// one-shot decoder with the window a client accepts; "(not a frame)" when it fails.
std::string Unzstd(const std::string& frame, const std::string& reference = "");
