// The Lodestar executable: starts the HTTP layer, reads the configuration beside the executable
// and runs the update dialog in a window where there is a display, else in the terminal.

#include <cstdio>
#include <cstdlib>

#include "app/update_app.h"
#include "transfer/transfer_library.h"
#include "ui/terminal/terminal_front_end.h"
#if LODESTAR_WITH_WX
#include "ui/wx/wx_front_end.h"
#endif

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InitializeTransfers()) {
    std::fputs("Windows 套接字初始化失败。\n", stderr);
    return 1;
  }
  UpdateApp app;
  const UpdateSettings settings = app.StartUp();

  int status = -1;
#if LODESTAR_WITH_WX
  if (HasDisplay()) {
    status = RunWxFrontEnd(argc, argv, settings);  // -1: the display cannot be opened
  }
#else
  (void)argc;
  (void)argv;
  (void)HasDisplay;
#endif
  if (status == -1) {
    status = RunTerminalFrontEnd(settings);
  }
  ShutdownTransfers();
  return status;
}
