#pragma once

#include <cstdint>

// The most each text of a run may bring, decoded, and how long fetching one may take in all. They
// come from the network before anything vouches for them: without a bound a hostile server could
// fill the disk or the memory, or trickle a byte now and then for ever. The files themselves are
// bound by their manifest's "l" and only by the stall time-out, since a large file on a slow link
// may take hours.
constexpr uint64_t kServerListMaxBytes = 1024 * 1024;
constexpr uint64_t kSignatureMaxBytes = 64 * 1024;
// A manifest of 100,000 files with their hashes is about 15 MB.
constexpr uint64_t kManifestMaxBytes = 64 * 1024 * 1024;
constexpr long kTextFetchDeadlineSeconds = 60;
