#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/task_scheduler.h"

class CInetFile;
class DiskInterface;

// Starts the run's transfers: a worker for each in the program (RealStarter), a record of them
// in tests, which then play the worker's messages themselves. Window's thread.
class TransferStarter {
 public:
  virtual ~TransferStarter() = default;
  // True when the transfer runs now and will post its end.
  virtual bool Start(CInetFile& transfer) = 0;
};

// Starts each transfer on a worker thread of its own.
TransferStarter& RealStarter();

// One transfer of the run and the step that takes its end: the scheduler starts it, its worker's
// messages name it by its CInetFile, and its end goes to the step it was made with. A text (the
// server list, the manifest, its signature) arrives in a temporary file of its own, deleted with
// the job. Window's thread; the transfer's body runs on a worker.
class TransferJob : public ScheduledTask {
 public:
  using Step = std::function<void(uint32_t code)>;

  TransferJob(std::unique_ptr<CInetFile> transfer, TransferStarter& starter);
  // Cancels and waits for a running transfer, then deletes a temporary file.
  ~TransferJob() override;

  // The step of the run that takes this job's end.
  void OnArrival(Step step) { arrived_ = std::move(step); }
  // The transfer writes into a temporary file that goes with the job.
  void OwnTemporaryFile(DiskInterface& disk) { temporaryDisk_ = &disk; }

  CInetFile& transfer() { return *transfer_; }
  const CInetFile& transfer() const { return *transfer_; }

  const void* Key() const override { return transfer_.get(); }
  bool RunsAlone() const override;
  bool Start() override;
  void Cancel() override;
  void Release() override;
  void Arrived(uint32_t code) override;

 private:
  std::unique_ptr<CInetFile> transfer_;
  TransferStarter& starter_;
  Step arrived_;
  DiskInterface* temporaryDisk_ = nullptr;
};
