#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// A regular file's bytes mapped into memory, so that a large file is read or written in place
// without a buffer of its size on the heap: its pages are the system's cache, which it may give
// back under pressure. Made, written and closed on one thread; its bytes may be read by any
// thread while it lives.
class MappedFile {
 public:
  // The whole regular file at path, for reading. Probed before it is opened, so that a FIFO never
  // stalls the caller. Null when it is missing, empty, no regular file, or cannot be mapped.
  static std::unique_ptr<MappedFile> ForReading(const std::string& path);
  // path made anew as CreateFileAnew makes it, length (> 0) bytes long with their room on the
  // disk taken now (a full disk fails here, not while the mapping is written), mapped for
  // writing. Null on failure.
  static std::unique_ptr<MappedFile> ForWriting(const std::string& path, uint64_t length);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const { return {data_, static_cast<size_t>(size_)}; }
  // Null for a file mapped for reading.
  char* writable() { return writable_ ? data_ : nullptr; }
  // Starts writing bytes [from, to) to the disk without waiting, so that the flush of the whole
  // update has little left to wait for. Only a hint, as StartWriteBack.
  void StartWriteBack(uint64_t from, uint64_t to);
  // Unmaps and closes the file; false when written bytes could not be handed to the system.
  // Putting them on the disk is the caller's (FlushFiles).
  bool Close();

 private:
  MappedFile(std::FILE* file, char* data, uint64_t size, bool writable)
      : file_(file), data_(data), size_(size), writable_(writable) {}

  // The platform's half (mapped_file_posix.cc, mapped_file_windows.cc).
  // Takes the room of size bytes on the disk for file, which is then that long.
  static bool Reserve(std::FILE* file, uint64_t size);
  // Maps the first size bytes of file, which must be a regular file of exactly that size.
  static char* Map(std::FILE* file, uint64_t size, bool writable);
  // Undoes Map; for a written mapping, hands its bytes to the system first.
  static bool Unmap(char* data, uint64_t size, bool writable);
  static void WriteBack(std::FILE* file, uint64_t from, uint64_t to);

  std::FILE* file_;
  char* data_;
  uint64_t size_;
  bool writable_;
};
