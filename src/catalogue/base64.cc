#include "catalogue/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of one base64 digit; -1 for any other character.
int DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  if (c == '+') {
    return 62;
  }
  if (c == '/') {
    return 63;
  }
  return -1;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t left = bytes.size() - i;
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (left > 1) {
      group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    }
    if (left > 2) {
      group |= static_cast<uint8_t>(bytes[i + 2]);
    }
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  if (text.size() % 4 != 0) {
    return false;
  }
  bytes.clear();
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int padding = 0;
    uint32_t group = 0;
    for (size_t j = 0; j < 4; ++j) {
      char c = text[i + j];
      int value = DigitValue(c);
      if (c == '=' && last && j >= 2 && (j == 3 || text[i + 3] == '=')) {
        ++padding;
        value = 0;
      } else if (value < 0 || padding > 0) {
        return false;
      }
      group = (group << 6) | static_cast<uint32_t>(value);
    }
    // Bits below the last full byte must be zero, so that every value has one spelling.
    if ((padding == 1 && (group & 0xff) != 0) || (padding == 2 && (group & 0xffff) != 0)) {
      return false;
    }
    bytes += static_cast<char>(group >> 16);
    if (padding < 2) {
      bytes += static_cast<char>((group >> 8) & 0xff);
    }
    if (padding < 1) {
      bytes += static_cast<char>(group & 0xff);
    }
  }
  return true;
}
