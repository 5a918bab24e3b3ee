#pragma once

#include <wx/string.h>

#include <string>

// The program's texts are UTF-8; wx strings are made from them explicitly, whatever the locale.
inline wxString WxText(const std::string& utf8) {
  return wxString::FromUTF8(utf8.data(), utf8.size());
}

inline std::string Utf8Text(const wxString& text) {
  const wxScopedCharBuffer buffer = text.utf8_str();
  return std::string(buffer.data(), buffer.length());
}
