#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <string>

#include "base/install_names.h"
#include "support/temp_dir.h"
#include "transfer/inet_file.h"
#include "transfer/messages.h"
#include "transfer/transfer_error.h"
#include "ui/transfer_job.h"

// Stands in for the workers: records each transfer the run starts, and plays it on the test
// thread when asked, as a worker would: the body where the transfer writes it, a progress
// message per 1024-byte chunk (copies in one), the end. What a worker checks on its own (lengths,
// hashes) is not played: those tests use the real transfer. Test thread only.
class FakeTransfers : public TransferStarter {
 public:
  // The body at url; false for none (a 404).
  using Answer = std::function<bool(const std::string& url, std::string& body)>;
  // Hands a message to the dialog, with copies as MessageQueue::Deliver would.
  using Deliver = std::function<void(const PostedMessage&, size_t copies)>;

  bool Start(CInetFile& transfer) override {
    if (refuse && refuse(transfer)) {
      return false;
    }
    ++transfer.startCount;
    running.push_back(&transfer);
    return true;
  }

  // Plays the oldest transfer started to its end; false when none runs.
  bool FinishNext(const Answer& answer, const Deliver& deliver) {
    if (running.empty()) {
      return false;
    }
    CInetFile& transfer = *running.front();
    running.pop_front();
    std::string body;
    if (!answer(transfer.url, body)) {
      transfer.errorText = ErrorTextFor(FileRequestFailed);
      Post(deliver, transfer, WM_TRANSFER_DONE, FileRequestFailed, 1);
      return true;
    }
    WriteFileBytes(
        transfer.kind == KindFile ? UpdatePathOf(transfer.localPath) : transfer.localPath, body);
    transfer.bytesReceived = body.size();
    if (body.size() >= 1024) {
      Post(deliver, transfer, WM_TRANSFER_PROGRESS, 1024, body.size() / 1024);
    }
    if (body.size() % 1024 != 0) {
      Post(deliver, transfer, WM_TRANSFER_PROGRESS, body.size() % 1024, 1);
    }
    Post(deliver, transfer, WM_TRANSFER_DONE, TransferOk, 1);
    return true;
  }

  // A transfer it refuses to start (as when no thread can be made).
  std::function<bool(const CInetFile&)> refuse;
  std::deque<CInetFile*> running;

 private:
  static void Post(const Deliver& deliver, CInetFile& transfer, unsigned message, uint32_t low,
                   size_t copies) {
    deliver(PostedMessage{message, MakeTransferWParam(transfer.kind, low), &transfer}, copies);
  }
};
