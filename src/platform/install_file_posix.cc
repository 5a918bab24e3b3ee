#include "platform/install_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/crash_point.h"
#include "platform/file_system.h"

namespace {

// CheckInstall, keeping what stands at target in old (st_mode 0 when nothing does; for a link,
// what it names when it names anything).
InstallResult Check(const std::string& downloaded, const std::string& target, struct stat& old) {
  if (lstat(target.c_str(), &old) != 0) {
    old.st_mode = 0;
  } else if (S_ISDIR(old.st_mode)) {
    return InstallResult::kDeleteFailed;  // a folder in the way is never replaced
  } else if (S_ISLNK(old.st_mode)) {
    stat(target.c_str(), &old);
  }
  struct stat arrived;
  if (lstat(downloaded.c_str(), &arrived) != 0 || !S_ISREG(arrived.st_mode)) {
    return InstallResult::kRenameFailed;
  }
  return InstallResult::kInstalled;
}

// Gives the open new file its bits: the old file's, if any (old.st_mode not 0); false on failure.
bool PrepareNewFile(int fd, const struct stat& old, bool executable) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    return false;
  }
  unsigned mode = info.st_mode & 0777;
  if (S_ISREG(old.st_mode)) {
    mode = old.st_mode & 0777;  // the old file's permissions outlive the update
  }
  if (executable) {
    mode |= (mode & 0444) >> 2;  // execute wherever it may be read
  }
  return (info.st_mode & 0777) == mode || fchmod(fd, mode) == 0;
}

}  // namespace

InstallResult CheckInstall(const std::string& downloaded, const std::string& target) {
  struct stat old;
  return Check(downloaded, target, old);
}

InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool executable) {
  struct stat old;
  const InstallResult check = Check(downloaded, target, old);
  if (check != InstallResult::kInstalled) {
    return check;
  }
  const InstallResult failure =
      old.st_mode != 0 ? InstallResult::kDeleteFailed : InstallResult::kRenameFailed;
  int fd = open(downloaded.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return InstallResult::kRenameFailed;
  }
  bool ready = PrepareNewFile(fd, old, executable);
  ready = close(fd) == 0 && ready;
  if (!ready) {
    return InstallResult::kRenameFailed;
  }
  CrashPoint();
  // One rename replaces the old file: there is no moment without one of the two.
  if (rename(downloaded.c_str(), target.c_str()) != 0) {
    return failure;
  }
  CrashPoint();
  return InstallResult::kInstalled;
}

bool FlushFiles(const std::vector<std::string>& paths) {
  // One syncfs writes out everything the file system holds for these files (and whatever else
  // waits there), where a flush per file would wait for the disk once per file.
  std::set<dev_t> flushed;
  for (const std::string& path : paths) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
      return false;
    }
    if (flushed.count(info.st_dev) != 0) {
      continue;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      return false;
    }
    const bool synced = syncfs(fd) == 0;
    if (close(fd) != 0 || !synced) {
      return false;
    }
    flushed.insert(info.st_dev);
  }
  return true;
}

void StartWriteBack(std::FILE* file, uint64_t from) {
  if (std::fflush(file) != 0) {
    return;
  }
  const int fd = fileno(file);
  const off_t end = lseek(fd, 0, SEEK_CUR);
  if (end > 0 && static_cast<uint64_t>(end) > from) {
    sync_file_range(fd, static_cast<off_t>(from), end - static_cast<off_t>(from),
                    SYNC_FILE_RANGE_WRITE);
  }
}
