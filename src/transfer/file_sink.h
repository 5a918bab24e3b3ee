#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "transfer/http_download.h"

// A download's body into one local file, written through a large buffer so that blocks reach the
// disk in few calls; optionally hashed as it is written, so that checking it needs no second
// read (a large body on a thread of the sink's own, overlapping its arrival). The downloading
// thread's.
class FileSink : public DownloadSink {
 public:
  // hashed: the file's SHA-256 is taken along (Digest).
  explicit FileSink(std::string path, bool hashed = false);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // 0 creates the file anew (whatever stood at its name is removed, never written through); N
  // keeps the first N bytes (hashed first) of the regular file standing there and drops the rest,
  // so the body continues it. False when the file can't be made or opened, is no regular file of
  // its own, or holds fewer than N bytes.
  bool Open(uint64_t startOffset) override;
  bool Write(const char* data, size_t length) override;
  // Hands the data to the system and closes: false when it did not take everything. Putting it
  // on the disk is the caller's (FlushFiles).
  bool Close() override;
  // The SHA-256 of the whole file as 64 lower-case hex digits, once it is closed; "" when the
  // sink is not hashed or was never opened.
  std::string Digest();
  // True when the body continued a kept part rather than starting the file.
  bool Continued() const { return continued_; }

 private:
  // Feeds the file's first length bytes to the hash (if any) and leaves the position after them.
  bool HashKeptPart(uint64_t length);

  const std::string path_;
  FILE* file_ = nullptr;
  class Hasher;
  std::unique_ptr<Hasher> hash_;
  bool opened_ = false;
  bool continued_ = false;
  uint64_t written_ = 0;      // the file's length so far
  uint64_t writtenBack_ = 0;  // of those, the ones whose write to the disk has been started
};
