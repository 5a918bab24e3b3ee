#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/launch.h"
#include "ui/update_view.h"

// Records everything the dialog draws, and keeps the controls' state as a window would (a
// sorted combo box whose item data moves with its item). Test thread only.
class RecordingView : public UpdateView {
 public:
  struct Item {
    std::string text;
    ServerEntry* entry = nullptr;
  };
  struct LogLine {
    std::string text;
    uint32_t code = 0;
  };

  int AddString(const std::string& text) override {
    auto at =
        std::upper_bound(items.begin(), items.end(), text,
                         [](const std::string& t, const Item& item) { return t < item.text; });
    int index = static_cast<int>(at - items.begin());
    items.insert(at, Item{text, nullptr});
    if (selected >= index) {
      ++selected;
    }
    return index;
  }
  void SetItemData(int index, ServerEntry* entry) override {
    if (index >= 0 && index < static_cast<int>(items.size())) {
      items[index].entry = entry;
    }
  }
  void SetCurSel(int index) override {
    selected = (index >= 0 && index < static_cast<int>(items.size())) ? index : -1;
  }
  bool DeleteString(int index) override {
    if (index < 0 || index >= static_cast<int>(items.size())) {
      return false;
    }
    items.erase(items.begin() + index);
    selected = selected == index ? -1 : selected > index ? selected - 1 : selected;
    return true;
  }
  int GetCurSel() override { return selected; }
  ServerEntry* GetItemData(int index) override {
    return (index >= 0 && index < static_cast<int>(items.size())) ? items[index].entry : nullptr;
  }
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

  std::vector<Item> items;
  int selected = -1;
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

// Records every launch instead of starting anything.
class RecordingLauncher : public Launcher {
 public:
  void Launch(const std::string& path, const std::string& parameters) override {
    launches.emplace_back(path, parameters);
  }
  std::vector<std::pair<std::string, std::string>> launches;
};
