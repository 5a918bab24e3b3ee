#include "publish/exclusion_rules.h"

#include <fnmatch.h>

#include "base/install_names.h"

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void ExclusionRules::Add(const std::string& pattern) {
  patterns_.push_back(pattern);
}

bool ExclusionRules::Excludes(const std::string& relativePath, const std::string& name) const {
  // The client's own files beside it: its configuration, its manifest, the record of a failed
  // run's progress, the signature it accepted last, its commit journal and the roots an
  // installation was given. Installed, they would overwrite its state.
  for (const char* own : {kConfigurationName, kManifestName, kProgressRecordName, kSignatureName,
                          kCommitJournalName, kInstalledRootsName}) {
    if (relativePath == own) {
      return true;
    }
  }
  if (EndsWith(name, kUpdateSuffix)) {
    return true;
  }
  for (const std::string& pattern : patterns_) {
    if (fnmatch(pattern.c_str(), relativePath.c_str(), FNM_PATHNAME) == 0) {
      return true;
    }
    if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) {
      return true;
    }
  }
  return false;
}
