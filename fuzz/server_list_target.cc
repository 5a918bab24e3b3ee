#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "ui/server_list_parser.h"

namespace {

const char kBlanks[] = " \t\r\n\v\f";

bool IsBlank(char c) {
  return std::string(kBlanks).find(c) != std::string::npos;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) {
    return std::string();
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The line rules written the plain way, line by line with copies: the parser must agree.
std::vector<ServerLine> Reference(const std::string& content) {
  std::vector<ServerLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      end = content.size();
    }
    std::string line = Trim(content.substr(start, end - start));
    start = end + 1;
    size_t bar = line.find('|');
    if (bar == std::string::npos || bar == 0) {
      continue;
    }
    std::string name = Trim(line.substr(0, bar));
    std::string url = Trim(line.substr(bar + 1));
    if (!name.empty() && !url.empty()) {
      lines.push_back(ServerLine{name, url});
    }
  }
  return lines;
}

}  // namespace

int FuzzServerList(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::vector<ServerLine> lines = ParseServerLines(content);
  const std::vector<ServerLine> expected = Reference(content);
  FUZZ_CHECK(lines.size() == expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const ServerLine& line = lines[i];
    FUZZ_CHECK(line.name == expected[i].name);
    FUZZ_CHECK(line.url == expected[i].url);
    FUZZ_CHECK(!line.name.empty() && !line.url.empty());
    FUZZ_CHECK(!IsBlank(line.name.front()) && !IsBlank(line.name.back()));
    FUZZ_CHECK(!IsBlank(line.url.front()) && !IsBlank(line.url.back()));
    FUZZ_CHECK(line.name.find_first_of("|\n") == std::string::npos);
    FUZZ_CHECK(line.url.find('\n') == std::string::npos);
  }
  return 0;
}
