#include <windows.h>

#include <vector>

#include "platform/module_directory.h"
#include "platform/wide_text.h"

std::string ModuleDirectory() {
  // Grown until the whole path fits: a path may be longer than MAX_PATH.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return "./";  // local paths then stay relative to where we run
    }
    if (length < buffer.size()) {
      return DirectoryOfPath(FromWide(std::wstring(buffer.data(), length)));
    }
    buffer.resize(buffer.size() * 2);
  }
}
