#include "ui/wx/update_window.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "texts/texts.h"
#include "ui/wx/wx_text.h"
#include "wx_test_loop.h"

namespace {

using std::chrono::milliseconds;

// Records what the window hands on. Window's (the test's) thread.
class RecordingEvents : public UpdateView::Listener {
 public:
  void OnTimer(unsigned id) override { timers.push_back(id); }
  void OnServerChosen(size_t index) override { chosen.push_back(index); }
  void OnUpdateNow() override { ++updateNowClicks; }
  void OnClose() override {}

  std::vector<unsigned> timers;
  std::vector<size_t> chosen;
  int updateNowClicks = 0;
};

class UpdateWindowTest : public testing::Test {
 protected:
  void SetUp() override { window = std::make_unique<UpdateWindow>(events); }
  void TearDown() override { window.reset(); }

  template <typename Control>
  Control* Find(int id) {
    return dynamic_cast<Control*>(window->FindWindow(id));
  }
  wxStaticText* FindLabel(const std::string& text) {
    for (wxWindow* child : window->GetChildren()) {
      auto* label = dynamic_cast<wxStaticText*>(child);
      if (label && Utf8Text(label->GetLabel()) == text) {
        return label;
      }
    }
    return nullptr;
  }
  wxPoint Dlu(int x, int y) { return window->ConvertDialogToPixels(wxPoint(x, y)); }
  void PressKey(int keyCode) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = keyCode;
    key.SetEventObject(window.get());
    window->ProcessWindowEvent(key);
  }
  // Shows the window modally, does action from inside its loop, and tells whether the loop
  // ended by itself (a guard ends it after a second otherwise).
  bool ModalEndsAfter(std::function<void()> action) {
    bool guardFired = false;
    window->CallAfter(std::move(action));
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      guardFired = true;
      window->EndModal(wxID_ABORT);
    });
    guard.StartOnce(1000);
    window->ShowModal();
    guard.Stop();
    return !guardFired;
  }

  RecordingEvents events;
  std::unique_ptr<UpdateWindow> window;
};

TEST_F(UpdateWindowTest, HasEveryControlWithItsIdTextAndVisibility) {
  EXPECT_EQ(Utf8Text(window->GetTitle()), "Varnholm自动更新客户端");
  EXPECT_EQ(window->GetClientSize(), window->ConvertDialogToPixels(wxSize(279, 223)));

  auto* close = Find<wxButton>(1);
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(Utf8Text(close->GetLabel()), "关闭");
  EXPECT_FALSE(close->IsShown());
  auto* autoSelect = Find<wxButton>(1004);
  ASSERT_NE(autoSelect, nullptr);
  EXPECT_EQ(Utf8Text(autoSelect->GetLabel()), "自动选择服务器");
  EXPECT_FALSE(autoSelect->IsShown());
  auto* updateNow = Find<wxButton>(1005);
  ASSERT_NE(updateNow, nullptr);
  EXPECT_EQ(Utf8Text(updateNow->GetLabel()), "立即更新");
  EXPECT_TRUE(updateNow->IsShown());

  for (int id : {1000, 1001}) {
    auto* bar = Find<wxGauge>(id);
    ASSERT_NE(bar, nullptr) << id;
    EXPECT_EQ(bar->GetRange(), 100);
    EXPECT_EQ(bar->GetValue(), 0);
  }
  auto* combo = Find<wxComboBox>(1003);
  ASSERT_NE(combo, nullptr);
  EXPECT_TRUE(combo->HasFlag(wxCB_SORT));
  EXPECT_TRUE(combo->HasFlag(wxCB_READONLY));
  ASSERT_NE(Find<wxListBox>(1008), nullptr);
  auto* status = Find<wxStaticText>(1010);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->GetParent()->GetBorder(), wxBORDER_SUNKEN);

  bool groupFound = false;
  for (wxWindow* child : window->GetChildren()) {
    auto* group = dynamic_cast<wxStaticBox*>(child);
    groupFound = groupFound || (group && Utf8Text(group->GetLabel()) == "自动更新");
  }
  EXPECT_TRUE(groupFound);
  for (const char* text : {"更新总进度：", "当 前 进 度：", "选择服务器："}) {
    EXPECT_NE(FindLabel(text), nullptr) << text;
  }
}

