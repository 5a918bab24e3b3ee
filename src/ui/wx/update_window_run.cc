#include "ui/wx/update_window_run.h"

#include <wx/app.h>
#include <wx/toplevel.h>

#include <csignal>
#include <memory>

#include "ui/update_dialog.h"
#include "ui/wx/update_window.h"
#include "ui/wx/window_message_target.h"

namespace {

// Hands what the window hears on to the update logic while it is attached. Window's thread.
class DriverEvents : public UpdateView::Listener {
 public:
  void Attach(UpdateDialog* dialog) { dialog_ = dialog; }
  void OnTimer(unsigned id) override {
    if (dialog_) {
      dialog_->OnTimer(id);
    }
  }
  void OnServerChosen(size_t index) override {
    if (dialog_) {
      dialog_->OnServerChosen(index);
    }
  }
  void OnUpdateNow() override {
    if (dialog_) {
      dialog_->OnUpdateNow();
    }
  }
  void OnClose() override {
    if (dialog_) {
      dialog_->OnClose();
    }
  }

 private:
  UpdateDialog* dialog_ = nullptr;
};

// Ctrl-C or a polite kill closes the window as its close box does, so that the running transfer
// is cancelled and joined rather than the process dying in the middle of a write.
// The toolkit calls this from its loop, not in the signal's context.
void CloseUpdateWindows(int) {
  for (wxWindow* top : wxTopLevelWindows) {
    if (auto* window = dynamic_cast<UpdateWindow*>(top)) {
      window->EndDialog();
    }
  }
}

// Routes the two signals to CloseUpdateWindows while it lives. Window's thread.
class SignalsCloseWindow {
 public:
  SignalsCloseWindow() {
    for (int signal : kSignals) {
      wxTheApp->SetSignalHandler(signal, &CloseUpdateWindows);
    }
  }
  ~SignalsCloseWindow() {
    for (int signal : kSignals) {
      wxTheApp->SetSignalHandler(signal, SIG_DFL);
    }
  }
  SignalsCloseWindow(const SignalsCloseWindow&) = delete;
  SignalsCloseWindow& operator=(const SignalsCloseWindow&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM};
};

}  // namespace

int RunUpdateWindow(const UpdateSettings& settings, Launcher& launcher) {
  SignalsCloseWindow signals;
  DriverEvents events;
  UpdateDialog* receiver = nullptr;
  WindowMessageTarget target([&receiver](const PostedMessage& message, size_t copies) {
    if (receiver) {
      receiver->Dispatch(message, copies);
    }
  });
  auto window = std::make_unique<UpdateWindow>(events);
  auto dialog = std::make_unique<UpdateDialog>(*window, target, settings, launcher);
  receiver = dialog.get();
  events.Attach(dialog.get());

  if (dialog->OnInitDialog()) {
    window->ShowModal();
  }

  // Nothing may reach the update logic from here on; the tray icon goes, and destroying the
  // logic cancels and joins a running transfer before the window goes.
  target.Close();
  window->StopTimers();
  events.OnClose();
  events.Attach(nullptr);
  receiver = nullptr;
  window->RemoveTrayIcon();
  const int status = dialog->ExitStatus();
  dialog.reset();
  window.reset();
  return status;
}
