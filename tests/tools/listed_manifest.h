#pragma once

#include <map>
#include <string>

// One file as a manifest lists it, every field as text ("" when absent).
struct ListedFile {
  std::string l, v, d, x, h;
};

// The files of the manifest at path by "key/name" (the name alone at the top), read with the
// document library; the folder keys in order go to keys when given.
std::map<std::string, ListedFile> ReadManifest(const std::string& path, std::string* date = nullptr,
                                               std::string* keys = nullptr);
