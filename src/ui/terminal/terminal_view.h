#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ui/update_view.h"

// Text from anywhere as a terminal may show it: readable, each character that would steer the
// terminal (control characters, direction overrides) replaced by U+FFFD. Any thread.
std::string TerminalText(const std::string& text);

// The run shown on a terminal: log lines on standard output, the status line and the progress on
// standard error (one line rewritten in place when it is a terminal, plain lines otherwise), the
// servers as a numbered list in a combo box's sorted order. Standard error is written at display
// rate, before each log line and before anything the user is to answer. Every text it is given is
// shown with the characters that would steer the terminal replaced. Window's thread only.
class TerminalView : public UpdateView {
 public:
  // out receives the log lines, err everything else; errIsTerminal selects in-place rewriting.
  TerminalView(std::FILE* out, std::FILE* err, bool errIsTerminal);

  void Started(unsigned periodMs) override;
  void ServersListed(const std::vector<std::string>& names, size_t selected) override;
  // The loop asks the run itself whether the user may choose.
  void ChoiceEnabled(bool) override {}
  void LogLine(const std::string& line, uint32_t code) override;
  void LogCleared() override {}
  void StatusChanged(const std::string& text) override;
  void FileProgress(int percent) override;
  void RunProgress(int percent) override;
  void ChunksArrived(size_t, int64_t) override {}
  void ShowMessage(const std::string& text) override;
  void Finished() override { ended_ = true; }

  // The user picked the server shown as number index + 1: it is marked on the list, which is
  // shown again; returns its index in the server list.
  size_t Choose(int index);

  // Called after the message box text is shown; waits for the user when there is one.
  void SetMessageBoxWait(std::function<void()> wait) { messageBoxWait_ = std::move(wait); }

  // Draws what is pending: the server list after a change, the status line and progress at most
  // ten times a second.
  void Flush();
  // Prints a line of the front end's own on standard error, clear of the status line.
  void Notice(const std::string& text);
  // Ends the status line so that the shell prompt starts on a fresh line.
  void Finish();

  bool TimerStarted() const { return timerStarted_; }
  unsigned TimerPeriodMs() const { return timerPeriodMs_; }
  bool Ended() const { return ended_; }
  int ItemCount() const { return static_cast<int>(items_.size()); }

 private:
  // A server as the list shows it, sorted as a combo box would sort it.
  struct Item {
    std::string text;
    size_t index = 0;  // in the server list
  };

  // Writes out what waits for standard error.
  void FlushErr();
  void ClearStatusLine();
  void DrawStatusLine();
  std::string ProgressText() const;
  void PrintServerList();

  std::FILE* out_;
  std::FILE* err_;
  bool errIsTerminal_;
  std::function<void()> messageBoxWait_;

  std::vector<Item> items_;
  int selected_ = -1;
  bool listChanged_ = false;

  std::string status_;
  int fileProgress_ = 0;
  int totalProgress_ = 0;
  bool progressChanged_ = false;
  std::string lastProgressPrinted_;
  std::chrono::steady_clock::time_point lastProgressDraw_{};
  bool statusDrawn_ = false;
  bool statusChanged_ = false;  // a terminal's status line is to be redrawn
  std::string errPending_;      // text for standard error, not yet written
  std::chrono::steady_clock::time_point lastErrFlush_{};

  bool timerStarted_ = false;
  unsigned timerPeriodMs_ = 0;
  bool ended_ = false;
};
