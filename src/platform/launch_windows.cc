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

// The launcher of this platform: the shell's default verb, as a double click would start the
// file (a program runs, a document opens in its application). Window's thread.
class WindowsLauncher : public Launcher {
 public:
  void Launch(const std::string& path, const std::string& parameters) override {
    const std::wstring file = ShellPath(path);
    const std::wstring words = ToWide(parameters);
    // No working directory: the program starts in ours. Launch failures are not reported.
    ShellExecuteW(nullptr, nullptr, file.c_str(), words.empty() ? nullptr : words.c_str(), nullptr,
                  SW_SHOW);
  }
};

}  // namespace

Launcher& SystemLauncher() {
  static WindowsLauncher launcher;
  return launcher;
}
