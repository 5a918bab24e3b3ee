#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/fetch_limits.h"
#include "catalogue/minisign.h"
#include "publish/delta_builder.h"
#include "publish/release_scanner.h"
#include "publish/signing/minisign_signing.h"

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
  // Compressed copies and patches: how many releases back patches start, and from what size on
  // files get none.
  DeltaOptions deltas;
  // The largest manifest to write: clients refuse a longer one (tests make it small).
  uint64_t manifestMaxBytes = kManifestMaxBytes;
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
  DeltaSummary deltas;     // compressed copies and patches made and reused
  size_t pruned = 0;       // of them, removed: no release within reach names them
};

// Publishes the release in appDir into outDir: a copy of every file as <key>/<name>.txt, its
// compressed copy and its patches from the contents its path had in the last releases (below
// _lodestar/), and the manifest version.txt (and its signature version.txt.minisig), put in place
// last; then removes what no release within reach names. Every file is listed with the SHA-256 of
// its content. Versions carry on from the manifest already there:
// same content keeps the version, other content gets the next one, a new path starts at 1.
// Names that Windows cannot hold are published with a warning. Throws PublishError; after a
// failure the release served before is still served whole. Publishing thread.
PublishSummary Publish(const PublishOptions& options);

// What one re-signing did.
struct ResignSummary {
  std::string manifest;    // the manifest signed again
  int64_t signedAt = 0;    // the new signature's timestamp
  int64_t previous = -1;   // the one it replaced; -1 when that one had none
  bool recovered = false;  // an interrupted earlier publish was rolled back first
};

// Signs the manifest that outDir serves again, with a timestamp later than its signature's and
// not before `now` (0: the clock), changing nothing else; the new signature replaces the old
// atomically, under the lock a publish takes. Refused unless the served signature is key's own
// over the served manifest: re-signing would otherwise vouch for a manifest that someone else
// changed. Throws PublishError. Publishing thread.
ResignSummary Resign(const std::string& outDir, const MinisignSecretKey& key, std::time_t now,
                     const PublishLog& log);