TEST_F(UpdateWindowTest, PlacesTheBarsBesideTheirLabels) {
  // Bar 1001 (the whole run) is the upper one, beside "更新总进度："; bar 1000 below it.
  EXPECT_EQ(Find<wxGauge>(1001)->GetPosition(), Dlu(69, 155));
  EXPECT_EQ(Find<wxGauge>(1000)->GetPosition(), Dlu(69, 173));
  EXPECT_EQ(FindLabel("更新总进度：")->GetPosition(), Dlu(12, 157));
  EXPECT_EQ(FindLabel("当 前 进 度：")->GetPosition(), Dlu(12, 175));
  for (int id : {1000, 1001, 1003}) {
    EXPECT_EQ(Find<wxWindow>(id)->GetPosition().x, Dlu(69, 0).x) << id;
    EXPECT_EQ(Find<wxWindow>(id)->GetSize().x, window->ConvertDialogToPixels(wxSize(196, 0)).x)
        << id;
  }
  // A label cut to its size drops what does not fit: the column holds each in either language.
  for (TextId text : {TextId::kServerLabel, TextId::kTotalLabel, TextId::kFileLabel}) {
    wxStaticText* label = FindLabel(Text(text));
    ASSERT_NE(label, nullptr) << Text(text);
    EXPECT_EQ(label->GetSize().x, window->ConvertDialogToPixels(wxSize(54, 0)).x) << Text(text);
    for (Language language : {Language::kChinese, Language::kEnglish}) {
      EXPECT_LE(label->GetTextExtent(WxText(Text(text, language))).x, label->GetSize().x)
          << Text(text, language);
    }
  }
  EXPECT_EQ(Find<wxButton>(1005)->GetPosition(), Dlu(118, 193));
  EXPECT_EQ(Find<wxListBox>(1008)->GetRect(),
            wxRect(Dlu(12, 39), window->ConvertDialogToPixels(wxSize(252, 93))));
}

// The window's own texts come from the catalogue, in the process's language.
TEST_F(UpdateWindowTest, EnglishWindowSaysEverythingInEnglish) {
  SetLanguage(Language::kEnglish);
  UpdateWindow english(events);
  SetLanguage(Language::kChinese);
  EXPECT_EQ(Utf8Text(english.GetTitle()), "Varnholm automatic update client");
  std::vector<std::string> texts;
  for (wxWindow* child : english.GetChildren()) {
    if (dynamic_cast<wxStaticText*>(child) || dynamic_cast<wxButton*>(child) ||
        dynamic_cast<wxStaticBox*>(child)) {
      texts.push_back(Utf8Text(child->GetLabel()));
    }
  }
  for (TextId text :
       {TextId::kGroupBox, TextId::kServerLabel, TextId::kTotalLabel, TextId::kFileLabel,
        TextId::kCloseButton, TextId::kAutoSelectButton, TextId::kUpdateNowButton}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), Text(text, Language::kEnglish)), texts.end())
        << Text(text, Language::kEnglish);
  }
}

// The box sorts the servers; the one chosen is selected wherever it lands, and picking an item
// tells its place in the list.
TEST_F(UpdateWindowTest, ServerBoxSortsAndTellsEachItemsPlaceInTheList) {
  window->ServersListed({"B", "镜像", "A"}, 2);
  auto* combo = Find<wxComboBox>(1003);
  ASSERT_EQ(combo->GetCount(), 3u);
  EXPECT_EQ(Utf8Text(combo->GetString(0)), "A");
  EXPECT_EQ(Utf8Text(combo->GetString(1)), "B");
  EXPECT_EQ(combo->GetSelection(), 0);

  combo->SetSelection(1);
  wxCommandEvent picked(wxEVT_COMBOBOX, 1003);
  picked.SetEventObject(combo);
  combo->ProcessWindowEvent(picked);
  EXPECT_EQ(events.chosen, std::vector<size_t>{0});

  window->ServersListed({"C"}, 0);  // a new list replaces the old
  EXPECT_EQ(combo->GetCount(), 1u);
  EXPECT_EQ(combo->GetSelection(), 0);
}

TEST_F(UpdateWindowTest, LogAppendsSelectsAndKeepsCodes) {
  window->LogLine("10:00:00 正在连接获取服务器列表", 0);
  window->LogLine("10:00:01 下载文件失败 [a.dll], 错误代码 [7]", 7);
  auto* log = Find<wxListBox>(1008);
  ASSERT_EQ(log->GetCount(), 2u);
  EXPECT_EQ(Utf8Text(log->GetString(1)), "10:00:01 下载文件失败 [a.dll], 错误代码 [7]");
  EXPECT_EQ(log->GetSelection(), 1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(log->GetClientData(0)), 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(log->GetClientData(1)), 7u);

  window->LogCleared();
  EXPECT_EQ(log->GetCount(), 0u);
}

