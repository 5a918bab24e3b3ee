#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Where a download's body goes: the ".update" file, or anything else that takes bytes in order
// (a sink that also hashes them, say). Used only by the thread that runs the download.
class DownloadSink {
 public:
  virtual ~DownloadSink() = default;
  // The final response is accepted; its body goes to startOffset on (0: from the beginning, an
  // existing target is truncated). False when the target can't be opened.
  virtual bool Open(uint64_t startOffset) = 0;
  // One block as it arrived, in one call. False when it could not be written.
  virtual bool Write(const char* data, size_t length) = 0;
  // Called once after a successful Open, whatever the outcome: every byte written is to be in
  // place afterwards. False when that failed.
  virtual bool Close() = 0;
};

// Hears how a download goes and may stop it. Used only by the thread that runs the download.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  // copies chunks of chunkBytes (1 to 1024) each of the body have been written, one after the
  // other; received counts the body so far, with the part a resumed download kept.
  virtual void OnChunks(uint32_t chunkBytes, size_t copies, uint64_t received) = 0;
  // Asked after each block and now and then while nothing arrives (connecting, a silent
  // server). True stops it.
  virtual bool StopRequested() = 0;
};

// The User-Agent of every request; WinInet's session goes by the same name.
constexpr char kUserAgent[] = "Lodestar_Quorrin";

// One GET as its caller wants it.
struct HttpRequest {
  std::string url;  // http or https
  // The body must have at least this many bytes, or exactly this many with exactSize.
  uint64_t expectedSize = 0;
  bool exactSize = false;
  // N > 0: the sink already holds the body's first N bytes; the rest is asked for
  // ("Range: bytes=N-"). A 206 whose Content-Range starts at N continues them (the sink is
  // opened at N), a 200 starts over, any other answer fails as a status other than 200 does.
  uint64_t resumeFrom = 0;
  // The most the body may bring as the sink gets it (decoded), kept part included; 0: no bound.
  // An announced length beyond it fails before the sink is opened; a body that grows beyond it
  // ends at the block that would cross it, not one byte of which is written.
  uint64_t maxBytes = 0;
  // The most the whole Get may take in seconds, connecting and redirects included, on top of the
  // stall time-out; 0: no bound.
  long deadlineSeconds = 0;
};

// What a Get that failed ran into, in plain English, for a line of detail under the failure.
struct HttpFailure {
  std::string url;      // the URL last asked for, redirects followed
  long httpStatus = 0;  // the final status when it was the reason; 0 otherwise
  std::string reason;   // what went wrong: the HTTP layer's words, or ours
};

// One HTTP download: a GET of one http or https URL with our request headers into a sink,
// synchronous on the caller's thread. Only a 200 is taken (and the 206 of a resumed request);
// redirects to http or https URLs are followed, but never from https back to http; a body that
// comes gzip- or deflate-encoded is decoded in steps of a few dozen KiB, each written before the
// next is made, another encoding refused. Certificates are always verified, host name included,
// against the system's roots or those of SetTrustedRootsFile (transfer_library.h). Revocation:
// libcurl asks no list or responder; WinInet checks as Windows is set to with the system's roots,
// and with a file's refuses a certificate that a list it names has revoked (one whose status can't
// be learnt is taken). Connections are kept for later downloads to the same server (shared by
// every object). One Get at a time per object.
class HttpDownload {
 public:
  virtual ~HttpDownload() = default;
  // TransferOk, or UrlParseFailed (not an http or https URL; before any connection),
  // RedirectFailed (a redirect from https to http), TlsFailed (the certificate was refused, or TLS
  // itself failed), ServerRefused (the HTTP layer failed, the body broke off, has another length
  // than required or grew beyond maxBytes, came in an unknown encoding, or the deadline passed),
  // FileRequestFailed (a status other than 200, or a 206 that does not continue the kept part;
  // the sink is not opened), LocalFileCreateFailed (the sink failed) or Cancelled (progress
  // stopped it).
  virtual int Get(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress) = 0;

  // What the last Get ran into when it did not end with TransferOk; empty after a success.
  const HttpFailure& LastFailure() const { return failure_; }

 protected:
  HttpFailure failure_;
};

// The implementation this build was made with.
std::unique_ptr<HttpDownload> NewHttpDownload();

// Closes the connections that finished downloads keep open for the next ones. Called when the
// HTTP layer shuts down; no download may be running.
void CloseKeptConnections();
