// The Lodestar executable: reads the configuration beside the executable, starts the HTTP layer
// and runs the update dialog in a window where there is a display, else in the terminal; with
// --check, only says what a run would do.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/check_command.h"
#include "app/update_app.h"
#include "texts/texts.h"
#include "transfer/transfer_library.h"
#include "ui/terminal/terminal_front_end.h"
#include "ui/terminal/terminal_view.h"
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
  const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  // The configuration first: it chooses the language of everything said from here on.
  UpdateApp app;
  const UpdateSettings settings =
      app.StartUp(check ? UpdateApp::StartUpMode::kCheck : UpdateApp::StartUpMode::kRun);
  if (!InitializeTransfers()) {
    std::fprintf(stderr, "%s\n", Text(TextId::kSocketsFailed));
    return 1;
  }

  int status = -1;
  if (check) {
    status = RunCheck(app, settings, [](const std::string& text) {
      // Names from a server list cannot steer the terminal.
      const std::string line = TerminalText(text);
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    });
  }
#if LODESTAR_WITH_WX
  if (status == -1 && HasDisplay()) {
    status = RunWxFrontEnd(argc, argv, settings);  // -1: the display cannot be opened
  }
#else
  (void)HasDisplay;
#endif
  if (status == -1) {
    status = RunTerminalFrontEnd(settings);
  }
  ShutdownTransfers();
  return status;
}
