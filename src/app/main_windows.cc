// The Lodestar executable on Windows: reads the configuration beside the executable, starts the
// HTTP layer and runs the update dialog; with --check, only says what a run would do.

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>

#include "app/check_command.h"
#include "app/update_app.h"
#include "platform/launch.h"
#include "transfer/transfer_library.h"
#include "ui/win32/win32_front_end.h"

namespace {

// Whether the command line asks for --check (its first argument).
bool CheckAsked() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const bool check = arguments != nullptr && count > 1 && std::wstring(arguments[1]) == L"--check";
  LocalFree(arguments);
  return check;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Win32Session session;
  const bool check = CheckAsked();
  // The configuration first: it chooses the language of everything said from here on.
  UpdateApp app;
  const UpdateSettings settings =
      app.StartUp(check ? UpdateApp::StartUpMode::kCheck : UpdateApp::StartUpMode::kRun);
  if (!InitializeTransfers()) {
    ShowTransfersFailed();
    return 1;
  }
  int status = 1;
  if (check) {
    CheckReport report;
    status = RunCheck(app, settings, [&report](const std::string& line) { report.Print(line); });
    report.Finish();
  } else {
    status = RunUpdateDialogWindow(settings, SystemLauncher());
  }
  ShutdownTransfers();
  return status;
}
