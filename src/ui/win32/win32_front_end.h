#pragma once

#include <string>

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

// Says in a message box that the HTTP layer could not be started. Main thread.
void ShowTransfersFailed();

// Runs one update dialog from the resource template, modally; returns when the dialog has ended
// and its transfers are joined: the dialog's exit status. Main thread.
int RunUpdateDialogWindow(const UpdateSettings& settings, Launcher& launcher);

// Where Lodestar --check writes its lines on Windows: to the file, pipe or console its standard
// output already is; else to the console of the program that started it; else, without any
// console, into one message box shown by Finish. Main thread.
class CheckReport {
 public:
  CheckReport();
  CheckReport(const CheckReport&) = delete;
  CheckReport& operator=(const CheckReport&) = delete;

  void Print(const std::string& line);
  // Shows the message box when the lines went nowhere else.
  void Finish();

 private:
  void* out_ = nullptr;  // the output's handle; null: the lines are collected
  bool console_ = false;
  std::string collected_;
};
