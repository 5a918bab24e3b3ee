#include "ui/terminal/terminal_front_end.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/launch.h"
#include "texts/texts.h"
#include "transfer/messages.h"
#include "ui/terminal/terminal_input.h"
#include "ui/terminal/terminal_view.h"
#include "ui/update_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kLongestWait(20);

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
  interrupted = 1;
}

// Catches the first Ctrl-C for the life of the front end (a second one kills at once), and puts
// the previous handling back afterwards. Made and destroyed on the window's thread.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
};

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return std::string();
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The dialog's modal loop in the terminal: the timer, the posted messages and the user's lines.
// Runs on the thread that plays the window's thread (main).
class TerminalLoop {
 public:
  TerminalLoop(UpdateDialog& dialog, TerminalView& view, MessageQueue& queue, TerminalInput& input,
               bool inputIsTerminal)
      : dialog_(dialog),
        view_(view),
        queue_(queue),
        input_(input),
        inputIsTerminal_(inputIsTerminal) {}

  void Run() {
    const std::chrono::milliseconds period(view_.TimerPeriodMs() > 0 ? view_.TimerPeriodMs() : 100);
    Clock::time_point nextTick = Clock::now() + period;
    bool wasWaiting = false;
    while (!view_.Ended() && interrupted == 0) {
      Clock::time_point now = Clock::now();
      if (view_.TimerStarted() && now >= nextTick) {
        dialog_.OnTimer(UpdateDialog::kTimerId);
        nextTick += period;
        if (nextTick <= now) {
          nextTick = now + period;  // fell behind: no burst of ticks to catch up
        }
      }
      DispatchMessages(std::min<Clock::duration>(nextTick - Clock::now(), kLongestWait));
      if (view_.Ended() || interrupted != 0) {
        break;
      }
      view_.Flush();  // show what the messages changed before the user's lines act on it
      input_.Poll(0);
      if (!HandleInput()) {
        break;  // the user closed the window
      }
      bool waiting = dialog_.WaitingForUser();
      if (waiting && !wasWaiting && inputIsTerminal_) {
        view_.Notice(Text(TextId::kTerminalHint));
      }
      wasWaiting = waiting;
      view_.Flush();
    }
    view_.Flush();
  }

 private:
  void DispatchMessages(Clock::duration wait) {
    auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(wait);
    if (!queue_.Wait(std::max(timeout, std::chrono::milliseconds(0)))) {
      return;
    }
    // The loop stops once the message that ended the dialog has been handled.
    queue_.Deliver(
        [this](const PostedMessage& message, size_t copies) {
          dialog_.Dispatch(message, copies);
          return !Stopped();
        },
        MessageQueue::kDeliverySlice);
  }

  bool Stopped() const { return view_.Ended() || interrupted != 0; }

  // Acts on the lines typed while the dialog waits for the user; false when the user closes it.
  bool HandleInput() {
    while (dialog_.WaitingForUser()) {
      std::string line;
      if (!input_.TakeLine(line)) {
        return !input_.Exhausted();  // the end of input closes like the close box
      }
      line = Trim(line);
      if (line == "q") {
        return false;
      }
      if (line.empty()) {
        dialog_.OnUpdateNow();
      } else if (IsNumber(line) && std::stoi(line) >= 1 && std::stoi(line) <= view_.ItemCount()) {
        dialog_.OnServerChosen(view_.Choose(std::stoi(line) - 1));
      } else {
        view_.Notice(Text(TextId::kTerminalHint));
      }
      view_.Flush();
    }
    return true;
  }

  UpdateDialog& dialog_;
  TerminalView& view_;
  MessageQueue& queue_;
  TerminalInput& input_;
  bool inputIsTerminal_;
};

}  // namespace

int RunTerminalFrontEnd(const UpdateSettings& settings) {
  const bool inputIsTerminal = isatty(STDIN_FILENO) == 1;
  TerminalView view(stdout, stderr, isatty(STDERR_FILENO) == 1);
  TerminalInput input(STDIN_FILENO);
  InterruptGuard interruptGuard;
  // Declared before the dialog: workers still post while the dialog's destruction joins them.
  MessageQueue queue;
  int status = 1;
  {
    UpdateDialog dialog(view, queue, settings, SystemLauncher());
    view.SetMessageBoxWait([&] {
      if (!inputIsTerminal) {
        return;  // nobody could press a key: go on at once
      }
      view.Notice(Text(TextId::kPressEnter));
      std::string line;
      while (interrupted == 0 && !input.TakeLine(line) && !input.Exhausted()) {
        input.Poll(100);
      }
    });
    // A configuration problem has been printed: no one need answer anything, the run is over.
    if (dialog.OnInitDialog() && !dialog.Halted()) {
      TerminalLoop(dialog, view, queue, input, inputIsTerminal).Run();
    }
    // Ctrl-C in the middle of a run: what arrived is kept, and the next run fetches the rest.
    if (interrupted != 0 && !dialog.RunFinished() && !dialog.WaitingForUser()) {
      view.Notice(Text(TextId::kRunCancelled));
    }
    dialog.OnClose();
    queue.Close();
    status = dialog.ExitStatus();
  }  // a running transfer is cancelled and joined here
  view.Finish();
  return status;
}
