#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "transfer/http_download.h"

class MappedFile;

// One zstd frame, a compressed copy or a patch, decoded as it arrives straight into the file that
// is to hold the content: that file is made at the content's length and mapped, so that no buffer
// of the content's size is ever taken (libzstd keeps no window of its own then, and a patch's
// reference is read where it lies). The content is hashed and reported in chunks as it is
// decoded. The downloading thread's.
class ZstdBody : public DownloadSink {
 public:
  // The largest window a frame may ask for: a patch's covers its reference and its content.
  static constexpr int kMaxWindowLog = 31;

  // path: the file made; contentLength: what the frame must decode to, exactly; reference: the
  // content a patch starts from ("" for a compressed copy), alive until the body is closed;
  // progress hears the decoded bytes.
  ZstdBody(std::string path, uint64_t contentLength, std::string_view reference,
           DownloadProgress& progress);
  ~ZstdBody() override;
  ZstdBody(const ZstdBody&) = delete;
  ZstdBody& operator=(const ZstdBody&) = delete;

  // Only from the start (0): a frame is never continued.
  bool Open(uint64_t startOffset) override;
  // False for a broken frame, a window beyond kMaxWindowLog, a content longer than contentLength
  // and bytes after the frame.
  bool Write(const char* data, size_t length) override;
  // False also when the frame or the content is not whole.
  bool Close() override;
  // The SHA-256 of the content as 64 lower-case hex digits once it was closed whole; "" otherwise.
  const std::string& Digest() const { return digest_; }

 private:
  struct Decoder;

  bool Decode(const char* data, size_t length);
  // Hashes and reports what the decoder wrote since from.
  void Decoded(size_t from);

  const std::string path_;
  const uint64_t contentLength_;
  const std::string_view reference_;
  DownloadProgress& progress_;
  std::unique_ptr<MappedFile> output_;
  std::unique_ptr<Decoder> decoder_;
  uint64_t writtenBack_ = 0;  // of the decoded bytes, those whose write to the disk was started
  uint64_t reported_ = 0;
  bool ended_ = false;   // the frame is complete
  bool broken_ = false;  // a write failed: the content cannot be whole
  std::string digest_;
};
