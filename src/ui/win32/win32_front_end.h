#pragma once

#include "platform/launch.h"
#include "ui/update_settings.h"

// The process's use of the Windows user interface: the common controls and the component library
// for as long as it lives. One on the main thread, made first.
class Win32Session {
 public:
  Win32Session();
  ~Win32Session();
  Win32Session(const Win32Session&) = delete;
  Win32Session& operator=(const Win32Session&) = delete;

 private:
  bool comStarted_ = false;
};

// Says in a message box that the HTTP layer could not be started (the string resource that
// tells it). Main thread.
void ShowTransfersFailed();

// Runs one update dialog from the resource template, modally; returns when the dialog has ended
// and its transfers are joined. 0 after a finished run, 1 otherwise. Main thread.
int RunUpdateDialogWindow(const UpdateSettings& settings, Launcher& launcher);
