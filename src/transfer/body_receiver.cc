#include "transfer/body_receiver.h"

#include "transfer/transfer_error.h"

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
    return ServerRefused;
  }
  if (request_.maxBytes > 0 && (startOffset > request_.maxBytes ||
                                (announcedLength >= 0 && static_cast<uint64_t>(announcedLength) >
                                                             request_.maxBytes - startOffset))) {
    return ServerRefused;
  }
  if (!sink_.Open(startOffset)) {
    return LocalFileCreateFailed;
  }
  open_ = true;
  received_ = startOffset;
  return TransferOk;
}

int BodyReceiver::Take(const char* data, size_t length) {
  // Longer than required or allowed: not one byte more is written.
  if ((request_.exactSize && length > request_.expectedSize - received_) ||
      (request_.maxBytes > 0 && length > request_.maxBytes - received_)) {
    return ServerRefused;
  }
  if (!sink_.Write(data, length)) {
    return LocalFileCreateFailed;
  }
  const size_t whole = length / kChunkSize;
  const size_t tail = length % kChunkSize;
  if (whole > 0) {
    received_ += whole * kChunkSize;
    progress_.OnChunks(static_cast<uint32_t>(kChunkSize), whole, received_);
  }
  if (tail > 0) {
    received_ += tail;
    progress_.OnChunks(static_cast<uint32_t>(tail), 1, received_);
  }
  return progress_.StopRequested() ? Cancelled : TransferOk;
}

int BodyReceiver::Finish(int result) {
  // A body that announced no length ends when the connection does, so a connection dropped
  // early would otherwise pass for success.
  if (result == TransferOk && (request_.exactSize ? received_ != request_.expectedSize
                                                  : received_ < request_.expectedSize)) {
    result = ServerRefused;
  }
  if (open_) {
    open_ = false;
    // Every byte must be in place before success is reported.
    if (!sink_.Close() && result == TransferOk) {
      result = LocalFileCreateFailed;
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
    return ServerRefused;
  }
  // An encoded body's announced length is not the length it is written with.
  return Begin(head.lengthAnnounced && !encoded ? static_cast<int64_t>(head.length) : -1,
               continues ? request_.resumeFrom : 0);
}
