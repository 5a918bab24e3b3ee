#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/crash_point.h"
#include "platform/install_file.h"

namespace {

// Closes a folder listing on every path out of a function.
struct FolderCloser {
  void operator()(DIR* folder) const { closedir(folder); }
};

// Whether status is that of a regular file with no other name: one whose writes reach no file
// elsewhere.
bool IsOwnRegularFile(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_nlink == 1;
}

// A stream over fd, which it then owns; nullptr, fd closed, when none can be made.
std::FILE* StreamOver(int fd, const char* mode) {
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
}

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (result.size() > 1 && result.back() == '/') {
    result.pop_back();
  }
  return result;
}

}  // namespace

bool IsPathSeparator(char c) {
  return c == '/';
}

bool PlatformRefusesName(const std::string&) {
  return false;
}

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

ReadResult ReadWholeFile(const std::string& path, std::string& out, std::string& reason) {
  if (path.find('\0') != std::string::npos) {
    reason = std::strerror(ENOENT);
    return ReadResult::kMissing;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  }
  struct stat status;
  const bool examined = ::fstat(fd, &status) == 0;
  if (!examined || !S_ISREG(status.st_mode)) {
    reason = !examined                 ? std::strerror(errno)
             : S_ISDIR(status.st_mode) ? std::strerror(EISDIR)
                                       : "not a regular file";
    ::close(fd);
    return ReadResult::kFailed;
  }
  // Sized once from the file's length; a file that grows meanwhile is read to its end all the same.
  std::string text(static_cast<size_t>(status.st_size), '\0');
  size_t filled = 0;
  while (true) {
    if (filled == text.size()) {
      text.resize(text.size() + 4096);
    }
    ssize_t got = ::read(fd, &text[filled], text.size() - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      reason = std::strerror(errno);
      ::close(fd);
      return ReadResult::kFailed;
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  text.resize(filled);
  out.swap(text);
  return ReadResult::kRead;
}

bool ProbeFileSize(const std::string& path, int64_t& size) {
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  // Asked without opening the file, which costs a third of the system's time when thousands of
  // files are probed.
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
    return false;
  }
  size = static_cast<int64_t>(status.st_size);
  return true;
}

bool CreateFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
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
  const PathParts parts = SplitPath(path);
  std::string pattern =
      parts.folder + "." + parts.name + "-" + std::string(kReplacementUniqueLength, 'X');
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
  CrashPoint();
  // On the disk before the rename, so that a crash cannot leave the new name on missing data.
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  CrashPoint();
  ok = ok && rename(temporary.data(), path.c_str()) == 0;
  if (!ok) {
    unlink(temporary.data());
    return false;
  }
  CrashPoint();
  FlushFolderOf(path);
  return true;
}

bool FlushFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool flushed = ::fsync(fd) == 0;
  return ::close(fd) == 0 && flushed;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
}

std::FILE* CreateFileAnew(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return nullptr;
  }
  mode_t mode = 0666;
  struct stat old;
  if (::lstat(path.c_str(), &old) == 0) {
    // A symbolic link goes itself, never what it names; anything but a link or a regular file (a
    // folder, a device, a FIFO) is neither removed nor written into.
    if (S_ISREG(old.st_mode)) {
      mode = old.st_mode & 0777;
    } else if (!S_ISLNK(old.st_mode)) {
      return nullptr;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return nullptr;
    }
  }
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
  return fd < 0 ? nullptr : StreamOver(fd, "wb");
}

std::FILE* OpenKeptFile(const std::string& path, uint64_t keep) {
  struct stat status;
  if (path.find('\0') != std::string::npos || ::lstat(path.c_str(), &status) != 0 ||
      !IsOwnRegularFile(status)) {
    return nullptr;
  }
  // Not through a link that took the file's place meanwhile, nor waiting on a FIFO.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  if (::fstat(fd, &status) != 0 || !IsOwnRegularFile(status) ||
      static_cast<uint64_t>(status.st_size) < keep ||
      ::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
    ::close(fd);
    return nullptr;
  }
  return StreamOver(fd, "r+b");
}

bool ProbeKeptFileSize(const std::string& path, int64_t& size) {
  struct stat status;
  if (path.find('\0') != std::string::npos || ::lstat(path.c_str(), &status) != 0 ||
      !IsOwnRegularFile(status) ||
      ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    return false;
  }
  size = static_cast<int64_t>(status.st_size);
  return true;
}

bool ResizeFile(const std::string& path, uint64_t size) {
  return ::truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool PathTaken(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

void RemoveReplacementLeftovers(const std::string& path) {
  const PathParts parts = SplitPath(path);
  std::unique_ptr<DIR, FolderCloser> folder(
      opendir(parts.folder.empty() ? "." : parts.folder.c_str()));
  if (!folder) {
    return;
  }
  while (const struct dirent* entry = readdir(folder.get())) {
    const std::string name = entry->d_name;
    if (IsReplacementName(name, parts.name)) {
      unlink((parts.folder + name).c_str());
    }
  }
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}
