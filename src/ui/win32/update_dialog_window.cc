#include "ui/win32/update_dialog_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <utility>

#include "platform/wide_text.h"
#include "texts/texts.h"
#include "ui/win32/resource_ids.h"

namespace {

// The notification area shows tips of this many characters at most.
constexpr size_t kTipLength = 63;
// The caption of message boxes.
constexpr wchar_t kMessageCaption[] = L"Lodestar";

HICON LoadIconSized(int id, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}

}  // namespace

UpdateDialogWindow::UpdateDialogWindow() {
  bigIcon_ = LoadIconSized(IDI_LODESTAR, SM_CXICON, SM_CYICON);
  smallIcon_ = LoadIconSized(IDI_LODESTAR, SM_CXSMICON, SM_CYSMICON);
  for (size_t frame = 0; frame < trayFrames_.size(); ++frame) {
    trayFrames_[frame] =
        LoadIconSized(IDI_TRAY_FRAME_0 + static_cast<int>(frame), SM_CXSMICON, SM_CYSMICON);
  }
}

UpdateDialogWindow::~UpdateDialogWindow() {
  Detach();
  for (HICON icon : trayFrames_) {
    if (icon != nullptr) {
      DestroyIcon(icon);
    }
  }
  for (HICON icon : {bigIcon_, smallIcon_}) {
    if (icon != nullptr) {
      DestroyIcon(icon);
    }
  }
}

void UpdateDialogWindow::Attach(HWND dialog) {
  dialog_ = dialog;
  // The template's texts are the Chinese ones: those of the chosen language replace them.
  SetWindowTextW(dialog_, ToWide(Text(TextId::kWindowTitle)).c_str());
  const std::pair<int, TextId> texts[] = {
      {IDC_GROUP, TextId::kGroupBox},
      {IDC_SERVER_LABEL, TextId::kServerLabel},
      {IDC_TOTAL_LABEL, TextId::kTotalLabel},
      {IDC_FILE_LABEL, TextId::kFileLabel},
      {IDOK, TextId::kCloseButton},
      {IDC_AUTO_SELECT, TextId::kAutoSelectButton},
      {IDC_UPDATE_NOW, TextId::kUpdateNowButton},
  };
  for (const auto& [control, text] : texts) {
    SetDlgItemTextW(dialog_, control, ToWide(Text(text)).c_str());
  }
  CentreOnWorkArea();
  SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  for (int bar : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS}) {
    Send(bar, PBM_SETRANGE32, 0, 100);
    Send(bar, PBM_SETPOS, 0);
  }
}

