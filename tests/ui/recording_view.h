#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/recording_launcher.h"
#include "support/sorted_combo_box.h"
#include "ui/update_view.h"

// Records everything the dialog draws, and keeps the controls' state as a window would (a
// sorted combo box whose item data moves with its item). Test thread only.
class RecordingView : public UpdateView, public SortedComboBox {
 public:
  struct LogLine {
    std::string text;
    uint32_t code = 0;
  };

  int AddString(const std::string& text) override { return SortedComboBox::AddString(text); }
  void SetItemData(int index, ServerEntry* entry) override {
    SortedComboBox::SetItemData(index, entry);
  }
  void SetCurSel(int index) override { SortedComboBox::SetCurSel(index); }
  bool DeleteString(int index) override { return SortedComboBox::DeleteString(index); }
  int GetCurSel() override { return SortedComboBox::GetCurSel(); }
  ServerEntry* GetItemData(int index) override { return SortedComboBox::GetItemData(index); }
  void EnableComboBox(bool enable) override { comboEnabled = enable; }
  void EnableUpdateButton(bool enable) override { buttonEnabled = enable; }

  void AppendLogLine(const std::string& line, uint32_t code) override {
    log.push_back(LogLine{line, code});
  }
  void ClearLog() override {
    log.clear();
    ++logClears;
  }
  void SetStatusLine(const std::string& text) override {
    status = text;
    statusHistory.push_back(text);
  }
  void SetFileProgress(int position) override { fileBar.push_back(position); }
  void SetTotalProgress(int position) override { totalBar.push_back(position); }

  void AddTrayIcon(int iconId, const std::string& tip) override {
    trayShown = true;
    trayIcons.push_back(iconId);
    tips.push_back(tip);
  }
  void SetTrayIcon(int iconId) override { trayIcons.push_back(iconId); }
  void SetTrayTip(const std::string& tip) override { tips.push_back(tip); }
  void RemoveTrayIcon() override { trayShown = false; }

  void StartTimer(unsigned id, unsigned periodMs) override {
    timerId = id;
    timerPeriod = periodMs;
  }
  void ShowMessageBox(const std::string& text) override { messageBoxes.push_back(text); }
  void EndDialog() override { ended = true; }

  // The log's texts without their time stamps.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    for (const LogLine& line : log) {
      texts.push_back(line.text.size() > 9 ? line.text.substr(9) : line.text);
    }
    return texts;
  }

  bool comboEnabled = true;
  bool buttonEnabled = true;
  std::vector<LogLine> log;
  int logClears = 0;
  std::string status;
  std::vector<std::string> statusHistory;
  std::vector<int> fileBar;
  std::vector<int> totalBar;
  bool trayShown = false;
  std::vector<int> trayIcons;
  std::vector<std::string> tips;
  unsigned timerId = 0;
  unsigned timerPeriod = 0;
  std::vector<std::string> messageBoxes;
  bool ended = false;
};
