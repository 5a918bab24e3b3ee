#include "publish/release_history.h"

#include <algorithm>

#include "publish/delta_layout.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"

ReleaseHistory ReleaseHistory::Read(const std::string& outDir, const PreviousRelease& served,
                                    size_t depth, const PublishLog& log) {
  ReleaseHistory history;
  if (depth == 0 || served.manifestHash().empty()) {
    return history;
  }
  history.releases_.push_back(served);
  while (history.releases_.size() < depth && !history.releases_.back().earlier().empty()) {
    const std::string& hash = history.releases_.back().earlier();
    std::string path = JoinPath(outDir, KeptManifestPath(hash));
    std::string text;
    PreviousRelease earlier;
    bool found = false;
    try {
      found = ReadFileIfPresent(path, text);
      if (found) {
        earlier = PreviousRelease::Parse(text, path);
      }
    } catch (const PublishError&) {
      found = false;
    }
    if (!found || earlier.manifestHash() != hash) {
      if (log) {
        log("warning: the earlier release '" + path +
            "' is missing or damaged: no patches start from it or from releases before it");
      }
      break;
    }
    history.releases_.push_back(std::move(earlier));
  }
  return history;
}

std::vector<PreviousRelease>::const_iterator ReleaseHistory::From(
    const std::string& earlier) const {
  return std::find_if(
      releases_.begin(), releases_.end(),
      [&earlier](const PreviousRelease& release) { return release.manifestHash() == earlier; });
}

std::vector<PatchSource> ReleaseHistory::SourcesFor(const std::string& path,
                                                    const std::string& except,
                                                    const std::string& earlier,
                                                    size_t releases) const {
  std::vector<PatchSource> sources;
  for (auto it = From(earlier); it != releases_.end() && releases > 0; ++it, --releases) {
    const PublishedFile* file = it->Find(path);
    if (file == nullptr || file->hash.empty() || file->hash == except) {
      continue;
    }
    bool seen = std::any_of(sources.begin(), sources.end(), [file](const PatchSource& source) {
      return source.hash == file->hash;
    });
    if (!seen) {
      sources.push_back(PatchSource{file->hash, file->length});
    }
  }
  return sources;
}

std::set<std::string> ReleaseHistory::KeptBy(const std::string& earlier, size_t reach) const {
  std::set<std::string> kept;
  for (auto it = From(earlier); it != releases_.end() && reach > 0; ++it, --reach) {
    kept.insert(KeptManifestPath(it->manifestHash()));
    std::set<std::string> named = NamedObjects(*it);
    kept.insert(named.begin(), named.end());
  }
  return kept;
}

std::set<std::string> NamedObjects(const PreviousRelease& release) {
  std::set<std::string> named;
  for (const PublishedFile& file : release.files()) {
    if (file.hash.empty()) {
      continue;
    }
    named.insert(CompressedCopyPath(file.hash));
    for (const auto& [source, length] : file.patches) {
      named.insert(PatchPath(source, file.hash));
    }
  }
  return named;
}
