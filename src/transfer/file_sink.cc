#include "transfer/file_sink.h"

#include "platform/install_file.h"

namespace {

// Buffer of the output file: writes reach the disk in large blocks, not per received block.
constexpr size_t kFileBufferSize = 256 * 1024;
// A large body goes to the disk in steps of this much while it arrives, so that the flush at its
// end does not wait for all of it.
constexpr uint64_t kWriteBackStep = 8 * 1024 * 1024;

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
  if (!file_ || std::fwrite(data, 1, length, file_) != length) {
    return false;
  }
  written_ += length;
  if (written_ - writtenBack_ >= kWriteBackStep) {
    StartWriteBack(file_, writtenBack_);
    writtenBack_ = written_;
  }
  return true;
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
