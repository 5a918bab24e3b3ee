#pragma once

#include <sys/types.h>

#include <map>
#include <string>

// A fresh folder for one test, removed with everything below it when the test ends. Test
// thread only.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes content to path, creating the folders above it, with the given mode.
void WriteTestFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// The whole file; fails the test when it cannot be read.
std::string ReadTestFile(const std::string& path);
bool PathExists(const std::string& path);

// One file as a manifest lists it, every field as text ("" when absent).
struct ListedFile {
  std::string l, v, d, x, h;
};

// The files of the manifest at path by "key/name" (the name alone at the top), read with the
// document library; the folder keys in order go to keys when given.
std::map<std::string, ListedFile> ReadManifest(const std::string& path, std::string* date = nullptr,
                                               std::string* keys = nullptr);
