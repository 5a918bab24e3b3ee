#include "catalogue/manifest_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool ReadManifestText(const std::string& path, std::string& text) {
  text.clear();
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return false;
  }
  // Sized once from the file's length; a file that grows meanwhile is read to its end all the same.
  text.resize(static_cast<size_t>(status.st_size));
  size_t filled = 0;
  bool ok = true;
  while (true) {
    if (filled == text.size()) {
      text.resize(text.size() + 4096);
    }
    ssize_t got = ::read(fd, &text[filled], text.size() - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  text.resize(ok ? filled : 0);
  return ok;
}
