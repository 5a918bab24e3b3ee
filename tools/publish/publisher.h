#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/minisign.h"
#include "publish/release_scanner.h"

// What one publish is asked to do.
struct PublishOptions {
  std::string appDir;                 // the release
  std::string outDir;                 // what the update server serves; created when missing
  std::vector<std::string> excludes;  // globs on top of the default exclusions
  std::time_t publishTime = 0;        // head's date; 0 means now
  PublishLog log;                     // one line per change and per warning; may be empty
  // Signs the manifest into version.txt.minisig when given.
  std::optional<MinisignSecretKey> signingKey;
  // Without a key, publishes over a signed release too, removing its signature with the flip.
  bool allowUnsigned = false;
  // Called after the new copies are in place and before the manifest flips (tests inject
  // failures here).
  std::function<void()> beforeFlip;
  // Called after the flip, before the copies that left the release are removed.
  std::function<void()> afterFlip;
};

// What one publish did.
struct PublishSummary {
  size_t files = 0;        // in the new release
  uint64_t bytes = 0;      // their total length
  size_t unchanged = 0;    // kept their version
  size_t changed = 0;      // content changed: version + 1
  size_t added = 0;        // new in the release
  size_t removed = 0;      // left the release; their copies are gone
  bool recovered = false;  // an interrupted earlier publish was rolled back first
  int64_t signedAt = 0;    // the signature's timestamp; 0 when unsigned
};

// Publishes the release in appDir into outDir: a copy of every file as <key>/<name>.txt and the
// manifest version.txt (and its signature version.txt.minisig), put in place last. Every file is
// listed with the SHA-256 of its content. Versions carry on from the manifest already there:
// same content keeps the version, other content gets the next one, a new path starts at 1.
// Throws PublishError; after a failure the release served before is still served whole.
// Publishing thread.
PublishSummary Publish(const PublishOptions& options);
