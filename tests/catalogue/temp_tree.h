#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory for one test, removed with everything below it when the test ends. Test
// thread only.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The directory, without a trailing separator.
  const std::string& path() const { return path_; }
  // Writes content to path() + "/" + relative and returns the full path.
  std::string Write(const std::string& relative, const std::string& content) const;
  // Relative paths of everything below path(), sorted, directories with a trailing "/".
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);
// Creates or resizes a file to size bytes (sparse, so large sizes cost nothing).
void MakeFileOfSize(const std::string& path, int64_t size);
