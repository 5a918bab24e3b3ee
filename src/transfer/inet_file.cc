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

// A run's progress as the window hears it: one message per chunk; the cancel flag stops it.
class TaskProgress final : public DownloadProgress {
 public:
  explicit TaskProgress(CInetFile& task) : task_(task) {}

  void OnChunks(uint32_t chunkBytes, size_t copies, uint64_t received) override {
    task_.bytesReceived.store(received, std::memory_order_relaxed);
    if (task_.notifyWindow) {
      task_.notifyWindow->Post(WM_TRANSFER_PROGRESS, MakeTransferWParam(task_.kind, chunkBytes),
                               &task_, copies);
    }
  }

  bool StopRequested() override { return task_.cancel.load(std::memory_order_relaxed); }

 private:
  CInetFile& task_;
};

// The codes whose text the window shows from errorText.
bool SetsErrorText(int code) {
  return code == UrlParseFailed || code == FileRequestFailed || code == LocalFileCreateFailed ||
         code == FileVerifyFailed;
}

// The length of what an earlier run left at path when it can be continued towards a file of
// length bytes: a regular file standing there itself (no link to one), not empty and shorter; 0
// otherwise (a longer one cannot be the start of the file, one of the full length would be asked
// for past its end).
uint64_t ContinuableLength(const std::string& path, uint64_t length) {
  int64_t kept = 0;
  return ProbeKeptFileSize(path, kept) && static_cast<uint64_t>(kept) < length
             ? static_cast<uint64_t>(kept)
             : 0;
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
  uint64_t kept = verified && terms.exactSize ? ContinuableLength(target, expectedSize) : 0;
  for (;;) {
    FileSink sink(target, verified);
    const int result = Fetch(kept, sink);
    if (result != TransferOk || !verified || sink.Digest() == terms.sha256) {
      return result;
    }
    DeleteFileAt(target);  // never to be installed
    if (!sink.Continued()) {
      return FileVerifyFailed;
    }
    kept = 0;  // the kept part was not this file's start: once more, whole
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
  return NewHttpDownload()->Get(request, sink, progress);
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
