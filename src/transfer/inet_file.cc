#include "transfer/inet_file.h"

#include <memory>
#include <string>

#include "transfer/file_sink.h"
#include "transfer/http_download.h"
#include "transfer/transfer_error.h"

namespace {

// A run's progress as the window hears it: one message per chunk; the cancel flag stops it.
class TaskProgress final : public DownloadProgress {
 public:
  explicit TaskProgress(CInetFile& task) : task_(task) {}

  bool OnChunk(uint32_t chunkBytes, uint64_t received) override {
    task_.bytesReceived.store(received, std::memory_order_relaxed);
    if (task_.notifyWindow) {
      task_.notifyWindow->Post(WM_TRANSFER_PROGRESS, MakeTransferWParam(task_.kind, chunkBytes),
                               &task_);
    }
    return !StopRequested();
  }

  bool StopRequested() override { return task_.cancel.load(std::memory_order_relaxed); }

 private:
  CInetFile& task_;
};

// The codes whose text the window shows from errorText.
bool SetsErrorText(int code) {
  return code == UrlParseFailed || code == FileRequestFailed || code == LocalFileCreateFailed;
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

void CInetFile::RaiseError(int code) {
  NoteError(code);
  throw CInetFileException(code);
}

void CInetFile::NoteError(int code) {
  if (SetsErrorText(code))
    errorText = ErrorTextFor(code);
}

int CInetFile::Download() {
  bytesReceived.store(0, std::memory_order_relaxed);
  HttpRequest request;
  request.url = url;
  // An application file must arrive at the length its manifest gives: exactly when that is
  // required, at least otherwise.
  if (kind == KindFile || sizeRequired)
    request.expectedSize = expectedSize;
  request.exactSize = sizeRequired;
  FileSink sink(kind == KindFile ? localPath + ".update" : localPath);
  TaskProgress progress(*this);
  return NewHttpDownload()->Get(request, sink, progress);
}

void CInetFile::Run() {
  int result = ServerRefused;
  try {
    result = Download();
    NoteError(result);
  } catch (const CInetFileException& e) {
    result = e.code;
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
