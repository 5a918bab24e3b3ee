// The Win32 dialog under Wine, on a display: the template as the executable carries it, the view
// calls on its controls, and how a user ends the dialog.

#include "ui/win32/update_dialog_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "platform/wide_text.h"
#include "texts/texts.h"
#include "transfer/transfer_library.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_front_end.h"

namespace {

// Wine draws windows only on an X display; without one every case here is skipped.
class DisplayNeeded : public testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "the dialog needs a display (scripts/test runs this pass on Xvfb)";
    }
  }
};
const testing::Environment* const kDisplayNeeded =
    testing::AddGlobalTestEnvironment(new DisplayNeeded);

const wchar_t kTitle[] = L"Varnholm自动更新客户端";

INT_PTR CALLBACK IdleProcedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A modeless dialog from the template with an UpdateDialogWindow attached to it.
class UpdateDialogWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG),
                                nullptr, &IdleProcedure, 0);
    ASSERT_NE(dialog, nullptr);
    window.Attach(dialog);
  }
  void TearDown() override {
    window.Detach();
    DestroyWindow(dialog);
  }
  LRESULT Send(int control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageW(dialog, control, message, wParam, lParam);
  }

  HWND dialog = nullptr;
  UpdateDialogWindow window;
};

TEST_F(UpdateDialogWindowTest, TemplateHasEveryControlInItsPlace) {
  struct Control {
    int id;
    const wchar_t* className;
    RECT units;  // left, top, width, height in dialog units
    bool visible;
    const wchar_t* text;
    DWORD style;  // the control's own bits that must be set (borders become 3-D edges)
  };
  const Control controls[] = {
      {IDOK, L"Button", {181, 193, 50, 14}, false, L"关闭", 0},
      {IDC_FILE_PROGRESS, L"msctls_progress32", {69, 173, 196, 12}, true, L"", PBS_SMOOTH},
      {IDC_TOTAL_PROGRESS, L"msctls_progress32", {69, 155, 196, 12}, true, L"", PBS_SMOOTH},
      {IDC_SERVER_COMBO, L"ComboBox", {69, 21, 196, 0}, true, L"", CBS_DROPDOWNLIST | CBS_SORT},
      {IDC_AUTO_SELECT, L"Button", {46, 193, 59, 14}, false, L"自动选择服务器", 0},
      {IDC_UPDATE_NOW, L"Button", {118, 193, 50, 14}, true, L"立即更新", 0},
      {IDC_LOG, L"ListBox", {12, 39, 252, 93}, true, L"", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT},
      {IDC_STATUS, L"Static", {12, 136, 253, 14}, true, L"", SS_SUNKEN | SS_NOPREFIX},
  };
  for (const Control& control : controls) {
    SCOPED_TRACE(control.id);
    HWND item = GetDlgItem(dialog, control.id);
    ASSERT_NE(item, nullptr);
    wchar_t name[64] = {};
    GetClassNameW(item, name, 64);
    EXPECT_EQ(lstrcmpiW(name, control.className), 0);
    EXPECT_EQ(IsWindowVisible(item) != FALSE, control.visible);
    wchar_t text[64] = {};
    GetWindowTextW(item, text, 64);
    EXPECT_EQ(std::wstring(text), control.text);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(item, GWL_STYLE));
    EXPECT_EQ(style & control.style, control.style);

    // A control's place and size are converted apart, each rounded on its own.
    RECT mapped = control.units;
    MapDialogRect(dialog, &mapped);
    const RECT expected = {mapped.left, mapped.top, mapped.left + mapped.right,
                           mapped.top + mapped.bottom};
    RECT actual{};
    GetWindowRect(item, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    if (control.units.bottom != 0) {  // the combo box's height is its dropped list's
      EXPECT_EQ(actual.bottom, expected.bottom);
    }
  }
  RECT client{};
  GetClientRect(dialog, &client);
  RECT size = {0, 0, 279, 223};
  MapDialogRect(dialog, &size);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, IDC_LOG), GWL_STYLE) & LBS_SORT, 0);  // in order
  const DWORD frame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)) & frame, frame);
  wchar_t title[64] = {};
  GetWindowTextW(dialog, title, 64);
  EXPECT_EQ(std::wstring(title), kTitle);
}

// In either language: the dialog sets each label's text from the catalogue.
TEST_F(UpdateDialogWindowTest, LabelsHoldTheirTextOnOneLine) {
  const struct {
    int id;
    TextId text;
    RECT units;
  } labels[] = {{IDC_SERVER_LABEL, TextId::kServerLabel, {12, 23, 54, 8}},
                {IDC_TOTAL_LABEL, TextId::kTotalLabel, {12, 157, 54, 8}},
                {IDC_FILE_LABEL, TextId::kFileLabel, {12, 175, 54, 8}}};
  for (const auto& [id, textId, units] : labels) {
    HWND label = GetDlgItem(dialog, id);
    ASSERT_NE(label, nullptr);
    RECT mapped = units;
    MapDialogRect(dialog, &mapped);
    RECT actual{};
    GetWindowRect(label, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, mapped.left);
    EXPECT_EQ(actual.top, mapped.top);
    EXPECT_EQ(actual.right - actual.left, mapped.right);
    // A static wraps what does not fit, and a second line falls below its 8 units.
    HDC dc = GetDC(label);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    for (Language language : {Language::kChinese, Language::kEnglish}) {
      const std::wstring text = ToWide(Text(textId, language));
      RECT needed{};
      DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      EXPECT_LE(needed.right, actual.right - actual.left) << Text(textId, language);
    }
    SelectObject(dc, old);
    ReleaseDC(label, dc);
  }
}