TEST_F(UpdateWindowTest, StatusLineAndEnablingShowWhatTheyAreGiven) {
  window->StatusChanged("下载文件成功 [R&D.txt]");
  EXPECT_EQ(Utf8Text(Find<wxStaticText>(1010)->GetLabelText()), "下载文件成功 [R&D.txt]");
  window->StatusChanged("下载文件成功 [\xff.txt]");  // not UTF-8: still shown, not blanked
  EXPECT_NE(Utf8Text(Find<wxStaticText>(1010)->GetLabelText()).find("下载文件成功 ["),
            std::string::npos);

  window->ChoiceEnabled(false);
  EXPECT_FALSE(Find<wxComboBox>(1003)->IsEnabled());
  EXPECT_FALSE(Find<wxButton>(1005)->IsEnabled());
  window->ChoiceEnabled(true);
  EXPECT_TRUE(Find<wxComboBox>(1003)->IsEnabled());
  EXPECT_TRUE(Find<wxButton>(1005)->IsEnabled());
}

TEST_F(UpdateWindowTest, ProgressIsDrawnAtDisplayRateAndEndsOnTheLatestValues) {
  auto* file = Find<wxGauge>(1000);
  auto* total = Find<wxGauge>(1001);
  window->FileProgress(50);
  EXPECT_EQ(file->GetValue(), 50);  // the first change after a quiet spell shows at once

  const uint64_t drawsBefore = window->DisplayDraws();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) {
    window->FileProgress(i % 100);
    window->RunProgress(i / 40);  // ends at 124: more than the bar holds
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const uint64_t allowed = 1 + static_cast<uint64_t>(elapsed / milliseconds(50));
  EXPECT_LE(window->DisplayDraws() - drawsBefore, allowed);

  // Without any further change the owed values arrive by themselves.
  EXPECT_TRUE(RunEventsUntil([&] { return file->GetValue() == 99 && total->GetValue() == 100; },
                             milliseconds(2000)));
}

TEST_F(UpdateWindowTest, TrayIconShowsItsFramesAndTip) {
  window->ChunksArrived(1, -1);  // no icon yet: nothing to draw
  EXPECT_EQ(window->ShownTrayIcon(), 0);

  window->Started(100);
  window->StopTimers();
  EXPECT_EQ(window->ShownTrayIcon(), 130);
  EXPECT_EQ(window->ShownTrayTip(), "正在自动更新");

  window->ChunksArrived(1, -1);
  window->ChunksArrived(1, 42);
  window->FlushDisplay();
  EXPECT_EQ(window->ShownTrayIcon(), 132);
  EXPECT_EQ(window->ShownTrayTip(), "42%");

  window->RemoveTrayIcon();
  EXPECT_EQ(window->ShownTrayIcon(), 0);
  window->ChunksArrived(1, 50);
  window->FlushDisplay();
  EXPECT_EQ(window->ShownTrayIcon(), 0);
}

TEST_F(UpdateWindowTest, HandsTheTimerAndTheUpdateButtonOn) {
  window->Started(100);
  EXPECT_TRUE(RunEventsUntil([&] { return events.timers.size() >= 2; }, milliseconds(3000)));
  window->StopTimers();
  for (unsigned id : events.timers) {
    EXPECT_EQ(id, 1000u);
  }

  wxCommandEvent click(wxEVT_BUTTON, 1005);
  click.SetEventObject(Find<wxButton>(1005));
  Find<wxButton>(1005)->ProcessWindowEvent(click);
  EXPECT_EQ(events.updateNowClicks, 1);
}

TEST_F(UpdateWindowTest, EscapeEnterTheCloseBoxAndTheUpdateLogicEndTheDialog) {
  EXPECT_TRUE(ModalEndsAfter([this] { PressKey(WXK_ESCAPE); }));
  EXPECT_TRUE(ModalEndsAfter([this] { PressKey(WXK_RETURN); }));
  EXPECT_TRUE(ModalEndsAfter([this] { window->Close(); }));
  EXPECT_TRUE(ModalEndsAfter([this] { window->EndDialog(); }));
  EXPECT_FALSE(ModalEndsAfter([this] { PressKey('A'); }));
  EXPECT_EQ(events.updateNowClicks, 0);
}

TEST_F(UpdateWindowTest, MessageBoxShowsTheTextAndWaitsForIt) {
  // Stands in for the user: reads the box's text and presses OK.
  class DismissingHook : public wxModalDialogHook {
   protected:
    int Enter(wxDialog* dialog) override {
      if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        message = Utf8Text(box->GetMessage());
      }
      return wxID_OK;
    }
    void Exit(wxDialog*) override {}

   public:
    std::string message;
  } hook;
  hook.Register();
  window->ShowMessage("装载远程版本信息失败!");
  hook.Unregister();
  EXPECT_EQ(hook.message, "装载远程版本信息失败!");
}

}  // namespace
