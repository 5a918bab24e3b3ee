// Whole update runs in the real window against a loopback server, with a test pilot acting in
// the window's loop as the user would.
#include "ui/wx/update_window_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/manifest_text.h"
#include "support/recording_launcher.h"
#include "support/served_release.h"
#include "support/temp_dir.h"
#include "support/transfer_environment.h"
#include "ui/wx/update_window.h"
#include "wx_test_loop.h"

static auto* const kTransfers = testing::AddGlobalTestEnvironment(new TransferEnvironment);

namespace {

// Looks at the open update window every few milliseconds and lets the test act on it; ends the
// dialog itself after a time limit so that a stuck run fails instead of hanging. Runs in the
// window's loop, on the test's thread.
class Pilot {
 public:
  using Step = std::function<void(UpdateWindow&)>;

  explicit Pilot(Step step) : step_(std::move(step)) {
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
    timer_.Start(20);
    start_ = std::chrono::steady_clock::now();
  }
  ~Pilot() { timer_.Stop(); }
  bool timedOut = false;

 private:
  void Tick() {
    for (wxWindow* top : wxTopLevelWindows) {
      auto* window = dynamic_cast<UpdateWindow*>(top);
      if (window == nullptr || !window->IsModal()) {
        continue;
      }
      if (std::chrono::steady_clock::now() - start_ > std::chrono::seconds(30)) {
        timedOut = true;
        window->EndDialog();
        return;
      }
      step_(*window);
    }
  }

  Step step_;
  wxTimer timer_;
  std::chrono::steady_clock::time_point start_;
};

class UpdateWindowRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMPDIR", work_.path().c_str(), 1);
    manifest_ = ManifestText({{"/readme.txt", 8, 2}, {"bin/data.pak", 307200, 2}});
    const std::map<std::string, std::string> files = {
        {"readme.txt", "read me\n"}, {"bin/data.pak", std::string(300 * 1024, 'x')}};
    ServeRelease(server_, "/main", work_.File("published"), files, manifest_);
    server_.ServeDirectory("/mirror", work_.File("published"));
    server_.SetBody("/servers.txt",
                    "Main|" + server_.Url("/main") + "\nA mirror|" + server_.Url("/mirror") + "\n");
  }
  void TearDown() override { ::unsetenv("TMPDIR"); }

  UpdateSettings Settings(bool automatic) const {
    UpdateSettings settings;
    settings.serverlist = server_.Url("/servers.txt");
    settings.automatic = automatic;
    settings.exec = "app";
    settings.param = "--updated";
    settings.moduleDirectory = app_.path() + "/";
    return settings;
  }

  void ExpectInstalled() {
    EXPECT_EQ(ReadFileBytes(app_.File("readme.txt")), "read me\n");
    EXPECT_EQ(ReadFileBytes(app_.File("bin/data.pak")).size(), 300u * 1024u);
    EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest_);
    ASSERT_EQ(launcher_.launches.size(), 1u);
    EXPECT_EQ(launcher_.launches[0].first, app_.path() + "//app");
    EXPECT_EQ(launcher_.launches[0].second, "--updated");
  }

  TempDir work_;
  TempDir app_;
  LoopbackHttpServer server_;
  RecordingLauncher launcher_;
  std::string manifest_;
};

TEST_F(UpdateWindowRunTest, AutomaticRunGoesToTheEndAndLaunchesTheProgram) {
  Pilot pilot([](UpdateWindow&) {});
  EXPECT_EQ(RunUpdateWindow(Settings(true), launcher_), 0);
  EXPECT_FALSE(pilot.timedOut);
  ExpectInstalled();
}

