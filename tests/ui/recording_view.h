#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/recording_launcher.h"
#include "ui/tray_animation.h"
#include "ui/update_view.h"

// Records every event the run tells its view, and plays the tray icon as a window with one
// would. Test thread only.
class RecordingView : public UpdateView {
 public:
  struct Line {
    std::string text;
    uint32_t code = 0;
  };

  void Started(unsigned periodMs) override {
    timerPeriod = periodMs;
    trayIcons.push_back(tray.Icon());
    tips.push_back(tray.Tip());
  }
  void ServersListed(const std::vector<std::string>& names, size_t chosen) override {
    servers = names;
    selected = static_cast<int>(chosen);
  }
  void ChoiceEnabled(bool enabled) override { choiceEnabled = enabled; }
  void LogLine(const std::string& line, uint32_t code) override { log.push_back(Line{line, code}); }
  void LogCleared() override {
    log.clear();
    ++logClears;
  }
  void StatusChanged(const std::string& text) override {
    status = text;
    statusHistory.push_back(text);
  }
  void FileProgress(int percent) override { fileBar.push_back(percent); }
  void RunProgress(int percent) override { totalBar.push_back(percent); }
  void ChunksArrived(size_t copies, int64_t runPercent) override {
    const bool tipChanged = tray.Advance(copies, runPercent);
    trayIcons.push_back(tray.Icon());
    if (tipChanged) {
      tips.push_back(tray.Tip());
    }
  }
  void ShowMessage(const std::string& text) override { messageBoxes.push_back(text); }
  void Finished() override { ended = true; }

  // The log's texts without their time stamps.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    for (const Line& line : log) {
      texts.push_back(line.text.size() > 9 ? line.text.substr(9) : line.text);
    }
    return texts;
  }

  std::vector<std::string> servers;  // as listed, in the server list's order
  int selected = -1;
  bool choiceEnabled = true;
  std::vector<Line> log;
  int logClears = 0;
  std::string status;
  std::vector<std::string> statusHistory;
  std::vector<int> fileBar;
  std::vector<int> totalBar;
  TrayAnimation tray;
  std::vector<int> trayIcons;
  std::vector<std::string> tips;
  unsigned timerPeriod = 0;
  std::vector<std::string> messageBoxes;
  bool ended = false;
};
