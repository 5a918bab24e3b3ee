#include "transfer/inet_file.h"

#include <cstdio>
#include <memory>
#include <string>

#include "base/install_names.h"
#include "platform/file_system.h"
#include "transfer/file_sink.h"
#include "transfer/http_download.h"
#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"

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