TEST_F(UpdateWindowRunTest, UserPicksAServerAndPressesUpdateNow) {
  std::vector<std::string> shown;
  std::string selected;
  bool pressed = false;
  Pilot pilot([&](UpdateWindow& window) {
    auto* combo = dynamic_cast<wxComboBox*>(window.FindWindow(kIdServerCombo));
    auto* button = dynamic_cast<wxButton*>(window.FindWindow(kIdUpdateNow));
    if (pressed || combo->GetCount() == 0 || !button->IsEnabled()) {
      return;
    }
    for (unsigned i = 0; i < combo->GetCount(); ++i) {
      shown.push_back(Utf8Text(combo->GetString(i)));
    }
    selected = Utf8Text(combo->GetStringSelection());
    combo->SetSelection(combo->FindString("Main"));
    wxCommandEvent picked(wxEVT_COMBOBOX, kIdServerCombo);  // as the user's pick sends it
    picked.SetEventObject(combo);
    combo->ProcessWindowEvent(picked);
    pressed = true;
    wxCommandEvent click(wxEVT_BUTTON, kIdUpdateNow);
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
  });
  EXPECT_EQ(RunUpdateWindow(Settings(false), launcher_), 0);
  EXPECT_FALSE(pilot.timedOut);
  EXPECT_EQ(shown, (std::vector<std::string>{"A mirror", "Main"}));
  EXPECT_EQ(selected, "A mirror");  // the last line of the list
  ExpectInstalled();
  bool fromMain = false;
  for (const auto& request : server_.Requests()) {
    fromMain = fromMain || request.path == "/main/version.txt";
  }
  EXPECT_TRUE(fromMain);
}

TEST_F(UpdateWindowRunTest, ClosingDuringATransferCancelsItAndReportsNoFinishedRun) {
  server_.SetStalled("/main/bin/data.pak.txt", std::string(300 * 1024, 'x'), 64 * 1024);
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/main") + "\n");
  Pilot pilot([&](UpdateWindow& window) {
    if (server_.WaitForStalls(1, std::chrono::milliseconds(0))) {
      wxCloseEvent close(wxEVT_CLOSE_WINDOW, window.GetId());
      close.SetEventObject(&window);
      window.ProcessWindowEvent(close);
    }
  });
  EXPECT_EQ(RunUpdateWindow(Settings(true), launcher_), 1);
  EXPECT_FALSE(pilot.timedOut);
  EXPECT_TRUE(launcher_.launches.empty());
  EXPECT_FALSE(FileExists(app_.File("version.txt")));
  EXPECT_FALSE(FileExists(app_.File("bin/data.pak")));
}

TEST_F(UpdateWindowRunTest, InterruptClosesTheWindowLikeItsCloseBox) {
  server_.SetStalled("/main/bin/data.pak.txt", std::string(300 * 1024, 'x'), 64 * 1024);
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/main") + "\n");
  bool raised = false;
  Pilot pilot([&](UpdateWindow&) {
    if (!raised && server_.WaitForStalls(1, std::chrono::milliseconds(0))) {
      raised = true;
      std::raise(SIGINT);
    }
  });
  EXPECT_EQ(RunUpdateWindow(Settings(true), launcher_), 1);
  EXPECT_FALSE(pilot.timedOut);
  EXPECT_TRUE(raised);
  EXPECT_TRUE(launcher_.launches.empty());
  EXPECT_FALSE(FileExists(app_.File("version.txt")));
  EXPECT_FALSE(FileExists(app_.File("bin/data.pak")));
}

TEST_F(UpdateWindowRunTest, AutomaticRunWhoseProgramCannotStartEndsWithStatusOne) {
  Pilot pilot([](UpdateWindow&) {});
  launcher_.failWith = "No such file or directory";
  EXPECT_EQ(RunUpdateWindow(Settings(true), launcher_), 1);
  EXPECT_FALSE(pilot.timedOut);
  ExpectInstalled();
}

// A configuration that stops the run says why in a message box; then the program ends without
// a window.
TEST_F(UpdateWindowRunTest, EmptyServerListEndsAtOnceWithoutAWindow) {
  class DismissingHook : public wxModalDialogHook {
   public:
    std::vector<std::string> messages;

   protected:
    int Enter(wxDialog* dialog) override {
      if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        messages.push_back(Utf8Text(box->GetMessage()));
        return wxID_OK;
      }
      return wxID_NONE;
    }
    void Exit(wxDialog*) override {}
  } hook;
  hook.Register();
  bool windowSeen = false;
  Pilot pilot([&](UpdateWindow&) { windowSeen = true; });
  UpdateSettings settings = Settings(true);
  settings.serverlist.clear();
  EXPECT_EQ(RunUpdateWindow(settings, launcher_), 1);
  settings.configurationNotes = {"a", "b"};
  settings.configurationStops = true;
  EXPECT_EQ(RunUpdateWindow(settings, launcher_), 1);
  hook.Unregister();
  EXPECT_EQ(hook.messages, std::vector<std::string>{"a\nb"});
  EXPECT_FALSE(windowSeen);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

}  // namespace
