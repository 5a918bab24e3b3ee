#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "publish/release_history.h"
#include "publish/release_scanner.h"
#include "publish/release_tree.h"
#include "publish/staging_area.h"

// How the publisher makes compressed copies and patches.
struct DeltaOptions {
  // Patches start from the contents a path had in this many releases before the new one.
  size_t patchReleases = 3;
  // Larger files, and larger earlier contents, get no patches: a patch's window covers both.
  uint64_t patchMaxBytes = uint64_t{1} << 30;
  unsigned threads = 2;  // compressions at once
};

// What one publish's deltas took.
struct DeltaSummary {
  size_t made = 0;         // objects compressed anew
  size_t reused = 0;       // objects the output folder held already, checked
  uint64_t bytesMade = 0;  // the length of the objects made and kept
};

// Gives every file of the release its compressed copy and its patches from the contents its path
// had in the releases of history from the one named `earlier` (the new manifest's link) on, reusing
// the objects the output folder holds (each checked against the content it must yield) and staging
// the new ones. A compressed copy is listed where it saves at least 5%, a patch where it is smaller
// than both the compressed copy and the file; the compressed copy of every content that may be
// patched from later is kept either way. Files need length, hash and contentPath. Throws
// PublishError. Publishing thread; the compressions run on options.threads threads.
DeltaSummary BuildDeltas(const std::string& outDir, const ReleaseHistory& history,
                         const std::string& earlier, const DeltaOptions& options,
                         ReleaseTree& release, StagingArea& staging, const PublishLog& log);
