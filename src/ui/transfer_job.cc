#include "ui/transfer_job.h"

#include "transfer/inet_file.h"
#include "ui/disk_interface.h"

namespace {

// Each transfer on a worker thread of its own. Stateless; window's thread.
class WorkerStarter final : public TransferStarter {
 public:
  bool Start(CInetFile& transfer) override { return transfer.StartTransfer(); }
};

}  // namespace

TransferStarter& RealStarter() {
  static WorkerStarter starter;
  return starter;
}

TransferJob::TransferJob(std::unique_ptr<CInetFile> transfer, TransferStarter& starter)
    : transfer_(std::move(transfer)), starter_(starter) {}

TransferJob::~TransferJob() {
  const std::string path = transfer_->localPath;
  transfer_.reset();  // its worker is gone before its file is
  if (temporaryDisk_ != nullptr && !path.empty()) {
    temporaryDisk_->Remove(path);
  }
}

bool TransferJob::RunsAlone() const {
  return transfer_->kind != KindFile;
}

bool TransferJob::Start() {
  return starter_.Start(*transfer_);
}

void TransferJob::Cancel() {
  transfer_->cancel = true;
}

void TransferJob::Release() {
  transfer_->Join();
}

void TransferJob::Arrived(uint32_t code) {
  if (arrived_) {
    arrived_(code);
  }
}
