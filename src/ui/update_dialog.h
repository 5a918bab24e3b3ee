#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/launch.h"
#include "transfer/messages.h"
#include "ui/update_settings.h"
#include "ui/update_view.h"

class CInetFile;

// The only window's logic and the owner of an update run's state: the server list, the
// manifest, the file tasks. Toolkit-free; it draws through UpdateView. Window's thread only:
// the front end's loop calls the handlers and Dispatch for each posted message.
class UpdateDialog {
 public:
  // notifyWindow receives the workers' messages; it must outlive the dialog.
  UpdateDialog(UpdateView& view, MessageTarget& notifyWindow, UpdateSettings settings,
               Launcher& launcher);
  // Deletes every queued task; a running one is cancelled and joined.
  virtual ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // False when the program is to end at once (empty serverlist).
  bool OnInitDialog();
  void OnTimer(unsigned id);
  long OnTransferProgress(uint32_t wParam, CInetFile* lParam);
  long OnTransferDone(uint32_t wParam, CInetFile* lParam);
  void OnUpdateNow();
  // Routes WM_TRANSFER_PROGRESS and WM_TRANSFER_DONE to their handlers; ignores the rest.
  void Dispatch(const PostedMessage& message);
  // Removes the tray icon; runs whenever the dialog ends.
  void DestroyWindow();

  // True once FinishRun ended the dialog: the process exits with status 0.
  bool RunFinished() const;
  // True while the user is expected to act: the controls are enabled and nothing is queued.
  bool WaitingForUser();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
