#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/display_throttle.h"
#include "ui/tray_animation.h"
#include "ui/update_view.h"
#include "ui/win32/win32_api.h"

// The program's only window on Windows: the dialog made from the resource template with its tray
// icon, showing what the run tells it through UpdateView (the sorted server box's items carry
// their places in the server list). The progress display is drawn at most
// every kDisplayInterval however often it changes. Dialog's thread only.
class UpdateDialogWindow : public UpdateView {
 public:
  static constexpr std::chrono::milliseconds kDisplayInterval{50};
  // The timer by which a throttled progress display is drawn; the update logic's are its own.
  static constexpr UINT_PTR kDisplayTimerId = 1100;

  UpdateDialogWindow();
  ~UpdateDialogWindow() override;
  UpdateDialogWindow(const UpdateDialogWindow&) = delete;
  UpdateDialogWindow& operator=(const UpdateDialogWindow&) = delete;

  // The dialog has been made (WM_INITDIALOG): its texts are set in the process's language, it is
  // centred on the desktop, icons and bar ranges are set.
  void Attach(HWND dialog);
  // The dialog is being destroyed: timers stop and the tray icon goes; later calls draw nothing.
  void Detach();
  HWND Handle() const { return dialog_; }
  HICON WindowIcon() const { return bigIcon_; }

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

  // Ends the modal dialog once the current message has been handled.
  void EndDialog();
  // The server list index of the server the box shows as selected; false when none is.
  bool SelectedServer(size_t& index) const;
  void RemoveTrayIcon();

  // Draws a throttled display when message is its timer; false for any other message.
  bool HandleMessage(UINT message, WPARAM wParam);
  // Draws whatever the progress display still owes, at once.
  void FlushDisplay();
  // Stops every timer: no OnTimer reaches the update logic any more.
  void StopTimers();

 private:
  void CentreOnWorkArea();
  LRESULT Send(int control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void DrawDisplay(const DisplayState& latest, const DisplayState& shown);
  // Sends the tray record with the given flags; false when the shell refused it.
  bool NotifyTray(DWORD action, UINT flags, int iconId, const std::string& tip);
  HICON FrameIcon(int iconId) const;

  HWND dialog_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  std::array<HICON, 3> trayFrames_{};
  bool trayIconAdded_ = false;
  TrayAnimation tray_;
  UINT_PTR updateTimer_ = 0;
  bool displayTimerRunning_ = false;
  ThrottledDisplay display_{kDisplayInterval,
                            {[this](const DisplayState& latest, const DisplayState& shown) {
                               DrawDisplay(latest, shown);
                             },
                             [this](unsigned ms) {
                               displayTimerRunning_ =
                                   SetTimer(dialog_, kDisplayTimerId, ms, nullptr) != 0;
                             },
                             // Without a dialog nothing is drawn and no timer started.
                             [this] { return displayTimerRunning_ || dialog_ == nullptr; }}};
};