// The template keeps the Chinese texts; the dialog shows those of the process's language.
TEST(UpdateDialogWindowTexts, EnglishDialogSaysEverythingInEnglish) {
  SetLanguage(Language::kEnglish);
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG),
                                   nullptr, &IdleProcedure, 0);
  ASSERT_NE(dialog, nullptr);
  UpdateDialogWindow window;
  window.Attach(dialog);
  SetLanguage(Language::kChinese);
  const std::pair<int, TextId> texts[] = {
      {0, TextId::kWindowTitle},
      {IDC_GROUP, TextId::kGroupBox},
      {IDC_SERVER_LABEL, TextId::kServerLabel},
      {IDC_TOTAL_LABEL, TextId::kTotalLabel},
      {IDC_FILE_LABEL, TextId::kFileLabel},
      {IDOK, TextId::kCloseButton},
      {IDC_AUTO_SELECT, TextId::kAutoSelectButton},
      {IDC_UPDATE_NOW, TextId::kUpdateNowButton},
  };
  for (const auto& [id, text] : texts) {
    wchar_t shown[64] = {};
    GetWindowTextW(id == 0 ? dialog : GetDlgItem(dialog, id), shown, 64);
    EXPECT_EQ(FromWide(shown), Text(text, Language::kEnglish));
  }
  window.Detach();
  DestroyWindow(dialog);
}

TEST_F(UpdateDialogWindowTest, ControlsShowWhatTheViewIsTold) {
  window.ServersListed({"b", "a"}, 0);  // "a" is sorted ahead of "b", which stays chosen
  EXPECT_EQ(Send(IDC_SERVER_COMBO, CB_GETCOUNT), 2);
  EXPECT_EQ(Send(IDC_SERVER_COMBO, CB_GETCURSEL), 1);
  size_t chosen = 9;
  ASSERT_TRUE(window.SelectedServer(chosen));
  EXPECT_EQ(chosen, 0u);
  Send(IDC_SERVER_COMBO, CB_SETCURSEL, 0);
  ASSERT_TRUE(window.SelectedServer(chosen));
  EXPECT_EQ(chosen, 1u);

  for (uint32_t code : {0u, 7u, 2u}) {
    window.LogLine("12:00:00 下载文件成功 [a&b]", code);
  }
  EXPECT_EQ(Send(IDC_LOG, LB_GETCOUNT), 3);
  EXPECT_EQ(Send(IDC_LOG, LB_GETCURSEL), 2);
  EXPECT_EQ(Send(IDC_LOG, LB_GETITEMDATA, 1), 7);
  wchar_t line[64] = {};
  Send(IDC_LOG, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(std::wstring(line), L"12:00:00 下载文件成功 [a&b]");

  window.StatusChanged("正在更新文件：a&b");
  wchar_t status[64] = {};
  GetDlgItemTextW(dialog, IDC_STATUS, status, 64);
  EXPECT_EQ(std::wstring(status), L"正在更新文件：a&b");

  window.FileProgress(150);
  window.RunProgress(-5);
  window.FlushDisplay();
  EXPECT_EQ(Send(IDC_FILE_PROGRESS, PBM_GETPOS), 100);
  EXPECT_EQ(Send(IDC_TOTAL_PROGRESS, PBM_GETPOS), 0);
}

class NoLauncher : public Launcher {
 public:
  bool Launch(const std::string&, const std::string&, std::string&) override {
    ++launches;
    return true;
  }
  int launches = 0;
};

// The user ends the dialog while the server list cannot be fetched: the run is not finished.
TEST(UpdateDialogRunTest, UserEndsTheDialogWithoutAFinishedRun) {
  ASSERT_TRUE(InitializeTransfers());
  struct Ending {
    const char* name;
    UINT message;
    WPARAM wParam;
  };
  const Ending endings[] = {
      {"Escape", WM_KEYDOWN, VK_ESCAPE},
      {"Enter", WM_KEYDOWN, VK_RETURN},
      {"close box", WM_SYSCOMMAND, SC_CLOSE},
  };
  UpdateSettings settings;
  settings.serverlist = "http://127.0.0.1:9/servers.txt";
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    std::atomic<bool> minimised{true};
    std::thread user([&] {
      HWND dialog = nullptr;
      for (int tries = 0; tries < 500 && dialog == nullptr; ++tries) {
        Sleep(10);
        dialog = FindWindowW(nullptr, kTitle);
      }
      SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      minimised = IsIconic(dialog) != FALSE;
      PostMessageW(dialog, ending.message, ending.wParam, 0);
    });
    NoLauncher launcher;
    EXPECT_EQ(RunUpdateDialogWindow(settings, launcher), 1);
    user.join();
    EXPECT_FALSE(minimised);
    EXPECT_EQ(launcher.launches, 0);
    EXPECT_EQ(FindWindowW(nullptr, kTitle), nullptr);
  }
  ShutdownTransfers();
}

TEST(UpdateDialogRunTest, EmptyServerListEndsAtOnce) {
  UpdateSettings settings;
  NoLauncher launcher;
  EXPECT_EQ(RunUpdateDialogWindow(settings, launcher), 1);
}

}  // namespace
