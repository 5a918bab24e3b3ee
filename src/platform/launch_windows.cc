#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>

#include "platform/launch.h"
#include "platform/wide_text.h"

namespace {

// path with Windows separators, a doubled separator made one (the shell takes a path as written);
// a leading "\\" of a network path stays.
std::wstring ShellPath(const std::string& path) {
  std::wstring wide = ToWide(path);
  std::wstring result;
  result.reserve(wide.size());
  for (wchar_t c : wide) {
    const wchar_t separator = c == L'/' ? L'\\' : c;
    if (separator == L'\\' && result.size() > 1 && result.back() == L'\\') {
      continue;
    }
    result.push_back(separator);
  }
  return result;
}

// The Win32 error that a ShellExecuteW result of 32 or less stands for: most are one already,
// the shell's own codes are not.
DWORD ShellErrorCode(INT_PTR result) {
  switch (result) {
    case 0:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
      return ERROR_SHARING_VIOLATION;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
      return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
      return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
      return ERROR_DLL_NOT_FOUND;
    default:
      return static_cast<DWORD>(result);
  }
}

// The launcher of this platform: the shell's default verb, as a double click would start the
// file (a program runs, a document opens in its application). Window's thread.
class WindowsLauncher : public Launcher {
 public:
  bool Launch(const std::string& path, const std::string& parameters,
              std::string& failure) override {
    const std::wstring file = ShellPath(path);
    const std::wstring words = ToWide(parameters);
    // No working directory: the program starts in ours.
    const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, nullptr, file.c_str(), words.empty() ? nullptr : words.c_str(), nullptr, SW_SHOW));
    if (result > 32) {
      return true;
    }
    failure = SystemErrorText(ShellErrorCode(result));
    return false;
  }
};

}  // namespace

Launcher& SystemLauncher() {
  static WindowsLauncher launcher;
  return launcher;
}
