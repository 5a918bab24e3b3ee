#pragma once

#include <string>
#include <vector>

// Decides which files and folders of a release stay out of the published tree. By default the
// client's own files: "Lodestar.cfg" and "version.txt" beside it (top level only; a version.txt
// deeper down is application data) and its downloads in progress, any name ending in ".update".
// Publishing thread.
class ExclusionRules {
 public:
  // Adds a glob (fnmatch) tried on the relative path ("/" matched only by "/") and on the name.
  void Add(const std::string& pattern);
  // relativePath is "/"-separated below the release's top; name is its last component.
  bool Excludes(const std::string& relativePath, const std::string& name) const;

 private:
  std::vector<std::string> patterns_;
};
