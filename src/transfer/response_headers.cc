#include "transfer/response_headers.h"

#include <algorithm>

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string TrimBlanks(const std::string& text) {
  const char* const kBlanks = " \t\r\n";
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string::npos) {
    return {};
  }
  return text.substr(begin, text.find_last_not_of(kBlanks) + 1 - begin);
}

bool KnownEncodings(const std::string& value, int& codings) {
  size_t begin = 0;
  while (begin <= value.size()) {
    const size_t end = std::min(value.find(',', begin), value.size());
    const std::string token = TrimBlanks(value.substr(begin, end - begin));
    if (EqualsIgnoringCase(token, "gzip") || EqualsIgnoringCase(token, "x-gzip") ||
        EqualsIgnoringCase(token, "deflate")) {
      ++codings;
    } else if (!token.empty() && !EqualsIgnoringCase(token, "identity")) {
      return false;
    }
    begin = end + 1;
  }
  return true;
}

bool ParseLength(const std::string& text, uint64_t& length) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  length = std::stoull(text);
  return true;
}

bool ContinuesAt(const std::string& value, uint64_t start, uint64_t total, bool totalKnown) {
  if (value.size() < 6 || !EqualsIgnoringCase(value.substr(0, 6), "bytes ")) {
    return false;
  }
  const size_t dash = value.find('-', 6);
  const size_t slash = value.find('/', 6);
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) {
    return false;
  }
  uint64_t first = 0;
  uint64_t last = 0;
  if (!ParseLength(value.substr(6, dash - 6), first) ||
      !ParseLength(value.substr(dash + 1, slash - dash - 1), last) || first != start ||
      last < first) {
    return false;
  }
  const std::string whole = value.substr(slash + 1);
  uint64_t length = 0;
  if (whole == "*") {
    return !totalKnown;
  }
  return ParseLength(whole, length) && length == last + 1 && (!totalKnown || length == total);
}
