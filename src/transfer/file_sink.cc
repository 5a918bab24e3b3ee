#include "transfer/file_sink.h"

#include "platform/install_file.h"

namespace {

// Buffer of the output file: writes reach the disk in large blocks, not per received block.
constexpr size_t kFileBufferSize = 256 * 1024;

}  // namespace

FileSink::~FileSink() {
  if (file_)
    std::fclose(file_);
}

bool FileSink::Open(uint64_t startOffset) {
  if (file_ || startOffset != 0)
    return false;
  file_ = std::fopen(path_.c_str(), "wbe");
  if (!file_)
    return false;
  std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
  return true;
}

bool FileSink::Write(const char* data, size_t length) {
  return file_ && std::fwrite(data, 1, length, file_) == length;
}

bool FileSink::Close() {
  if (!file_)
    return false;
  // On the disk before anything renames it into place; here on the downloading thread, where it
  // overlaps with other transfers, not on the window's.
  const bool flushed = FlushFileData(file_) && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}
