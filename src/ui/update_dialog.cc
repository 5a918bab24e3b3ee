#include "ui/update_dialog.h"

#include <utility>

#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"

UpdateDialog::UpdateDialog(UpdateView& view, MessageTarget& notifyWindow, UpdateSettings settings,
                           Launcher& launcher, TransferStarter& starter, DiskInterface& disk)
    : settings_(std::move(settings)),
      store_(settings_.moduleDirectory, disk),
      run_(settings_, UpdateRun::Seams{view, notifyWindow, launcher, starter, disk}, store_,
           scheduler_),
      scheduler_(settings_.connections, ServerRefused, run_) {}

UpdateDialog::~UpdateDialog() {
  // Closed in the middle of a run: nothing is put in place, what did arrive stays for the next.
  scheduler_.DeleteAll();
}

bool UpdateDialog::OnInitDialog() {
  if (!run_.Open()) {
    return false;
  }
  // The list is fetched at once; the timer starts whatever would be left waiting.
  scheduler_.StartQueued();
  return true;
}

void UpdateDialog::OnTimer(unsigned id) {
  if (id == kTimerId && !closed_) {
    scheduler_.StartQueued();
  }
}

void UpdateDialog::OnServerChosen(size_t index) {
  if (!closed_) {
    run_.Choose(index);
  }
}

void UpdateDialog::OnUpdateNow() {
  if (closed_) {
    return;
  }
  run_.UpdateNow();
  scheduler_.StartQueued();
}

void UpdateDialog::OnClose() {
  closed_ = true;
}

bool UpdateDialog::WaitingForUser() const {
  return run_.ChoiceEnabled() && scheduler_.Empty() && !run_.Finished();
}

void UpdateDialog::Dispatch(const PostedMessage& message, size_t copies) {
  // Only a running task is heard of; a message about anything else would name a task that is
  // gone. A worker posts its end last, so no message about a task follows its end.
  if (closed_ || scheduler_.Running(message.lParam) == nullptr) {
    return;
  }
  if (message.message == WM_TRANSFER_PROGRESS) {
    OnTransferProgress(message.wParam, message.lParam, copies);
  } else if (message.message == WM_TRANSFER_DONE) {
    OnTransferDone(message.wParam, message.lParam);
  }
}

long UpdateDialog::OnTransferProgress(uint32_t wParam, CInetFile* lParam, size_t copies) {
  if (lParam == nullptr) {
    return 0;
  }
  const ScheduledTask* job = scheduler_.Running(lParam);
  run_.ChunksArrived(*lParam, wParam, copies, job != nullptr && !scheduler_.IsHead(*job));
  return 0;
}

long UpdateDialog::OnTransferDone(uint32_t wParam, CInetFile* lParam) {
  if (ScheduledTask* job = scheduler_.Running(lParam)) {
    scheduler_.Ended(*job, LowWord(wParam));
  }
  return 0;
}
