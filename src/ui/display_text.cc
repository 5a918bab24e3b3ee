#include "ui/display_text.h"

#include "base/utf8.h"
#include "platform/text_encoding.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Converts GB18030 bytes to UTF-8, one U+FFFD for every byte that starts no valid character.
// Without the system's converter only the UTF-8 sequences in text survive.
std::string FromGb18030(const std::string& text) {
  std::string out;
  if (Gb18030ToUtf8(text, out)) {
    return out;
  }
  for (size_t i = 0; i < text.size();) {
    const Utf8Char c = ReadUtf8Char(text, i);
    if (c.valid) {
      out.append(text, i, c.length);
    } else {
      out += kReplacement;
    }
    i += c.length;
  }
  return out;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const Utf8Char c = ReadUtf8Char(text, i);
    if (!c.valid) {
      return false;
    }
    i += c.length;
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
