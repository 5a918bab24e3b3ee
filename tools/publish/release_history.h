#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "publish/previous_release.h"
#include "publish/release_scanner.h"

// An earlier content of a path, from which a patch may start.
struct PatchSource {
  std::string hash;
  int64_t length = 0;
};

// The releases an output folder keeps within reach, newest first: the one served now, then the
// earlier ones whose manifests are kept (each names the one before in its head's "earlier").
// Publishing thread.
class ReleaseHistory {
 public:
  // Follows the chain from served through the kept manifests in outDir, taking at most depth
  // releases; a kept manifest that is missing or does not match its name ends the chain with a
  // warning.
  static ReleaseHistory Read(const std::string& outDir, const PreviousRelease& served, size_t depth,
                             const PublishLog& log);

  // The distinct contents path had in the `releases` releases before a new one whose head names
  // `earlier`, newest first, leaving out the content `except`.
  std::vector<PatchSource> SourcesFor(const std::string& path, const std::string& except,
                                      const std::string& earlier, size_t releases) const;

  // Everything below the output folder that a release whose head names `earlier` keeps within
  // reach, `reach` earlier releases deep: the objects each of them names and their kept manifests.
  std::set<std::string> KeptBy(const std::string& earlier, size_t reach) const;

  const std::vector<PreviousRelease>& releases() const { return releases_; }

 private:
  // The releases from the one whose manifest has the SHA-256 earlier on; end() for "".
  std::vector<PreviousRelease>::const_iterator From(const std::string& earlier) const;

  std::vector<PreviousRelease> releases_;
};

// The objects below the output folder that a release names: the compressed copy of each content
// it lists (served when the manifest gives "z", kept for later patches either way) and its
// patches.
std::set<std::string> NamedObjects(const PreviousRelease& release);
