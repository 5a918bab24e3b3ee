#include "transfer/inet_file.h"

#include <cstdio>
#include <memory>
#include <string>

#include "base/install_names.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/mapped_file.h"
#include "transfer/file_sink.h"
#include "transfer/http_download.h"
#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"
#include "transfer/zstd_body.h"

namespace {

// A run's progress as the window hears it: one message per chunk; the cancel flag stops it. Bytes
// an earlier run kept count as arrived: a file's share of the run is all of it once it is whole.
class TaskProgress final : public DownloadProgress {
 public:
  explicit TaskProgress(CInetFile& task) : task_(task) {}

  void OnChunks(uint32_t chunkBytes, size_t copies, uint64_t received) override {
    task_.bytesReceived.store(received, std::memory_order_relaxed);
    const uint64_t body = static_cast<uint64_t>(chunkBytes) * copies;
    // A continued body's first chunks arrive on top of the kept part, which was never posted.
    if (received > posted_ + body) {
      Post(received - body - posted_);
    }
    PostChunks(chunkBytes, copies);
    posted_ = received;
  }

  // A kept file or part of bytes counts as arrived.
  void Kept(uint64_t bytes) {
    task_.bytesReceived.store(bytes, std::memory_order_relaxed);
    Post(bytes);
    posted_ = bytes;
  }

  bool StopRequested() override { return task_.cancel.load(std::memory_order_relaxed); }

 private:
  // bytes as the chunks of at most kChunk bytes they would have arrived in.
  void Post(uint64_t bytes) {
    PostChunks(kChunk, static_cast<size_t>(bytes / kChunk));
    PostChunks(static_cast<uint32_t>(bytes % kChunk), 1);
  }

  void PostChunks(uint32_t chunkBytes, size_t copies) {
    if (task_.notifyWindow && chunkBytes > 0 && copies > 0) {
      task_.notifyWindow->Post(WM_TRANSFER_PROGRESS, MakeTransferWParam(task_.kind, chunkBytes),
                               &task_, copies);
    }
  }

  static constexpr uint32_t kChunk = 1024;
  CInetFile& task_;
  uint64_t posted_ = 0;  // of what this fetch received, the bytes posted
};

// A frame's progress on the wire: the window hears the decoded bytes instead (ZstdBody), so only
// the stop is passed on.
class WireProgress final : public DownloadProgress {
 public:
  explicit WireProgress(DownloadProgress& decoded) : decoded_(decoded) {}
  void OnChunks(uint32_t, size_t, uint64_t) override {}
  bool StopRequested() override { return decoded_.StopRequested(); }

 private:
  DownloadProgress& decoded_;
};

std::string HashOf(std::string_view bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.HexDigest();
}

// The codes whose text the window shows from errorText.
bool SetsErrorText(int code) {
  return code == UrlParseFailed || code == RedirectFailed || code == FileRequestFailed ||
         code == LocalFileCreateFailed || code == FileVerifyFailed || code == TlsFailed;
}

// The length of the regular file an earlier run left at path itself (no link to one), -1 for
// none.
int64_t KeptLength(const std::string& path) {
  int64_t kept = -1;
  return ProbeKeptFileSize(path, kept) ? kept : -1;
}

// True when the file at path is whole: hash is the SHA-256 of its first length bytes.
bool AlreadyWhole(const std::string& path, uint64_t length, const std::string& hash) {
  FileSink sink(path, true);
  if (!sink.Open(length)) {
    return false;
  }
  return sink.Close() && sink.Digest() == hash;
}

}  // namespace

CInetFile::CInetFile() : errorText(ErrorTextFor(TransferOk)) {}

CInetFile::~CInetFile() {
  cancel = true;
  Join();
}

bool CInetFile::StartTransfer() {
  ++startCount;
  Join();
  cancel = false;
  return Start();
}

void CInetFile::NoteError(int code) {
  if (SetsErrorText(code)) {
    errorText = ErrorTextFor(code);
  }
}

