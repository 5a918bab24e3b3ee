#pragma once

#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/timer.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/display_throttle.h"
#include "ui/tray_animation.h"
#include "ui/update_view.h"

class wxButton;
class wxComboBox;
class wxGauge;
class wxKeyEvent;
class wxListBox;
class wxStaticText;
class wxTaskBarIcon;

// Control ids of the window, as its template numbers them.
enum UpdateWindowId : int {
  kIdClose = 1,  // hidden default button "关闭"
  kIdFileProgress = 1000,
  kIdTotalProgress = 1001,
  kIdServerCombo = 1003,
  kIdAutoSelect = 1004,  // hidden "自动选择服务器"
  kIdUpdateNow = 1005,
  kIdLog = 1008,
  kIdStatus = 1010,
};

// The program's only window: the update dialog with its server box (sorted, each item knowing
// its place in the server list), log, status line, two bars and tray icon, showing what the run
// tells it through UpdateView and telling the run what the user does. The progress display is
// drawn at most every kDisplayInterval however often it changes. Window's thread only.
class UpdateWindow : public wxDialog, public UpdateView {
 public:
  static constexpr std::chrono::milliseconds kDisplayInterval{50};

  // listener must outlive the window.
  explicit UpdateWindow(UpdateView::Listener& listener, wxWindow* parent = nullptr);
  ~UpdateWindow() override;

  // UpdateView
  void Started(unsigned periodMs) override;
  void ServersListed(const std::vector<std::string>& names, size_t selected) override;
  void ChoiceEnabled(bool enabled) override;
  void LogLine(const std::string& line, uint32_t code) override;
  void LogCleared() override;
  void StatusChanged(const std::string& text) override;
  void FileProgress(int percent) override;
  void RunProgress(int percent) override;
  void ChunksArrived(size_t copies, int64_t runPercent) override;
  void ShowMessage(const std::string& text) override;
  void Finished() override { EndDialog(); }

  // Ends the modal dialog once the current event has been handled.
  void EndDialog();
  void RemoveTrayIcon();
  // Draws whatever the progress display still owes, at once.
  void FlushDisplay();
  // Stops every timer: no OnTimer reaches the update logic any more.
  void StopTimers();
  // The tray frame and tip last drawn; 0 and empty while there is no tray icon.
  int ShownTrayIcon() const { return display_.Shown().trayIcon; }
  std::string ShownTrayTip() const { return display_.Shown().trayTip; }
  // How often the progress display has been drawn.
  uint64_t DisplayDraws() const { return displayDraws_; }

 private:
  void CreateControls();
  void DrawDisplay(const DisplayState& latest, const DisplayState& shown);
  // The server list index of the box's item.
  size_t ListIndexOf(unsigned item) const;
  wxIcon FrameIcon(int iconId) const;
  void OnCharHook(wxKeyEvent& event);

  UpdateView::Listener& listener_;
  wxComboBox* serverCombo_ = nullptr;
  wxListBox* log_ = nullptr;
  wxStaticText* status_ = nullptr;
  wxGauge* fileProgress_ = nullptr;
  wxGauge* totalProgress_ = nullptr;
  wxButton* updateNow_ = nullptr;

  std::unique_ptr<wxTaskBarIcon> trayIcon_;
  TrayAnimation tray_;
  std::array<wxIcon, 3> trayFrames_;
  wxTimer displayTimer_;
  ThrottledDisplay display_{kDisplayInterval,
                            {[this](const DisplayState& latest, const DisplayState& shown) {
                               DrawDisplay(latest, shown);
                             },
                             [this](unsigned ms) { displayTimer_.StartOnce(static_cast<int>(ms)); },
                             [this] { return displayTimer_.IsRunning(); }}};
  std::unique_ptr<wxTimer> updateTimer_;
  uint64_t displayDraws_ = 0;
};
