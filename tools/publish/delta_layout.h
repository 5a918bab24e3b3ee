#pragma once

#include <string>

// The names of what the publisher serves beside the copies to save bytes on the wire, all in one
// folder at the top that no application path may use, each ending in ".txt" like the copies
// (servers that refuse other extensions) and named after the content it yields, so that it never
// changes once written and may be cached for ever:
//   _lodestar/<sha256>.zst.txt          the content compressed (a zstd frame)
//   _lodestar/<from>-<to>.zst.txt       a zstd patch from the content `from` to `to`
//   _lodestar/<sha256>.version.txt      an earlier manifest, kept for later patches and pruning
// Any thread.

constexpr char kDeltaFolder[] = "_lodestar";

// True for a top-level name that would land on the folder, in any case (clients and many servers
// fold case).
bool ClashesWithDeltaFolder(const std::string& topLevelName);

// The paths below the output folder.
std::string CompressedCopyPath(const std::string& contentHash);
std::string PatchPath(const std::string& fromHash, const std::string& toHash);
std::string KeptManifestPath(const std::string& manifestHash);
