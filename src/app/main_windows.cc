// The Lodestar executable on Windows: starts the HTTP layer, reads the configuration beside the
// executable and runs the update dialog.

#include <windows.h>

#include "app/update_app.h"
#include "platform/launch.h"
#include "transfer/transfer_library.h"
#include "ui/win32/win32_front_end.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Win32Session session;
  if (!InitializeTransfers()) {
    ShowTransfersFailed();
    return 1;
  }
  UpdateApp app;
  const UpdateSettings settings = app.StartUp();

  const int status = RunUpdateDialogWindow(settings, SystemLauncher());
  ShutdownTransfers();
  return status;
}
