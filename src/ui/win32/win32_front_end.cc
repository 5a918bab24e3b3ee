#include "ui/win32/win32_front_end.h"

#include "ui/win32/win32_api.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "platform/wide_text.h"
#include "texts/texts.h"
#include "ui/update_dialog.h"
#include "ui/win32/dialog_message_target.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/update_dialog_window.h"

namespace {

// One dialog's window, message queue and update logic, as its dialog procedure reaches them.
// Dialog's thread.
struct DialogSession {
  UpdateDialogWindow window;
  UpdateDialog* dialog = nullptr;  // null once the dialog ends: nothing reaches it any more
  DialogMessageTarget target{[this](const PostedMessage& message, size_t copies) {
    if (dialog != nullptr) {
      dialog->Dispatch(message, copies);
    }
  }};
  // Last, so that its transfers are joined while the queue they post to still stands.
  std::unique_ptr<UpdateDialog> owner;
  int exitStatus = 1;
};

// Ends the session's traffic while the window still stands: nothing reaches the update logic
// any more, and the tray icon goes with the window.
void EndSession(DialogSession& session) {
  session.target.Close();
  session.target.Attach(nullptr);
  session.window.StopTimers();
  if (session.dialog != nullptr) {
    session.dialog->OnClose();
    session.dialog = nullptr;
  }
  session.window.Detach();
}

// Ends the session and its update logic: a running transfer is cancelled and joined, its
// temporary file removed.
void CloseSession(DialogSession& session) {
  EndSession(session);
  if (session.owner) {
    session.exitStatus = session.owner->ExitStatus();
    session.owner.reset();
  }
}

INT_PTR HandleCommand(DialogSession& session, WORD id, WORD code) {
  switch (id) {
    case IDC_UPDATE_NOW:
      if (code == BN_CLICKED && session.dialog != nullptr) {
        session.dialog->OnUpdateNow();
      }
      return TRUE;
    case IDC_SERVER_COMBO: {
      size_t index = 0;
      if (code == CBN_SELCHANGE && session.dialog != nullptr &&
          session.window.SelectedServer(index)) {
        session.dialog->OnServerChosen(index);
      }
      return TRUE;
    }
    case IDOK:      // Enter, through the hidden default button
    case IDCANCEL:  // Escape and the close box
      session.window.EndDialog();
      return TRUE;
    default:
      return FALSE;  // the hidden "自动选择服务器" among them: its click does nothing
  }
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* session = reinterpret_cast<DialogSession*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    session->window.Attach(window);
    session->target.Attach(window);
    if (!session->dialog->OnInitDialog()) {
      session->window.EndDialog();  // no server list: the program ends before it is shown
    }
    return TRUE;
  }
  auto* session = reinterpret_cast<DialogSession*>(GetWindowLongPtrW(window, DWLP_USER));
  if (session == nullptr) {
    return FALSE;
  }
  if (session->target.HandleMessage(message, wParam) ||
      session->window.HandleMessage(message, wParam)) {
    return TRUE;
  }
  switch (message) {
    case WM_TIMER:
      if (session->dialog != nullptr) {
        session->dialog->OnTimer(static_cast<unsigned>(wParam));
      }
      return TRUE;
    case WM_COMMAND:
      return HandleCommand(*session, LOWORD(wParam), HIWORD(wParam));
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;  // the window cannot be minimised
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(session->window.WindowIcon());
    case WM_ENDSESSION:
      // The user logs off: the process ends once this returns, so the transfers end now rather
      // than in the middle of a write.
      if (wParam != FALSE) {
        CloseSession(*session);
      }
      return TRUE;
    case WM_DESTROY:
      EndSession(*session);
      SetWindowLongPtrW(window, DWLP_USER, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

Win32Session::Win32Session() {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // Launching through the shell may need the component library on this thread.
  comStarted_ =
      SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
}

Win32Session::~Win32Session() {
  if (comStarted_) {
    CoUninitialize();
  }
}

void ShowTransfersFailed() {
  MessageBoxW(nullptr, ToWide(Text(TextId::kSocketsFailed)).c_str(), L"Lodestar",
              MB_OK | MB_ICONEXCLAMATION);
}

int RunUpdateDialogWindow(const UpdateSettings& settings, Launcher& launcher) {
  DialogSession session;
  session.owner =
      std::make_unique<UpdateDialog>(session.window, session.target, settings, launcher);
  session.dialog = session.owner.get();
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), nullptr,
                  &DialogProcedure, reinterpret_cast<LPARAM>(&session));
  // Also when the template could not be made. What a transfer posts meanwhile is dropped.
  CloseSession(session);
  return session.exitStatus;
}

CheckReport::CheckReport() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
    // A program of the window subsystem gets no console of its own: the one it was started from,
    // if any, takes the lines.
    out = AttachConsole(ATTACH_PARENT_PROCESS)
              ? CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr)
              : INVALID_HANDLE_VALUE;
  }
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    out_ = out;
    DWORD mode = 0;
    console_ = GetConsoleMode(out, &mode) != FALSE;
  }
}

void CheckReport::Print(const std::string& line) {
  if (out_ == nullptr) {
    collected_ += line + "\n";
    return;
  }
  DWORD written = 0;
  if (console_) {
    const std::wstring wide = ToWide(line + "\r\n");
    WriteConsoleW(out_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    const std::string bytes = line + "\r\n";  // UTF-8, as every text of the program
    WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
}

void CheckReport::Finish() {
  if (out_ == nullptr && !collected_.empty()) {
    MessageBoxW(nullptr, ToWide(collected_).c_str(), L"Lodestar", MB_OK | MB_ICONINFORMATION);
  }
}
