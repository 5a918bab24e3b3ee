#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/test_platform.h"

const char* const kTempFolderVariable = "TMPDIR";
const bool kHttpLayerSeesBrokenChunking = true;
const bool kHttpLayerTakesProxyFromEnvironment = true;
const bool kUserLanguageFromEnvironment = true;
const bool kFilesHavePermissionBits = true;
const bool kFileNamesAreBytes = true;

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironmentValue(const std::string& name) {
  ::unsetenv(name.c_str());
}

bool SetFolderReadOnly(const std::string& path, bool readOnly) {
  if (::geteuid() != 0) {
    return ::chmod(path.c_str(), readOnly ? 0555 : 0755) == 0;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), flags = 0;
  bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(path);
}
