#include "ui/display_text.h"

#include "platform/text_encoding.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at text[i], or 0 when there is none.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const size_t n = text.size();
  unsigned char c = byte(i);
  if (c < 0x80) {
    return 1;
  }
  size_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) {
      low = 0xA0;  // no overlong forms
    } else if (c == 0xED) {
      high = 0x9F;  // no surrogates
    }
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) {
      low = 0x90;
    } else if (c == 0xF4) {
      high = 0x8F;  // nothing above U+10FFFF
    }
  } else {
    return 0;
  }
  if (i + length > n) {
    return 0;
  }
  if (byte(i + 1) < low || byte(i + 1) > high) {
    return 0;
  }
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
      return 0;
    }
  }
  return length;
}

// Converts GB18030 bytes to UTF-8, one U+FFFD for every byte that starts no valid character.
// Without the system's converter only the UTF-8 sequences in text survive.
std::string FromGb18030(const std::string& text) {
  std::string out;
  if (Gb18030ToUtf8(text, out)) {
    return out;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += kReplacement;
    } else {
      out.append(text, i, length);
      i += length - 1;
    }
  }
  return out;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string DisplayText(const std::string& text) {
  if (IsValidUtf8(text)) {
    return text;
  }
  return FromGb18030(text);
}

std::string CutAtCharBoundary(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) {
    return text;
  }
  size_t cut = maxBytes;
  // Step back over continuation bytes to the start of the character that would be cut.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return text.substr(0, cut);
}
