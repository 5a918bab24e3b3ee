#pragma once

#include <string>
#include <vector>

// One usable line of a server list: a display name and the server's base URL, both trimmed.
struct ServerLine {
  std::string name;
  std::string url;
};

// Splits a downloaded server list into its usable lines, in file order. A line ends at LF (a CR
// before it is trimmed away); the first "|" splits it into a name and a URL, each trimmed of
// blanks. Lines without a "|", beginning with one, or with an empty name or URL are skipped; a
// further "|" belongs to the URL. Pure; any thread.
std::vector<ServerLine> ParseServerLines(const std::string& content);
