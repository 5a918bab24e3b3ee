#include "transfer/file_sink.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/crypto.h"

namespace {

// Buffer of the output file: writes reach the disk in large blocks, not per received block.
constexpr size_t kFileBufferSize = 256 * 1024;

}  // namespace

FileSink::FileSink(std::string path, bool hashed) : path_(std::move(path)) {
  if (hashed)
    hash_ = std::make_unique<Sha256>();
}

FileSink::~FileSink() {
  if (file_)
    std::fclose(file_);
}

bool FileSink::Open(uint64_t startOffset) {
  if (file_)
    return false;
  if (startOffset == 0) {
    file_ = std::fopen(path_.c_str(), "wbe");
  } else {
    // Whatever lies beyond the kept part is not the server's; it must not stay behind the body.
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(path_, error);
    if (error || size < startOffset)
      return false;
    std::filesystem::resize_file(path_, startOffset, error);
    if (error)
      return false;
    file_ = std::fopen(path_.c_str(), "r+be");
  }
  if (!file_)
    return false;
  std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
  if (startOffset > 0 && !HashKeptPart(startOffset)) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  opened_ = true;
  continued_ = startOffset > 0;
  return true;
}

bool FileSink::HashKeptPart(uint64_t length) {
  if (!hash_)
    return std::fseek(file_, static_cast<long>(length), SEEK_SET) == 0;
  std::vector<char> block(kFileBufferSize);
  uint64_t left = length;
  while (left > 0) {
    const size_t want = left < block.size() ? static_cast<size_t>(left) : block.size();
    const size_t got = std::fread(block.data(), 1, want, file_);
    if (got != want)
      return false;  // shorter than it was a moment ago
    hash_->Update(block.data(), got);
    left -= got;
  }
  // A stream switches from reading to writing only through a positioning call.
  return std::fseek(file_, 0, SEEK_CUR) == 0;
}

bool FileSink::Write(const char* data, size_t length) {
  if (!file_ || std::fwrite(data, 1, length, file_) != length)
    return false;
  if (hash_)
    hash_->Update(data, length);
  return true;
}

bool FileSink::Close() {
  if (!file_)
    return false;
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}

std::string FileSink::Digest() {
  if (!hash_ || !opened_ || file_)
    return {};
  return hash_->HexDigest();
}
