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
#include <memory>
#include <vector>

#include "platform/crash_point.h"
#include "platform/install_file.h"

namespace {

// Closes a stdio stream on every path out of a function.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Closes a folder listing on every path out of a function.
struct FolderCloser {
  void operator()(DIR* folder) const { closedir(folder); }
};

// The letters that mkostemp puts in place of its "XXXXXX".
constexpr size_t kUniqueLength = 6;

// A path cut after its last "/": the folder with its separator ("" for none), and the name.
struct PathParts {
  std::string folder;
  std::string name;
};

PathParts SplitPath(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return {std::string(), path};
  }
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
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
  const PathParts parts = SplitPath(path);
  std::string pattern = parts.folder + "." + parts.name + "-" + std::string(kUniqueLength, 'X');
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

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool PathTaken(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

void RemoveReplacementLeftovers(const std::string& path) {
  const PathParts parts = SplitPath(path);
  const std::string prefix = "." + parts.name + "-";
  std::unique_ptr<DIR, FolderCloser> folder(
      opendir(parts.folder.empty() ? "." : parts.folder.c_str()));
  if (!folder) {
    return;
  }
  while (const struct dirent* entry = readdir(folder.get())) {
    const std::string name = entry->d_name;
    if (name.size() == prefix.size() + kUniqueLength &&
        name.compare(0, prefix.size(), prefix) == 0 &&
        std::all_of(name.begin() + prefix.size(), name.end(),
                    [](unsigned char c) { return std::isalnum(c) != 0; })) {
      unlink((parts.folder + name).c_str());
    }
  }
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}
