#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>

#include "transfer/messages.h"
#include "ui/disk_interface.h"
#include "ui/installation_store.h"
#include "ui/task_scheduler.h"
#include "ui/transfer_job.h"
#include "ui/update_run.h"
#include "ui/update_settings.h"
#include "ui/update_view.h"

class CInetFile;
class Launcher;

// The only window's logic: hears the front end (the user, the timer, the workers' messages) and
// hands each on to its part: the run (the steps in their order), the scheduler (which transfer
// runs when) and the installation store (what lives beside the application). Toolkit-free; it
// draws through UpdateView. Window's thread only: the front end's loop calls the handlers and
// Dispatch for each posted message.
class UpdateDialog : public UpdateView::Listener {
 public:
  static constexpr unsigned kTimerId = UpdateView::kTimerId;
  static constexpr unsigned kTimerPeriodMs = UpdateRun::kTimerPeriodMs;

  // notifyWindow receives the workers' messages; it must outlive the dialog. starter and disk
  // are the run's way to the network and the disk; tests put fakes there.
  UpdateDialog(UpdateView& view, MessageTarget& notifyWindow, UpdateSettings settings,
               Launcher& launcher, TransferStarter& starter = RealStarter(),
               DiskInterface& disk = RealDisk());
  // Deletes every task (the running ones are cancelled and joined, temporary files removed); what
  // arrived stays under its ".update" name.
  ~UpdateDialog() override;
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // False when the program is to end at once (empty serverlist).
  bool OnInitDialog();
  void OnTimer(unsigned id) override;
  void OnServerChosen(size_t index) override;
  void OnUpdateNow() override;
  void OnClose() override;
  // Handles copies of one progress message as if each had come alone.
  long OnTransferProgress(uint32_t wParam, CInetFile* lParam, size_t copies = 1);
  long OnTransferDone(uint32_t wParam, CInetFile* lParam);
  // Routes WM_TRANSFER_PROGRESS and WM_TRANSFER_DONE to their handlers; ignores the rest, and
  // any message whose task is not running. copies: the same message posted that many times in a
  // row.
  void Dispatch(const PostedMessage& message, size_t copies = 1);

  // True once the run finished and ended the dialog.
  bool RunFinished() const { return run_.Finished(); }
  // The process's exit status once the dialog has ended: 0 after a finished run (a check: one
  // that would work) whose program started, 1 otherwise.
  int ExitStatus() const { return run_.ExitStatus(); }
  // True while the user is expected to act: the choice is enabled and nothing is queued.
  bool WaitingForUser() const;
  // True when the configuration forbids any update: nothing will happen until the window closes.
  bool Halted() const { return run_.Halted(); }

  // The local time that log lines are stamped with; tests fix it.
  void SetClock(std::function<std::tm()> clock) { run_.SetClock(std::move(clock)); }
  // The seconds since 1970 that signatures are judged by for expiry; tests fix them.
  void SetSecondsClock(std::function<int64_t()> clock) { run_.SetSecondsClock(std::move(clock)); }

 private:
  const UpdateSettings settings_;
  InstallationStore store_;
  UpdateRun run_;
  // Last, so that it is destroyed first: its transfers are cancelled and joined while the run
  // their steps belong to still stands.
  TaskScheduler scheduler_;
  bool closed_ = false;
};
