#pragma once

#include <cstdint>
#include <string>

#include "transfer/server_list.h"

// The window's controls as the update driver draws through them. Each front end implements it;
// tests record it. Called on the window's thread only.
class UpdateView {
 public:
  virtual ~UpdateView() = default;

  // Server combo box (sorted drop-down list). AddString returns the sorted index.
  virtual int AddString(const std::string& text) = 0;
  virtual void SetItemData(int index, ServerEntry* entry) = 0;
  virtual void SetCurSel(int index) = 0;
  // False when there is no such item (the box's error).
  virtual bool DeleteString(int index) = 0;
  // -1 when nothing is selected.
  virtual int GetCurSel() = 0;
  virtual ServerEntry* GetItemData(int index) = 0;
  virtual void EnableComboBox(bool enable) = 0;
  // The "立即更新" button.
  virtual void EnableUpdateButton(bool enable) = 0;

  // Log list: append a formatted line with its code as item data, and select it.
  virtual void AppendLogLine(const std::string& line, uint32_t code) = 0;
  virtual void ClearLog() = 0;
  // The status line.
  virtual void SetStatusLine(const std::string& text) = 0;
  // Bars 1000 (current file) and 1001 (whole run), range 0..100; values above 100 show full.
  virtual void SetFileProgress(int position) = 0;
  virtual void SetTotalProgress(int position) = 0;

  // Notification-area icon: frames 130, 131, 132; tips up to 63 bytes.
  virtual void AddTrayIcon(int iconId, const std::string& tip) = 0;
  virtual void SetTrayIcon(int iconId) = 0;
  virtual void SetTrayTip(const std::string& tip) = 0;
  virtual void RemoveTrayIcon() = 0;

  // Starts the window timer that calls UpdateDialog::OnTimer(id) every periodMs.
  virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
  // Modal message box with one OK button and the application's title; returns when dismissed.
  virtual void ShowMessageBox(const std::string& text) = 0;
  // Ends the modal dialog once the current message has been handled.
  virtual void EndDialog() = 0;
};
