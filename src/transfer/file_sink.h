#pragma once

#include <cstdio>
#include <string>

#include "transfer/http_download.h"

// A download's body into one local file, created or truncated when the body starts, written
// through a large buffer so that blocks reach the disk in few calls. The downloading thread's.
class FileSink : public DownloadSink {
 public:
  explicit FileSink(std::string path) : path_(std::move(path)) {}
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Only a body from the beginning (startOffset 0) is taken so far.
  bool Open(uint64_t startOffset) override;
  bool Write(const char* data, size_t length) override;
  // Puts the data on the disk and closes: false when the disk did not take everything.
  bool Close() override;

 private:
  const std::string path_;
  FILE* file_ = nullptr;
  uint64_t written_ = 0;      // bytes written since Open
  uint64_t writtenBack_ = 0;  // of those, the ones whose write to the disk has been started
};
