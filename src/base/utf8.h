#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One character of UTF-8 text, as ReadUtf8Char finds it.
struct Utf8Char {
  uint32_t codePoint = 0xFFFD;  // U+FFFD when valid is false
  size_t length = 1;            // bytes to step over: a stray byte is stepped over alone
  bool valid = false;
};

// The character that starts at text[at] (at < text.size()). Only well-formed UTF-8 is valid: no
// overlong forms, no surrogates, nothing above U+10FFFF, nothing cut short.
inline Utf8Char ReadUtf8Char(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return {lead, 1, true};
  }
  size_t length = 0;
  uint32_t codePoint = 0;
  // The second byte's range: narrower after some leads.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) {
      low = 0xA0;  // no overlong forms
    } else if (lead == 0xED) {
      high = 0x9F;  // no surrogates
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) {
      low = 0x90;  // no overlong forms
    } else if (lead == 0xF4) {
      high = 0x8F;  // nothing above U+10FFFF
    }
  } else {
    return {};
  }
  if (text.size() - at < length) {
    return {};
  }
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = byte(k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
      return {};
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return {codePoint, length, true};
}
