#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ui/update_view.h"

// The window's controls drawn on a terminal: log lines on standard output, the status line and
// the progress on standard error (one line rewritten in place when it is a terminal, plain lines
// otherwise), the server combo box as a numbered list. Standard error is written at display rate,
// before each log line and before anything the user is to answer. Every text it is given is shown
// with the characters that would steer the terminal replaced. Window's thread only.
class TerminalView : public UpdateView {
 public:
  // out receives the log lines, err everything else; errIsTerminal selects in-place rewriting.
  TerminalView(std::FILE* out, std::FILE* err, bool errIsTerminal);

  int AddString(const std::string& text) override;
  void SetItemData(int index, ServerEntry* entry) override;
  void SetCurSel(int index) override;
  bool DeleteString(int index) override;
  int GetCurSel() override;
  ServerEntry* GetItemData(int index) override;
  void EnableComboBox(bool enable) override;
  void EnableUpdateButton(bool enable) override;

  void AppendLogLine(const std::string& line, uint32_t code) override;
  void ClearLog() override;
  void SetStatusLine(const std::string& text) override;
  void SetFileProgress(int position) override;
  void SetTotalProgress(int position) override;

  void AddTrayIcon(int iconId, const std::string& tip) override;
  void SetTrayIcon(int iconId) override;
  void SetTrayTip(const std::string& tip) override;
  void RemoveTrayIcon() override;

  void StartTimer(unsigned id, unsigned periodMs) override;
  void ShowMessageBox(const std::string& text) override;
  void EndDialog() override;

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
  bool ComboBoxEnabled() const { return comboEnabled_; }
  int ItemCount() const { return static_cast<int>(items_.size()); }

 private:
  struct Item {
    std::string text;
    ServerEntry* entry = nullptr;
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
  bool comboEnabled_ = true;
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
