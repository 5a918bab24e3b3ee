#pragma once

#include <wx/strconv.h>
#include <wx/string.h>

#include <string>

// The program's texts are UTF-8; wx strings are made from them explicitly, whatever the locale.
// Bytes that are not UTF-8 show as octal escapes rather than emptying the whole text.
inline wxString WxText(const std::string& utf8) {
  wxString text = wxString::FromUTF8(utf8.data(), utf8.size());
  if (text.empty() && !utf8.empty()) {
    const wxMBConvUTF8 lenient(wxMBConvUTF8::MAP_INVALID_UTF8_TO_OCTAL);
    text = wxString(utf8.data(), lenient, utf8.size());
  }
  return text;
}
