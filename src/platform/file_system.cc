#include "platform/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Closes a stdio stream on every path out of a function.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (result.size() > 1 && result.back() == '/') {
    result.pop_back();
  }
  return result;
}

}  // namespace

std::string MakeTempFile() {
  std::string pattern = TempDirectory() + "/XmlXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    return std::string();
  }
  close(fd);
  return std::string(name.data());
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rbe"));
  if (!file) {
    return false;
  }
  std::string content;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    content.append(buffer, got);
  }
  if (std::ferror(file.get())) {
    return false;
  }
  out.swap(content);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  std::FILE* file = std::fopen(path.c_str(), "wbe");
  if (file == nullptr) {
    return false;
  }
  bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  // fclose flushes: a full disk shows up here at the latest.
  bool closed = std::fclose(file) == 0;
  return written && closed;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = directory + "." + name + "-XXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat old;
  unsigned mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644;
  bool ok = fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < data.size()) {
    ssize_t written = write(fd, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    ok = written > 0;
    done += ok ? static_cast<size_t>(written) : 0;
  }
  // On the disk before the rename, so that a crash cannot leave the new name on missing data.
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.data(), path.c_str()) == 0;
  if (!ok) {
    unlink(temporary.data());
  }
  return ok;
}

bool CanOpenForReading(const std::string& path) {
  // Non-blocking, so that a FIFO in the way cannot stall the window's thread.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return false;
  }
  close(fd);
  return true;
}

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return false;
  }
  // The file system cannot rename without replacing: a hard link fails when the target exists.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) {
    return false;
  }
  // No hard links either (FAT and the like): check, then rename. The window between the two is
  // the best such a file system allows.
  struct stat existing;
  if (lstat(to.c_str(), &existing) == 0 || errno != ENOENT) {
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

bool GetPermissionBits(const std::string& path, unsigned& mode) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return false;
  }
  mode = info.st_mode & 0777;
  return true;
}

bool SetPermissionBits(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), mode & 0777) == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}
