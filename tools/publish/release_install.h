#pragma once

#include <cstdint>
#include <string>

#include "publish/client_config.h"

// What one installation is asked to make.
struct InstallOptions {
  std::string outDir;         // a published output folder
  std::string destination;    // a new or empty folder
  std::string client;         // the Lodestar binary to install
  std::string publicKeyFile;  // the release's minisign public key file; "" for none
  std::string caCertFile;     // a PEM file of roots to copy beside the client; "" for none
  ClientConfig config;        // Lodestar.cfg's values; its pubkey comes from publicKeyFile
};

// What one installation made.
struct InstallSummary {
  size_t files = 0;       // of the release
  uint64_t bytes = 0;     // their total length
  int64_t signedAt = -1;  // the release's signature timestamp; -1 when unsigned
};

// Lays out what a first run of Lodestar from outDir would leave behind: every file of the release
// as installed (executable where the manifest says so), each checked against the manifest's
// length and hash while it is copied, the manifest and its signature beside them (so that the
// first run is up to date at once and refuses older releases), the client and its Lodestar.cfg.
// A signed release needs the public key that verifies its signature; an unsigned one takes none.
// Everything is made in a hidden folder beside the destination and renamed into place last, so a
// failure leaves nothing behind. Throws PublishError. Publishing thread.
InstallSummary Install(const InstallOptions& options);