void UpdateDialogWindow::CentreOnWorkArea() {
  RECT area{};
  RECT frame{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(dialog_, &frame)) {
    return;
  }
  const LONG left = area.left + ((area.right - area.left) - (frame.right - frame.left)) / 2;
  const LONG top = area.top + ((area.bottom - area.top) - (frame.bottom - frame.top)) / 2;
  SetWindowPos(dialog_, nullptr, std::max(left, area.left), std::max(top, area.top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void UpdateDialogWindow::Detach() {
  if (dialog_ == nullptr) {
    return;
  }
  StopTimers();
  RemoveTrayIcon();
  dialog_ = nullptr;
}

LRESULT UpdateDialogWindow::Send(int control, UINT message, WPARAM wParam, LPARAM lParam) const {
  if (dialog_ == nullptr) {
    return 0;
  }
  return SendDlgItemMessageW(dialog_, control, message, wParam, lParam);
}

void UpdateDialogWindow::Started(unsigned periodMs) {
  if (dialog_ == nullptr) {
    return;
  }
  updateTimer_ = SetTimer(dialog_, UpdateView::kTimerId, periodMs, nullptr);
  if (!trayIconAdded_) {
    trayIconAdded_ =
        NotifyTray(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP, tray_.Icon(), tray_.Tip());
    display_.SetTray(tray_.Icon(), tray_.Tip());
  }
}

void UpdateDialogWindow::ServersListed(const std::vector<std::string>& names, size_t selected) {
  // The box sorts what it is given; each item keeps its place in the list as its data.
  Send(IDC_SERVER_COMBO, CB_RESETCONTENT);
  for (size_t index = 0; index < names.size(); ++index) {
    const std::wstring wide = ToWide(names[index]);
    const LRESULT item =
        Send(IDC_SERVER_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    if (item < 0) {
      continue;  // the box refused the item
    }
    Send(IDC_SERVER_COMBO, CB_SETITEMDATA, static_cast<WPARAM>(item), static_cast<LPARAM>(index));
    if (index == selected) {
      Send(IDC_SERVER_COMBO, CB_SETCURSEL, static_cast<WPARAM>(item));
    }
  }
}

bool UpdateDialogWindow::SelectedServer(size_t& index) const {
  const LRESULT item = Send(IDC_SERVER_COMBO, CB_GETCURSEL);
  if (dialog_ == nullptr || item < 0) {
    return false;
  }
  index = static_cast<size_t>(Send(IDC_SERVER_COMBO, CB_GETITEMDATA, static_cast<WPARAM>(item)));
  return true;
}

void UpdateDialogWindow::ChoiceEnabled(bool enabled) {
  if (dialog_ != nullptr) {
    EnableWindow(GetDlgItem(dialog_, IDC_SERVER_COMBO), enabled ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog_, IDC_UPDATE_NOW), enabled ? TRUE : FALSE);
  }
}

void UpdateDialogWindow::LogLine(const std::string& line, uint32_t code) {
  const std::wstring wide = ToWide(line);
  const LRESULT index = Send(IDC_LOG, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (index < 0) {
    return;  // the list is out of memory: the line is lost, the run goes on
  }
  Send(IDC_LOG, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(code));
  Send(IDC_LOG, LB_SETCURSEL, static_cast<WPARAM>(index));  // and scrolls it into view
}

void UpdateDialogWindow::LogCleared() {
  Send(IDC_LOG, LB_RESETCONTENT);
}

void UpdateDialogWindow::StatusChanged(const std::string& text) {
  if (dialog_ != nullptr) {
    SetDlgItemTextW(dialog_, IDC_STATUS, ToWide(text).c_str());
  }
}

void UpdateDialogWindow::FileProgress(int percent) {
  display_.SetFileProgress(percent);
}

void UpdateDialogWindow::RunProgress(int percent) {
  display_.SetTotalProgress(percent);
}

void UpdateDialogWindow::ChunksArrived(size_t copies, int64_t runPercent) {
  if (!trayIconAdded_) {
    return;
  }
  const bool tipChanged = tray_.Advance(copies, runPercent);
  display_.SetTrayIcon(tray_.Icon());
  if (tipChanged) {
    display_.SetTrayTip(tray_.Tip());
  }
}

void UpdateDialogWindow::RemoveTrayIcon() {
  if (!trayIconAdded_) {
    return;
  }
  NotifyTray(NIM_DELETE, 0, 0, std::string());
  trayIconAdded_ = false;
  display_.SetTray(0, std::string());
}

bool UpdateDialogWindow::NotifyTray(DWORD action, UINT flags, int iconId, const std::string& tip) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = dialog_;
  data.uID = 0;
  data.uFlags = flags;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  if (flags & NIF_ICON) {
    data.hIcon = FrameIcon(iconId);
  }
  if (flags & NIF_TIP) {
    const std::wstring wide = ToWide(tip);
    const size_t length = std::min(wide.size(), kTipLength);
    std::wmemcpy(data.szTip, wide.data(), length);
    data.szTip[length] = L'\0';
  }
  return Shell_NotifyIconW(action, &data) != FALSE;
}

HICON UpdateDialogWindow::FrameIcon(int iconId) const {
  const int frame = iconId - IDI_TRAY_FRAME_0;
  if (frame >= 0 && frame < static_cast<int>(trayFrames_.size())) {
    return trayFrames_[static_cast<size_t>(frame)];
  }
  return smallIcon_;
}

void UpdateDialogWindow::ShowMessage(const std::string& text) {
  MessageBoxW(dialog_, ToWide(text).c_str(), kMessageCaption, MB_OK | MB_ICONEXCLAMATION);
}

void UpdateDialogWindow::EndDialog() {
  if (dialog_ != nullptr) {
    ::EndDialog(dialog_, IDCANCEL);
  }
}

bool UpdateDialogWindow::HandleMessage(UINT message, WPARAM wParam) {
  if (message != WM_TIMER || wParam != kDisplayTimerId) {
    return false;
  }
  FlushDisplay();
  return true;
}

void UpdateDialogWindow::FlushDisplay() {
  if (displayTimerRunning_) {
    KillTimer(dialog_, kDisplayTimerId);
    displayTimerRunning_ = false;
  }
  display_.Flush();
}

void UpdateDialogWindow::StopTimers() {
  if (dialog_ == nullptr) {
    return;
  }
  if (updateTimer_ != 0) {
    KillTimer(dialog_, updateTimer_);
    updateTimer_ = 0;
  }
  KillTimer(dialog_, kDisplayTimerId);
  displayTimerRunning_ = false;
}

void UpdateDialogWindow::DrawDisplay(const DisplayState& latest, const DisplayState& shown) {
  if (latest.fileProgress != shown.fileProgress) {
    Send(IDC_FILE_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(latest.fileProgress));
  }
  if (latest.totalProgress != shown.totalProgress) {
    Send(IDC_TOTAL_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(latest.totalProgress));
  }
  if (trayIconAdded_) {
    UINT flags = 0;
    if (latest.trayIcon != shown.trayIcon) {
      flags |= NIF_ICON;
    }
    if (latest.trayTip != shown.trayTip) {
      flags |= NIF_TIP;
    }
    if (flags != 0) {
      NotifyTray(NIM_MODIFY, flags, latest.trayIcon, latest.trayTip);
    }
  }
}
