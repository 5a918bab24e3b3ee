#include "publish/release_scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "publish/file_time.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"

namespace {

std::vector<std::string> SortedNames(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    throw PublishError(SystemErrorText("read the folder", path, errno));
  }
  std::vector<std::string> names;
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(std::move(name));
    }
    errno = 0;
  }
  int error = errno;
  closedir(dir);
  if (error != 0) {
    throw PublishError(SystemErrorText("read the folder", path, error));
  }
  std::sort(names.begin(), names.end());  // char_traits compares bytes as unsigned
  return names;
}

class Scanner {
 public:
  Scanner(const ExclusionRules& rules, const PublishLog& warn) : rules_(rules), warn_(warn) {}

  // Appends the folder and what lies below it; true when anything got listed.
  bool Walk(const std::string& path, const std::string& key, ReleaseTree& tree) {
    size_t slot = tree.directories.size();
    tree.directories.push_back(ReleaseDirectory{key, {}});
    bool listedBelow = false;
    for (const std::string& name : SortedNames(path)) {
      std::string childPath = JoinPath(path, name);
      std::string relative = ReleasePath(key, name);
      if (rules_.Excludes(relative, name)) {
        continue;
      }
      struct stat status {};
      if (!LinkStatus(childPath, status)) {
        continue;  // vanished since the listing
      }
      if (S_ISLNK(status.st_mode)) {
        if (stat(childPath.c_str(), &status) != 0) {
          Warn("skipped dangling link", relative);
          continue;
        }
        if (!S_ISREG(status.st_mode)) {
          Warn("skipped link to a folder or special file", relative);
          continue;
        }
      }
      if (S_ISDIR(status.st_mode)) {
        listedBelow = Walk(childPath, relative, tree) || listedBelow;
      } else if (S_ISREG(status.st_mode)) {
        ReleaseFile file;
        file.name = name;
        file.sourcePath = childPath;
        file.fileTime = FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
        file.executable = (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
        tree.directories[slot].files.push_back(std::move(file));
      } else {
        Warn("skipped special file", relative);
      }
    }
    bool keep = key.empty() || !tree.directories[slot].files.empty() || !listedBelow;
    if (!keep) {
      tree.directories.erase(tree.directories.begin() + static_cast<ptrdiff_t>(slot));
    }
    return keep || listedBelow;
  }

 private:
  void Warn(const std::string& what, const std::string& relative) {
    if (warn_) {
      warn_("warning: " + what + ": " + relative);
    }
  }

  const ExclusionRules& rules_;
  const PublishLog& warn_;
};

}  // namespace

ReleaseTree ScanRelease(const std::string& appDir, const ExclusionRules& rules,
                        const PublishLog& warn) {
  ReleaseTree tree;
  Scanner(rules, warn).Walk(appDir, "", tree);
  return tree;
}
