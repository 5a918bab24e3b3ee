#pragma once

#include <string>

// What an installation's Lodestar.cfg says; empty texts are left out.
struct ClientConfig {
  std::string serverList;
  std::string publicKey;  // the base64 line of a minisign public key
  std::string exec;
  std::string param;
  bool automatic = false;
  std::string language;  // "zh", "en" or "auto"
  std::string caCert;    // the file of roots https is verified against, relative to Lodestar
  bool failover = false;
};

// The text of Lodestar.cfg in the client's dialect: one member a line, no braces, every value in
// double quotes with a backslash before a quote or backslash inside, so that the client reads
// back exactly these texts; "auto:1" when automatic, "failover:1" with failover. Pure; any thread.
std::string ClientConfigText(const ClientConfig& config);
