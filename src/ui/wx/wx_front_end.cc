#include "ui/wx/wx_front_end.h"

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdlib>

#include "platform/launch.h"
#include "ui/wx/update_window_run.h"

namespace {

// Sets an environment variable that is not set already, for as long as it lives; then takes it
// away again, so that programs started later do not inherit it. Window's thread, before any
// other thread could read the environment.
class TemporaryEnvironment {
 public:
  TemporaryEnvironment(const char* name, const char* value) : name_(name) {
    if (std::getenv(name) == nullptr) {
      set_ = ::setenv(name, value, 0) == 0;
    }
  }
  ~TemporaryEnvironment() {
    if (set_) {
      ::unsetenv(name_);
    }
  }
  TemporaryEnvironment(const TemporaryEnvironment&) = delete;
  TemporaryEnvironment& operator=(const TemporaryEnvironment&) = delete;

 private:
  const char* name_;
  bool set_ = false;
};

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
    // The window draws nothing with OpenGL, but the toolkit would load the GL driver while it
    // opens the display (with a software renderer, a whole compiler): tens of MiB for nothing.
    // The toolkit reads the setting only while it starts.
    TemporaryEnvironment noGl("GDK_GL", "disable");
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