int CInetFile::Download() {
  const bool verified = kind == KindFile && !terms.sha256.empty();
  if (kind == KindFile && terms.hashRequired && !verified) {
    return FileVerifyFailed;  // nothing could tell whether its content is the one published
  }
  const std::string target = kind == KindFile ? UpdatePathOf(localPath) : localPath;
  // Without the hash a kept part of another version could not be told from one of this.
  const int64_t kept = verified && terms.exactSize ? KeptLength(target) : -1;
  // What a failed or cancelled run fetched whole is this run's without a request.
  if (kept > 0 && static_cast<uint64_t>(kept) == expectedSize &&
      AlreadyWhole(target, expectedSize, terms.sha256)) {
    TaskProgress(*this).Kept(expectedSize);
    return TransferOk;
  }
  // A longer one cannot be the start of the file, and one of the full length that is not it is
  // fetched anew.
  uint64_t resumeFrom =
      kept > 0 && static_cast<uint64_t>(kept) < expectedSize ? static_cast<uint64_t>(kept) : 0;
  if (verified && terms.exactSize) {
    bool tried = false;
    const int result = FetchSmaller(expectedSize - resumeFrom, target, tried);
    if (result == TransferOk || result == Cancelled) {
      return result;
    }
    resumeFrom = tried ? 0 : resumeFrom;
  }
  for (;;) {
    FileSink sink(target, verified);
    const int result = Fetch(resumeFrom, sink);
    if (result != TransferOk || !verified || sink.Digest() == terms.sha256) {
      return result;
    }
    DeleteFileAt(target);  // never to be installed
    if (!sink.Continued()) {
      return FileVerifyFailed;
    }
    resumeFrom = 0;  // the kept part was not this file's start: once more, whole
  }
}

int CInetFile::Fetch(uint64_t keptBytes, FileSink& sink) {
  bytesReceived.store(0, std::memory_order_relaxed);
  HttpRequest request;
  request.url = url;
  // An application file must arrive at the length its manifest gives: exactly when that is
  // required, at least otherwise.
  if (kind == KindFile || terms.exactSize) {
    request.expectedSize = expectedSize;
  }
  request.exactSize = terms.exactSize;
  request.resumeFrom = keptBytes;
  request.maxBytes = terms.maxBytes;
  request.deadlineSeconds = FetchDeadlineSeconds(terms.deadlineSeconds);
  TaskProgress progress(*this);
  const std::unique_ptr<HttpDownload> download = NewHttpDownload();
  const int result = download->Get(request, sink, progress);
  failure = download->LastFailure();
  return result;
}

int CInetFile::FetchSmaller(uint64_t missing, const std::string& target, bool& tried) {
  std::unique_ptr<MappedFile> installed;  // what a patch starts from, mapped and hashed once
  std::string installedHash;
  bool looked = false;
  for (const ZstdWay& way : terms.smallerWays) {
    if (way.length == 0 || way.length >= missing) {
      continue;
    }
    if (!way.from.empty() && !looked) {
      looked = true;
      installed = MappedFile::ForReading(localPath);
      installedHash = installed ? HashOf(installed->bytes()) : std::string();
    }
    if (!way.from.empty() && way.from != installedHash) {
      continue;
    }
    tried = true;
    const int result = FetchFrame(way, target, way.from.empty() ? "" : installed->bytes());
    if (result == TransferOk || result == Cancelled) {
      return result;
    }
    DeleteFileAt(target);  // what it left is not known to be the content's start
  }
  return FileRequestFailed;
}

int CInetFile::FetchFrame(const ZstdWay& way, const std::string& target,
                          std::string_view reference) {
  bytesReceived.store(0, std::memory_order_relaxed);
  HttpRequest request;
  request.url = way.url;
  request.expectedSize = way.length;
  request.exactSize = true;
  request.deadlineSeconds = FetchDeadlineSeconds(terms.deadlineSeconds);
  TaskProgress decoded(*this);
  WireProgress wire(decoded);
  ZstdBody body(target, expectedSize, reference, decoded);
  const int result = NewHttpDownload()->Get(request, body, wire);
  return result == TransferOk && body.Digest() != terms.sha256 ? FileVerifyFailed : result;
}

void CInetFile::Run() {
  int result = ServerRefused;
  try {
    result = Download();
    NoteError(result);
  } catch (...) {
    result = ServerRefused;  // no memory for the request
  }
  // The connection and the file are released by now; this is the run's last act on the task.
  if (notifyWindow) {
    try {
      notifyWindow->Post(WM_TRANSFER_DONE, MakeTransferWParam(kind, static_cast<uint32_t>(result)),
                         this);
    } catch (...) {
      // Nothing is left to tell it with.
    }
  }
}
