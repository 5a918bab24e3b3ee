#include "ui/wx/update_window.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/taskbar.h>

#include <algorithm>
#include <cstdint>

#include "texts/texts.h"
#include "ui/wx/icons.h"
#include "ui/wx/wx_text.h"

namespace {

constexpr int kDisplayTimerId = wxID_HIGHEST + 1;
constexpr int kFontPoints = 9;
constexpr int kDialogWidth = 279;
constexpr int kDialogHeight = 223;

// A control's place in dialog units, as the template gives it.
struct Place {
  int x, y, width, height;
};

}  // namespace

UpdateWindow::UpdateWindow(UpdateView::Listener& listener, wxWindow* parent)
    : wxDialog(parent, wxID_ANY, WxText(Text(TextId::kWindowTitle)), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
      listener_(listener),
      displayTimer_(this, kDisplayTimerId) {
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetPointSize(kFontPoints);
  SetFont(font);
  SetIcons(WindowIcons());
  for (int frame = 0; frame < kTrayFrameCount; ++frame) {
    trayFrames_[frame] = TrayIcon(kTrayFrameFirstId + frame);
  }
  CreateControls();
  SetClientSize(ConvertDialogToPixels(wxSize(kDialogWidth, kDialogHeight)));
  Centre();

  Bind(wxEVT_TIMER, [this](wxTimerEvent& event) {
    if (event.GetId() == kDisplayTimerId) {
      FlushDisplay();
    } else {
      listener_.OnTimer(static_cast<unsigned>(event.GetId()));
    }
  });
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { listener_.OnUpdateNow(); }, kIdUpdateNow);
  Bind(
      wxEVT_COMBOBOX,
      [this](wxCommandEvent&) {
        const int item = serverCombo_->GetSelection();
        if (item != wxNOT_FOUND) {
          listener_.OnServerChosen(ListIndexOf(static_cast<unsigned>(item)));
        }
      },
      kIdServerCombo);
  Bind(
      wxEVT_BUTTON, [](wxCommandEvent&) {}, kIdAutoSelect);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(); }, kIdClose);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndDialog(); });
  Bind(wxEVT_CHAR_HOOK, &UpdateWindow::OnCharHook, this);
  // The window cannot be minimised: undo it as soon as the desktop reports it.
  Bind(wxEVT_ICONIZE, [this](wxIconizeEvent& event) {
    if (event.IsIconized()) {
      CallAfter([this] { Iconize(false); });
    }
  });
}

UpdateWindow::~UpdateWindow() {
  StopTimers();
  RemoveTrayIcon();
}

