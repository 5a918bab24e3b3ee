#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

// A fresh directory under $TMPDIR (else /tmp), removed with everything in it when the object
// goes. Used by one test on its own thread.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Small file helpers for tests.
bool FileExists(const std::string& path);
// Waits up to limit for path to exist (written by another process, say); whether it does.
bool WaitForFile(const std::string& path, std::chrono::seconds limit = std::chrono::seconds(20));
// The whole file; "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Creates or empties path and writes data; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& data);
// Writes data to path, creating the folders above it, with the given mode; fails the test when
// it cannot.
void WriteTestFile(const std::string& path, const std::string& data, mode_t mode = 0644);
