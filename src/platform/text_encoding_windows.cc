#include <windows.h>

#include "platform/text_encoding.h"
#include "platform/wide_text.h"

namespace {

// GB18030; GBK (code page 936) on a system that lacks it, whose two-byte characters are the same.
constexpr UINT kGb18030 = 54936;
constexpr UINT kGbk = 936;

bool IsDigit(unsigned char c) {
  return c >= 0x30 && c <= 0x39;
}

bool IsLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

// The length of the GB18030 character at text[at] by its bytes' ranges alone: 1, 2 or 4; 1 for a
// byte that starts none (the converter then tells it invalid).
size_t CharacterLength(const std::string& text, size_t at) {
  const size_t left = text.size() - at;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  if (!IsLeadByte(byte(0)) || left < 2) {
    return 1;
  }
  if (IsDigit(byte(1))) {
    return left >= 4 && IsLeadByte(byte(2)) && IsDigit(byte(3)) ? 4 : 1;
  }
  return (byte(1) >= 0x40 && byte(1) <= 0xFE && byte(1) != 0x7F) ? 2 : 1;
}

// Converts exactly; false when any byte is invalid in the code page.
bool ConvertStrict(UINT codePage, const char* data, size_t size, std::wstring& out) {
  if (size == 0) {
    out.clear();
    return true;
  }
  const int length =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0);
  if (length <= 0) {
    return false;
  }
  out.assign(static_cast<size_t>(length), L'\0');
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, static_cast<int>(size),
                             out.data(), length) == length;
}

// Character by character, so that every byte that starts no valid character becomes one U+FFFD
// and the conversion goes on after it.
std::wstring ConvertReplacing(UINT codePage, const std::string& text) {
  std::wstring wide;
  std::wstring piece;
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = CharacterLength(text, at);
    if (ConvertStrict(codePage, text.data() + at, length, piece)) {
      wide += piece;
      at += length;
    } else {
      wide += L'\xFFFD';
      ++at;
    }
  }
  return wide;
}

}  // namespace

bool Gb18030ToUtf8(const std::string& text, std::string& out) {
  const UINT codePage = IsValidCodePage(kGb18030) ? kGb18030 : (IsValidCodePage(kGbk) ? kGbk : 0);
  if (codePage == 0) {
    return false;
  }
  std::wstring wide;
  if (!ConvertStrict(codePage, text.data(), text.size(), wide)) {
    wide = ConvertReplacing(codePage, text);
  }
  out = FromWide(wide);
  return true;
}
