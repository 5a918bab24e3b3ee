#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/crypto.h"

// The file calls the publisher builds on. Each throws PublishError with the path and the system's
// reason; none retries. Publishing thread.

// Owns one open descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();

 private:
  int fd_ = -1;
};

// "a" + "/" + "b", without doubling a separator; either side may be empty.
std::string JoinPath(const std::string& base, const std::string& relative);

// Opens an existing file for reading (following a symbolic link).
UniqueFd OpenForReading(const std::string& path);

// lstat: false when nothing is there; throws on any other failure.
bool LinkStatus(const std::string& path, struct stat& out);

// Creates path and every missing parent; fails when a part exists and is no directory.
void MakeDirectories(const std::string& path);

// Creates or empties target, copies exactly `length` bytes of source from offset 0 into it and
// flushes it to disk. Fails when the source holds another length than announced (it changed
// while being published). The copied bytes go through hash when one is given.
void CopyToFile(int source, uint64_t length, const std::string& target, Sha256* hash = nullptr);

// True when both descriptors hold the same bytes from offset 0 (their sizes already equal).
// The bytes of a go through hashA when one is given.
bool SameContent(int a, int b, uint64_t length, Sha256* hashA = nullptr);

// The SHA-256 of length bytes of fd from offset, 64 lower-case hex digits; fails when the file
// holds fewer.
std::string HashFileRange(int fd, uint64_t offset, uint64_t length, const std::string& path);

// write(2) until every byte is written.
void WriteAll(int fd, const char* data, size_t count, const std::string& path);

// Creates or empties path for writing.
UniqueFd CreateForWriting(const std::string& path);

// fsync and close, reporting either failure: a copy that did not reach the disk is no copy.
void FinishWriting(UniqueFd fd, const std::string& path);

// Creates or empties path, writes data and flushes it to disk.
void WriteFileDurably(const std::string& path, const std::string& data);

// Creates path with mode, failing when anything stands there (a link included), then writes data
// through that one descriptor and flushes it to disk; on failure nothing is left at path.
void WriteNewFileDurably(const std::string& path, const std::string& data, mode_t mode);

// The first limit bytes of fd from offset 0, fewer when it holds less.
std::string ReadPrefix(int fd, size_t limit, const std::string& path);

// Reads a whole regular file; false when it does not exist, throws when something stands there
// that cannot be read.
bool ReadFileIfPresent(const std::string& path, std::string& out);

// rename(2), throwing on failure.
void RenameOrThrow(const std::string& from, const std::string& to);

// Removes a file or directory tree; best effort, for clean-ups that must not fail a publish.
void RemoveTreeQuietly(const std::string& path);
