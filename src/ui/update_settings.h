#pragma once

#include <string>

// The configuration values the update run needs, read once at start.
struct UpdateSettings {
  std::string serverlist;       // URL of the server list; empty ends the program at once
  bool automatic = false;       // "auto": proceed with the selected server without the user
  std::string exec;             // launched after a finished run, relative to moduleDirectory
  std::string param;            // its parameters
  // The base64 line of a minisign public key; set, every manifest must carry its signature.
  std::string pubkey;
  unsigned connections = 5;     // transfers in flight at most, 1 to 16
  std::string moduleDirectory;  // the application's directory, with its trailing separator
};
