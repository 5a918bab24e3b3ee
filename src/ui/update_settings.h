#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The configuration values the update run needs, read once at start.
struct UpdateSettings {
  std::string serverlist;  // URL of the server list; empty ends the program at once
  bool automatic = false;  // "auto": proceed with the selected server without the user
  // "failover": in automatic mode, a server whose manifest fails hands the run to the next one.
  bool failover = false;
  std::string exec;   // launched after a finished run, relative to moduleDirectory
  std::string param;  // its parameters
  // The base64 line of a minisign public key; set, every manifest must carry its signature.
  std::string pubkey;
  unsigned connections = 5;     // transfers in flight at most, 1 to 16
  std::string moduleDirectory;  // the application's directory, with its trailing separator
  // With a pubkey, signatures older than this many days are refused; 0: no expiry.
  int64_t maxAgeDays = 0;
  // Why the configuration forbids any update (pubkey, maxage), for the user; empty when it is
  // sound. The window then stays open showing it.
  std::string configurationProblem;
  // What start-up found amiss in the configuration, a line each, for the user; with
  // configurationStops, nothing may run (a message box shows them all), else the run goes on and
  // logs them.
  std::vector<std::string> configurationNotes;
  bool configurationStops = false;
  // Lodestar --check: every server of the list is tried up to its plan, nothing is fetched beyond
  // the texts, nothing written beside the application and nothing launched.
  bool checkOnly = false;
};
