#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "transfer/http_download.h"
#include "transfer/response_headers.h"

// Reports length bytes written after the first received of a body (received then counts them
// too) as chunks of at most BodyReceiver::kChunkSize: its whole chunks in one report, then the
// rest.
void ReportInChunks(DownloadProgress& progress, size_t length, uint64_t& received);

// The body's way from an HTTP implementation to its sink, the same for every implementation:
// opens the sink for an accepted response, holds the body to the request's length and bound,
// writes each block as it came in one call and reports it in chunks of at most 1024 bytes (its
// whole chunks in one report, then the rest), then asks whether to stop; and keeps the time of
// the whole Get against the request's deadline. One per Get, made when the Get starts, on its
// thread.
class BodyReceiver {
 public:
  // Each chunk gets one progress report.
  static constexpr size_t kChunkSize = 1024;

  BodyReceiver(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress)
      : request_(request), sink_(sink), progress_(progress), started_(Clock::now()) {}
  BodyReceiver(const BodyReceiver&) = delete;
  BodyReceiver& operator=(const BodyReceiver&) = delete;
  ~BodyReceiver();

  // The final response is accepted: a 200 (startOffset 0), or a 206 that continues the sink's
  // first startOffset bytes. Its body (as the sink will get it) is announced to have
  // announcedLength bytes, or -1 when unknown. TransferOk once the sink is open; ServerRefused
  // when the announced length contradicts the request or exceeds its bound (the sink is not
  // opened); LocalFileCreateFailed.
  int Begin(int64_t announcedLength, uint64_t startOffset = 0);
  // Judges a final response's head and begins its body (Begin) when it is a 200, or a 206 that
  // continues the kept part, in codings that are undone: FileRequestFailed for any other answer,
  // ServerRefused for a coding that is not undone, else what Begin returns.
  int Accept(const ResponseHead& head);
  bool begun() const { return open_; }
  // One block of the body: TransferOk, ServerRefused (beyond an exact length or the bound;
  // nothing of it is written), LocalFileCreateFailed or Cancelled.
  int Take(const char* data, size_t length);
  // Ends the body with the run's outcome so far and returns the final one: the length is held
  // to the request and the sink closed.
  int Finish(int result);
  // The body's length so far, with the part it continues.
  uint64_t received() const { return received_; }
  // Whether the request's deadline has passed (never without one): the Get is to end with
  // ServerRefused.
  bool Overdue() const {
    return request_.deadlineSeconds > 0 &&
           Clock::now() - started_ >= std::chrono::seconds(request_.deadlineSeconds);
  }
  // Notes why the Get fails (the first reason noted stays) and returns code.
  int Fail(int code, const std::string& reason);
  // The Get ends for a server silent for the stall time-out, or for the deadline: ServerRefused,
  // with the reason noted.
  int FailStalled();
  int FailOverdue();
  // The detail of a Get that ended with result at url: the status when it was the reason, and the
  // HTTP layer's words when it had some, else the reason noted, else the code's own.
  HttpFailure Describe(int result, const std::string& url, long status,
                       const std::string& layerReason) const;

 private:
  using Clock = std::chrono::steady_clock;

  const HttpRequest& request_;
  DownloadSink& sink_;
  DownloadProgress& progress_;
  const Clock::time_point started_;
  uint64_t received_ = 0;
  bool open_ = false;
  std::string failure_;  // why the Get fails, when noted
};
