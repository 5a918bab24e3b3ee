#include "platform/install_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/crash_point.h"
#include "platform/file_system.h"

namespace {

// Gives the open new file its bits and puts its data on the disk; false on failure.
bool PrepareNewFile(int fd, const std::string& target, bool executable) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    return false;
  }
  unsigned mode = info.st_mode & 0777;
  struct stat old;
  if (stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 0777;  // the old file's permissions outlive the update
  }
  if (executable) {
    mode |= (mode & 0444) >> 2;  // execute wherever it may be read
  }
  if ((info.st_mode & 0777) != mode && fchmod(fd, mode) != 0) {
    return false;
  }
  // On the disk before the rename, so that a crash cannot leave the name on missing data.
  return fsync(fd) == 0;
}

}  // namespace

InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool executable) {
  struct stat existing;
  const bool replacing = lstat(target.c_str(), &existing) == 0;
  const InstallResult failure =
      replacing ? InstallResult::DeleteFailed : InstallResult::RenameFailed;
  if (replacing && S_ISDIR(existing.st_mode)) {
    return failure;  // a folder in the way is never replaced
  }
  int fd = open(downloaded.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return InstallResult::RenameFailed;
  }
  bool ready = PrepareNewFile(fd, target, executable);
  ready = close(fd) == 0 && ready;
  if (!ready) {
    return InstallResult::RenameFailed;
  }
  CrashPoint();
  // One rename replaces the old file: there is no moment without one of the two.
  if (rename(downloaded.c_str(), target.c_str()) != 0) {
    return failure;
  }
  CrashPoint();
  // The file is in place whatever the flush says; it only makes that last.
  FlushFolderOf(target);
  CrashPoint();
  return InstallResult::Installed;
}

bool FlushFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return FlushFolder(slash == std::string::npos ? "." : path.substr(0, slash + 1));
}
