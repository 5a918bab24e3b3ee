#include "ui/server_list_parser.h"

#include <cstring>

namespace {

const char kBlanks[] = " \t\r\n\v\f";

// The bounds of [first, last) without the blanks at either end.
void TrimBounds(const std::string& text, size_t& first, size_t& last) {
  while (first < last && std::char_traits<char>::find(kBlanks, sizeof kBlanks - 1, text[first])) {
    ++first;
  }
  while (last > first &&
         std::char_traits<char>::find(kBlanks, sizeof kBlanks - 1, text[last - 1])) {
    --last;
  }
}

}  // namespace

std::vector<ServerLine> ParseServerLines(const std::string& content) {
  std::vector<ServerLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      end = content.size();
    }
    size_t first = start;
    size_t last = end;
    start = end + 1;
    TrimBounds(content, first, last);
    // Searched within the line only, so a long list of lines without "|" stays linear.
    const void* found = std::memchr(content.data() + first, '|', last - first);
    if (found == nullptr) {
      continue;
    }
    size_t bar = static_cast<size_t>(static_cast<const char*>(found) - content.data());
    if (bar == first) {
      continue;
    }
    size_t nameFirst = first, nameLast = bar;
    size_t urlFirst = bar + 1, urlLast = last;
    TrimBounds(content, nameFirst, nameLast);
    TrimBounds(content, urlFirst, urlLast);
    if (nameFirst == nameLast || urlFirst == urlLast) {
      continue;
    }
    lines.push_back(ServerLine{content.substr(nameFirst, nameLast - nameFirst),
                               content.substr(urlFirst, urlLast - urlFirst)});
  }
  return lines;
}
