#include "transfer/body_receiver.h"

#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"

namespace {

std::string Bytes(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

}  // namespace

void ReportInChunks(DownloadProgress& progress, size_t length, uint64_t& received) {
  constexpr size_t kChunk = BodyReceiver::kChunkSize;
  const size_t whole = length / kChunk;
  const size_t tail = length % kChunk;
  if (whole > 0) {
    received += whole * kChunk;
    progress.OnChunks(static_cast<uint32_t>(kChunk), whole, received);
  }
  if (tail > 0) {
    received += tail;
    progress.OnChunks(static_cast<uint32_t>(tail), 1, received);
  }
}

BodyReceiver::~BodyReceiver() {
  if (open_) {
    sink_.Close();
  }
}

int BodyReceiver::Begin(int64_t announcedLength, uint64_t startOffset) {
  if (open_) {
    return TransferOk;
  }
  // Refused before the target is touched.
  if (request_.exactSize && (startOffset > request_.expectedSize ||
                             (announcedLength >= 0 && static_cast<uint64_t>(announcedLength) !=
                                                          request_.expectedSize - startOffset))) {
    return Fail(ServerRefused,
                "the announced length is not the expected " + Bytes(request_.expectedSize));
  }
  if (request_.maxBytes > 0 && (startOffset > request_.maxBytes ||
                                (announcedLength >= 0 && static_cast<uint64_t>(announcedLength) >
                                                             request_.maxBytes - startOffset))) {
    return Fail(ServerRefused,
                "the server announced more than the allowed " + Bytes(request_.maxBytes));
  }
  if (!sink_.Open(startOffset)) {
    return Fail(LocalFileCreateFailed, "the local file could not be created");
  }
  open_ = true;
  received_ = startOffset;
  return TransferOk;
}

int BodyReceiver::Take(const char* data, size_t length) {
  // Longer than required or allowed: not one byte more is written.
  if (request_.exactSize && length > request_.expectedSize - received_) {
    return Fail(ServerRefused, "the body is longer than " + Bytes(request_.expectedSize));
  }
  if (request_.maxBytes > 0 && length > request_.maxBytes - received_) {
    return Fail(ServerRefused, "the body is longer than the allowed " + Bytes(request_.maxBytes));
  }
  if (!sink_.Write(data, length)) {
    return Fail(LocalFileCreateFailed, "the local file could not be written");
  }
  ReportInChunks(progress_, length, received_);
  return progress_.StopRequested() ? Cancelled : TransferOk;
}

int BodyReceiver::Finish(int result) {
  // A body that announced no length ends when the connection does, so a connection dropped
  // early would otherwise pass for success.
  if (result == TransferOk && (request_.exactSize ? received_ != request_.expectedSize
                                                  : received_ < request_.expectedSize)) {
    result = Fail(ServerRefused, "the body ended after " + Bytes(received_) + " of " +
                                     Bytes(request_.expectedSize));
  }
  if (open_) {
    open_ = false;
    // Every byte must be in place before success is reported.
    if (!sink_.Close() && result == TransferOk) {
      result = Fail(LocalFileCreateFailed, "the local file could not be written");
    }
  }
  return result;
}

int BodyReceiver::Accept(const ResponseHead& head) {
  const bool encoded = head.codings > 0;
  // A 206 continues the kept part only when it is the rest of the very body asked for; an
  // encoded one would count its range in bytes the sink never sees.
  const bool continues = head.status == 206 && request_.resumeFrom > 0 && !encoded &&
                         ContinuesAt(head.contentRange, request_.resumeFrom, request_.expectedSize,
                                     request_.exactSize);
  if (head.status != 200 && !continues) {
    return FileRequestFailed;
  }
  // Nothing in an encoding we can't undo is ever written.
  if (!head.encodingKnown) {
    return Fail(ServerRefused, "the body came in an unsupported content encoding");
  }
  // An encoded body's announced length is not the length it is written with.
  return Begin(head.lengthAnnounced && !encoded ? static_cast<int64_t>(head.length) : -1,
               continues ? request_.resumeFrom : 0);
}

int BodyReceiver::Fail(int code, const std::string& reason) {
  if (failure_.empty()) {
    failure_ = reason;
  }
  return code;
}

int BodyReceiver::FailStalled() {
  return Fail(ServerRefused,
              "no data arrived for " + std::to_string(StallTimeoutSeconds()) + " seconds");
}

int BodyReceiver::FailOverdue() {
  return Fail(ServerRefused, "the download took longer than the allowed " +
                                 std::to_string(request_.deadlineSeconds) + " seconds");
}

HttpFailure BodyReceiver::Describe(int result, const std::string& url, long status,
                                   const std::string& layerReason) const {
  HttpFailure failure;
  failure.url = url;
  if (result == FileRequestFailed) {
    failure.httpStatus = status;
    failure.reason = status == 206 ? "the partial answer does not continue the kept part"
                                   : "HTTP status " + std::to_string(status);
    return failure;
  }
  failure.reason = !layerReason.empty() ? layerReason : failure_;
  if (failure.reason.empty()) {
    switch (result) {
      case UrlParseFailed:
        failure.reason = "not an http or https URL";
        break;
      case Cancelled:
        failure.reason = "cancelled";
        break;
      case LocalFileCreateFailed:
        failure.reason = "the local file could not be written";
        break;
      case TlsFailed:
        failure.reason = "the secure connection failed";
        break;
      default:
        failure.reason = "the connection failed";
        break;
    }
  }
  return failure;
}