void UpdateWindow::CreateControls() {
  auto at = [this](const Place& place) { return ConvertDialogToPixels(wxPoint(place.x, place.y)); };
  auto size = [this](const Place& place) {
    return ConvertDialogToPixels(wxSize(place.width, place.height));
  };
  auto label = [this, &at, &size](TextId text, const Place& place) {
    new wxStaticText(this, wxID_ANY, WxText(Text(text)), at(place), size(place),
                     wxST_NO_AUTORESIZE);
  };

  // The group box first, so that it lies beneath the controls it frames.
  const Place group{7, 7, 266, 209};
  new wxStaticBox(this, wxID_ANY, WxText(Text(TextId::kGroupBox)), at(group), size(group));

  const Place close{181, 193, 50, 14};
  auto* closeButton =
      new wxButton(this, kIdClose, WxText(Text(TextId::kCloseButton)), at(close), size(close));
  closeButton->Hide();

  // The labels' column, as in the Windows template, where "当 前 进 度：" needs 52 units in SimSun
  // (its spaces are half-width) and "Total progress:" 51 in Tahoma; 2 to spare. The server box and
  // the bars start 3 units after it and end at 265.
  constexpr int labelWidth = 54;
  constexpr int fieldLeft = 12 + labelWidth + 3;
  constexpr int fieldWidth = 265 - fieldLeft;

  const Place file{fieldLeft, 173, fieldWidth, 12};
  fileProgress_ =
      new wxGauge(this, kIdFileProgress, 100, at(file), size(file), wxGA_HORIZONTAL | wxGA_SMOOTH);
  const Place total{fieldLeft, 155, fieldWidth, 12};
  totalProgress_ = new wxGauge(this, kIdTotalProgress, 100, at(total), size(total),
                               wxGA_HORIZONTAL | wxGA_SMOOTH);

  label(TextId::kTotalLabel, Place{12, 157, labelWidth, 8});
  label(TextId::kFileLabel, Place{12, 175, labelWidth, 8});
  const Place serverLabel{12, 23, labelWidth, 8};
  label(TextId::kServerLabel, serverLabel);

  // The template's 190 units are the height of the dropped list. The closed box keeps the
  // toolkit's own height, which is taller than the template's row, so it is centred on the row
  // of its label rather than hung from the row's top, and clears the log below.
  const Place combo{fieldLeft, 21, fieldWidth, 190};
  serverCombo_ = new wxComboBox(this, kIdServerCombo, wxString(), at(combo),
                                wxSize(size(combo).GetWidth(), -1), 0, nullptr,
                                wxCB_DROPDOWN | wxCB_READONLY | wxCB_SORT);
  const int rowCentre = ConvertDialogToPixels(wxPoint(0, serverLabel.y + serverLabel.height / 2)).y;
  serverCombo_->Move(at(combo).x, rowCentre - serverCombo_->GetSize().GetHeight() / 2);

  const Place autoSelect{46, 193, 59, 14};
  auto* autoButton = new wxButton(this, kIdAutoSelect, WxText(Text(TextId::kAutoSelectButton)),
                                  at(autoSelect), size(autoSelect));
  autoButton->Hide();

  const Place update{118, 193, 50, 14};
  updateNow_ = new wxButton(this, kIdUpdateNow, WxText(Text(TextId::kUpdateNowButton)), at(update),
                            size(update));

  const Place log{12, 39, 252, 93};
  log_ = new wxListBox(this, kIdLog, at(log), size(log), 0, nullptr, wxLB_SINGLE);

  // A label draws no border of its own here, so the sunken edge is a panel around it.
  const Place status{12, 136, 253, 14};
  auto* statusEdge = new wxPanel(this, wxID_ANY, at(status), size(status), wxBORDER_SUNKEN);
  const wxSize inside = statusEdge->GetClientSize();
  const int textHeight = GetCharHeight();
  status_ = new wxStaticText(statusEdge, kIdStatus, wxString(),
                             wxPoint(2, std::max(0, (inside.GetHeight() - textHeight) / 2)),
                             wxSize(std::max(0, inside.GetWidth() - 4), textHeight),
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
}

void UpdateWindow::Started(unsigned periodMs) {
  updateTimer_ = std::make_unique<wxTimer>(this, static_cast<int>(kTimerId));
  updateTimer_->Start(static_cast<int>(periodMs));
  if (!trayIcon_) {
    trayIcon_ = std::make_unique<wxTaskBarIcon>();
  }
  trayIcon_->SetIcon(FrameIcon(tray_.Icon()), WxText(tray_.Tip()));
  display_.SetTray(tray_.Icon(), tray_.Tip());
}

void UpdateWindow::ServersListed(const std::vector<std::string>& names, size_t selected) {
  // The box sorts what it is given; each item keeps its place in the list as its data.
  serverCombo_->Clear();
  for (size_t index = 0; index < names.size(); ++index) {
    const int item = serverCombo_->Append(WxText(names[index]));
    serverCombo_->SetClientData(static_cast<unsigned>(item),
                                reinterpret_cast<void*>(static_cast<uintptr_t>(index)));
  }
  for (unsigned item = 0; item < serverCombo_->GetCount(); ++item) {
    if (ListIndexOf(item) == selected) {
      serverCombo_->SetSelection(static_cast<int>(item));
    }
  }
}

size_t UpdateWindow::ListIndexOf(unsigned item) const {
  return static_cast<size_t>(reinterpret_cast<uintptr_t>(serverCombo_->GetClientData(item)));
}

void UpdateWindow::ChoiceEnabled(bool enabled) {
  serverCombo_->Enable(enabled);
  updateNow_->Enable(enabled);
}

void UpdateWindow::LogLine(const std::string& line, uint32_t code) {
  const int index =
      log_->Append(WxText(line), reinterpret_cast<void*>(static_cast<uintptr_t>(code)));
  log_->SetSelection(index);
  log_->EnsureVisible(index);
}

void UpdateWindow::LogCleared() {
  log_->Clear();
}

void UpdateWindow::StatusChanged(const std::string& text) {
  // Shown as written: an "&" in a server or file name is no mnemonic.
  status_->SetLabelText(WxText(text));
}

void UpdateWindow::FileProgress(int percent) {
  display_.SetFileProgress(percent);
}

void UpdateWindow::RunProgress(int percent) {
  display_.SetTotalProgress(percent);
}

void UpdateWindow::ChunksArrived(size_t copies, int64_t runPercent) {
  if (!trayIcon_) {
    return;
  }
  const bool tipChanged = tray_.Advance(copies, runPercent);
  display_.SetTrayIcon(tray_.Icon());
  if (tipChanged) {
    display_.SetTrayTip(tray_.Tip());
  }
}

void UpdateWindow::RemoveTrayIcon() {
  if (!trayIcon_) {
    return;
  }
  trayIcon_->RemoveIcon();
  trayIcon_.reset();
  display_.SetTray(0, std::string());
}

wxIcon UpdateWindow::FrameIcon(int iconId) const {
  const int frame = iconId - kTrayFrameFirstId;
  if (frame >= 0 && frame < kTrayFrameCount) {
    return trayFrames_[frame];
  }
  return TrayIcon(iconId);
}

void UpdateWindow::ShowMessage(const std::string& text) {
  const wxString caption = wxTheApp ? wxTheApp->GetAppDisplayName() : wxString("Lodestar");
  wxMessageBox(WxText(text), caption, wxOK, this);
}

void UpdateWindow::EndDialog() {
  if (IsModal()) {
    EndModal(wxID_CANCEL);
  }
}

void UpdateWindow::FlushDisplay() {
  displayTimer_.Stop();
  display_.Flush();
}

void UpdateWindow::StopTimers() {
  if (updateTimer_) {
    updateTimer_->Stop();
  }
  displayTimer_.Stop();
}

void UpdateWindow::DrawDisplay(const DisplayState& latest, const DisplayState& shown) {
  if (latest.fileProgress != shown.fileProgress) {
    fileProgress_->SetValue(latest.fileProgress);
  }
  if (latest.totalProgress != shown.totalProgress) {
    totalProgress_->SetValue(latest.totalProgress);
  }
  if (trayIcon_ && (latest.trayIcon != shown.trayIcon || latest.trayTip != shown.trayTip)) {
    trayIcon_->SetIcon(FrameIcon(latest.trayIcon), WxText(latest.trayTip));
  }
  ++displayDraws_;
}

void UpdateWindow::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
      EndDialog();
      return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      // A focused push button takes Enter itself; anywhere else it ends the dialog, as the
      // hidden default button would.
      if (FindFocus() == updateNow_ && updateNow_->IsEnabled()) {
        event.Skip();
        return;
      }
      EndDialog();
      return;
    default:
      event.Skip();
  }
}
