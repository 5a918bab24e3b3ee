#include "platform/wide_text.h"

#include <windows.h>

namespace {

// The text in code page `page`; false when flags ask for strictness and a byte does not fit.
bool Decode(UINT page, DWORD flags, const std::string& text, std::wstring& wide) {
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(page, flags, text.data(), size, nullptr, 0);
  if (length <= 0) {
    return false;
  }
  wide.assign(static_cast<size_t>(length), L'\0');
  return MultiByteToWideChar(page, flags, text.data(), size, wide.data(), length) == length;
}

}  // namespace

std::wstring ToWide(const std::string& text) {
  std::wstring wide;
  if (text.empty() || Decode(CP_UTF8, MB_ERR_INVALID_CHARS, text, wide)) {
    return wide;
  }
  // Manifests written in the Chinese ANSI code page name their files in it: those bytes name the
  // same file here as they do on a Chinese Windows.
  if (Decode(54936, MB_ERR_INVALID_CHARS, text, wide) ||
      Decode(936, MB_ERR_INVALID_CHARS, text, wide)) {
    return wide;
  }
  Decode(CP_UTF8, 0, text, wide);
  return wide;
}

std::string FromWide(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string SystemErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? FromWide(std::wstring(buffer, length)) : std::string();
  LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}
