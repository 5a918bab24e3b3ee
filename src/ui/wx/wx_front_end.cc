#include "ui/wx/wx_front_end.h"

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include "platform/launch.h"
#include "ui/wx/update_window_run.h"

namespace {

// The toolkit's application object. The program has no command line of its own, so start-up
// takes none either. Window's thread.
class LodestarApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

int RunWxFrontEnd(int argc, char** argv, const UpdateSettings& settings) {
  char name[] = "Lodestar";
  char* fallbackArgv[] = {name, nullptr};
  if (argc < 1 || argv == nullptr) {
    argc = 1;
    argv = fallbackArgv;
  }

  wxApp::SetInstance(new LodestarApp);
  bool started = false;
  {
    // A display that cannot be opened is no error here: the caller falls back to the terminal.
    wxLogNull quiet;
    started = wxEntryStart(argc, argv);
  }
  if (!started) {
    return -1;
  }
  wxTheApp->SetAppName("Lodestar");

  int status = 1;
  if (wxTheApp->CallOnInit()) {
    status = RunUpdateWindow(settings, SystemLauncher());
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return status;
}
