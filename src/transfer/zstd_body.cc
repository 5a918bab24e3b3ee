#include "transfer/zstd_body.h"

// ZSTD_d_stableOutBuffer: decoding into the caller's buffer, with no window of libzstd's own.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstdint>
#include <utility>

#include "platform/crypto.h"
#include "platform/mapped_file.h"
#include "transfer/body_receiver.h"

namespace {

// A large content goes to the disk in steps of this much while it is decoded, so that the flush
// at the update's end does not wait for all of it.
constexpr uint64_t kWriteBackStep = 8 * 1024 * 1024;

}  // namespace

// libzstd's decoding context with the output it writes and the content's hash. The downloading
// thread's.
struct ZstdBody::Decoder {
  ~Decoder() { ZSTD_freeDCtx(context); }

  ZSTD_DCtx* context = nullptr;
  ZSTD_outBuffer output{nullptr, 0, 0};
  Sha256 sha;
};

ZstdBody::ZstdBody(std::string path, uint64_t contentLength, std::string_view reference,
                   DownloadProgress& progress)
    : path_(std::move(path)),
      contentLength_(contentLength),
      reference_(reference),
      progress_(progress) {}

ZstdBody::~ZstdBody() = default;

bool ZstdBody::Open(uint64_t startOffset) {
  if (startOffset != 0 || output_ || contentLength_ > SIZE_MAX) {
    return false;
  }
  auto decoder = std::make_unique<Decoder>();
  decoder->context = ZSTD_createDCtx();
  ZSTD_DCtx* context = decoder->context;
  if (context == nullptr ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kMaxWindowLog)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_stableOutBuffer, 1)) ||
      (!reference_.empty() &&
       ZSTD_isError(ZSTD_DCtx_refPrefix(context, reference_.data(), reference_.size())))) {
    return false;
  }
  output_ = MappedFile::ForWriting(path_, contentLength_);
  if (!output_) {
    return false;
  }
  decoder->output = {output_->writable(), static_cast<size_t>(contentLength_), 0};
  decoder_ = std::move(decoder);
  return true;
}

bool ZstdBody::Write(const char* data, size_t length) {
  broken_ = broken_ || !decoder_ || !Decode(data, length);
  return !broken_;
}

bool ZstdBody::Decode(const char* data, size_t length) {
  if (ended_ && length > 0) {
    return false;  // nothing may follow the frame
  }
  ZSTD_inBuffer input{data, length, 0};
  while (input.pos < input.size) {
    const size_t before = decoder_->output.pos;
    const size_t taken = input.pos;
    const size_t left = ZSTD_decompressStream(decoder_->context, &decoder_->output, &input);
    if (ZSTD_isError(left)) {
      return false;
    }
    Decoded(before);
    if (left == 0) {
      ended_ = true;
      return input.pos == input.size;
    }
    if (input.pos == taken && decoder_->output.pos == before) {
      return false;  // stuck: the content does not fit its length
    }
  }
  return true;
}

void ZstdBody::Decoded(size_t from) {
  const size_t to = decoder_->output.pos;
  if (to == from) {
    return;
  }
  decoder_->sha.Update(output_->writable() + from, to - from);
  ReportInChunks(progress_, to - from, reported_);
  if (to - writtenBack_ >= kWriteBackStep) {
    output_->StartWriteBack(writtenBack_, to);
    writtenBack_ = to;
  }
}

bool ZstdBody::Close() {
  if (!decoder_) {
    return false;
  }
  const bool whole = !broken_ && ended_ && decoder_->output.pos == contentLength_;
  if (whole) {
    digest_ = decoder_->sha.HexDigest();
  }
  const bool closed = output_->Close();
  decoder_.reset();
  return whole && closed;
}
