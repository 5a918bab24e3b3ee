#include "transfer/file_sink.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/install_file.h"

namespace {

// Buffer of the output file: writes reach the disk in large blocks, not per received block.
constexpr size_t kFileBufferSize = 256 * 1024;
// A large body goes to the disk in steps of this much while it arrives, so that the flush at its
// end does not wait for all of it.
constexpr uint64_t kWriteBackStep = 8 * 1024 * 1024;

}  // namespace

// SHA-256 of what the sink writes. Bodies beyond one block are hashed on a thread of their own,
// fed through a few blocks, so that hashing a large file overlaps its arrival instead of adding
// to it; smaller ones are hashed at the end. Fed by the downloading thread only.
class FileSink::Hasher {
 public:
  Hasher() { current_.reserve(kBlockSize); }
  ~Hasher() { Finish(); }
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  void Update(const char* data, size_t size) {
    while (size > 0) {
      const size_t taken = std::min(size, kBlockSize - current_.size());
      current_.insert(current_.end(), data, data + taken);
      data += taken;
      size -= taken;
      if (current_.size() == kBlockSize) {
        HandOver();
      }
    }
  }

  std::string HexDigest() {
    Finish();
    return digest_;
  }

 private:
  static constexpr size_t kBlockSize = 128 * 1024;
  static constexpr size_t kBlocks = 6;

  // Queues the full current block for the thread (started with the first) and takes a free one.
  void HandOver() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
      thread_ = std::thread([this] { Run(); });
    }
    full_.push_back(std::move(current_));
    changed_.notify_all();
    changed_.wait(lock, [this] { return !free_.empty() || blocksMade_ < kBlocks; });
    if (free_.empty()) {
      ++blocksMade_;
      current_ = std::vector<char>();
      current_.reserve(kBlockSize);
    } else {
      current_ = std::move(free_.back());
      free_.pop_back();
      current_.clear();
    }
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !full_.empty() || ending_; });
      if (full_.empty()) {
        return;
      }
      std::vector<char> block = std::move(full_.front());
      full_.pop_front();
      lock.unlock();
      sha_.Update(block.data(), block.size());
      lock.lock();
      free_.push_back(std::move(block));
      changed_.notify_all();
    }
  }

  // Hashes what is left and ends the thread; the digest is then fixed.
  void Finish() {
    if (finished_) {
      return;
    }
    finished_ = true;
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
      }
      changed_.notify_all();
      thread_.join();
    }
    sha_.Update(current_.data(), current_.size());
    digest_ = sha_.HexDigest();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> full_;  // in order, for the thread
  std::vector<std::vector<char>> free_;
  size_t blocksMade_ = 1;  // current_ is the first
  bool ending_ = false;
  bool finished_ = false;
  std::vector<char> current_;
  Sha256 sha_;  // the thread's until it is joined
  std::string digest_;
  std::thread thread_;
};

FileSink::FileSink(std::string path, bool hashed) : path_(std::move(path)) {
  if (hashed) {
    hash_ = std::make_unique<Hasher>();
  }
}

FileSink::~FileSink() {
  if (file_) {
    std::fclose(file_);
  }
}

bool FileSink::Open(uint64_t startOffset) {
  if (file_) {
    return false;
  }
  // Never written through a link, nor through another name of a file elsewhere: the target is
  // made anew, or continued only as a regular file of its own. Whatever lies beyond the kept part
  // is not the server's; it must not stay behind the body.
  file_ = startOffset == 0 ? CreateFileAnew(path_) : OpenKeptFile(path_, startOffset);
  if (!file_) {
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
  if (startOffset > 0 && !HashKeptPart(startOffset)) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  opened_ = true;
  continued_ = startOffset > 0;
  written_ = writtenBack_ = startOffset;
  return true;
}

bool FileSink::HashKeptPart(uint64_t length) {
  if (!hash_) {
    return SeekFile(file_, length);
  }
  std::vector<char> block(kFileBufferSize);
  uint64_t left = length;
  while (left > 0) {
    const size_t want = left < block.size() ? static_cast<size_t>(left) : block.size();
    const size_t got = std::fread(block.data(), 1, want, file_);
    if (got != want) {
      return false;  // shorter than it was a moment ago
    }
    hash_->Update(block.data(), got);
    left -= got;
  }
  // A stream switches from reading to writing only through a positioning call.
  return std::fseek(file_, 0, SEEK_CUR) == 0;
}

bool FileSink::Write(const char* data, size_t length) {
  if (!file_ || std::fwrite(data, 1, length, file_) != length) {
    return false;
  }
  if (hash_) {
    hash_->Update(data, length);
  }
  written_ += length;
  if (written_ - writtenBack_ >= kWriteBackStep) {
    StartWriteBack(file_, writtenBack_);
    writtenBack_ = written_;
  }
  return true;
}

bool FileSink::Close() {
  if (!file_) {
    return false;
  }
  // Only handed to the system here: the run puts the files of a whole update on the disk together
  // (FlushFiles) before any of them is put in place, instead of waiting for the disk once per file.
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}

std::string FileSink::Digest() {
  if (!hash_ || !opened_ || file_) {
    return {};
  }
  return hash_->HexDigest();
}
