#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "publish/release_tree.h"

// The text of version.txt for a release whose files carry their lengths and versions: "head"
// with the date (the retired paths' last versions, when there are any, the SHA-256 of the
// earlier manifest kept for patches, and the signature's timestamp, when it is signed) and
// "paths" with one array per listed folder, each file with its compressed copy's length ("z") and
// its patches ("p": the source content's SHA-256, the patch's length) when it has them, written
// by the document library so that every name comes out quoted and escaped as the client's reader
// needs.
// The timestamp in the head is covered by the signature, so it travels with every installation
// made from the release, signature file or not. Publishing thread.
std::string ManifestText(const ReleaseTree& release, const std::string& date,
                         const std::map<std::string, int>& retired, std::optional<int64_t> signedAt,
                         const std::string& earlier = "");
