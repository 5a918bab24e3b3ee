#include "platform/install_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/crash_point.h"
#include "platform/file_system.h"

namespace {

// Gives the open new file its bits; false on failure.
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
  return (info.st_mode & 0777) == mode || fchmod(fd, mode) == 0;
}

}  // namespace

InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool executable) {
  struct stat existing;
  const bool replacing = lstat(target.c_str(), &existing) == 0;
  const InstallResult failure =
      replacing ? InstallResult::kDeleteFailed : InstallResult::kRenameFailed;
  if (replacing && S_ISDIR(existing.st_mode)) {
    return failure;  // a folder in the way is never replaced
  }
  int fd = open(downloaded.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return InstallResult::kRenameFailed;
  }
  bool ready = PrepareNewFile(fd, target, executable);
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

bool FlushFileData(std::FILE* file) {
  return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0;
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
