#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "ui/server_list_parser.h"

namespace {

const char kBlanks[] = " \t\r\n\v\f";

bool IsBlank(char c) {
  return c != '\0' && std::strchr(kBlanks, c) != nullptr;
}

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return std::string_view();
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The line rules written the plain way, line by line: the parser must agree.
std::vector<std::pair<std::string_view, std::string_view>> Reference(std::string_view content) {
  std::vector<std::pair<std::string_view, std::string_view>> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) {
      end = content.size();
    }
    std::string_view line = Trim(content.substr(start, end - start));
    start = end + 1;
    size_t bar = line.find('|');
    if (bar == std::string_view::npos || bar == 0) {
      continue;
    }
    std::string_view name = Trim(line.substr(0, bar));
    std::string_view url = Trim(line.substr(bar + 1));
    if (!name.empty() && !url.empty()) {
      lines.emplace_back(name, url);
    }
  }
  return lines;
}

}  // namespace

int FuzzServerList(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::vector<ServerLine> lines = ParseServerLines(content);
  const auto expected = Reference(content);
  FUZZ_CHECK(lines.size() == expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const ServerLine& line = lines[i];
    FUZZ_CHECK(line.name == expected[i].first);
    FUZZ_CHECK(line.url == expected[i].second);
    FUZZ_CHECK(!line.name.empty() && !line.url.empty());
    FUZZ_CHECK(!IsBlank(line.name.front()) && !IsBlank(line.name.back()));
    FUZZ_CHECK(!IsBlank(line.url.front()) && !IsBlank(line.url.back()));
    FUZZ_CHECK(line.name.find_first_of("|\n") == std::string::npos);
    FUZZ_CHECK(line.url.find('\n') == std::string::npos);
  }
  return 0;
}
