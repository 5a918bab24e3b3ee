#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A whole file mapped read-only into memory, so that a compressor sees a large file as one buffer
// without reading it into the heap. Made on the publishing thread; its bytes may be read by any
// thread while it lives.
class MappedFile {
 public:
  // Maps the file at path; fails when it does not hold exactly expectedLength bytes (it changed
  // while being published).
  MappedFile(const std::string& path, uint64_t expectedLength);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const { return {data_, length_}; }

 private:
  const char* data_ = nullptr;
  size_t length_ = 0;
};
