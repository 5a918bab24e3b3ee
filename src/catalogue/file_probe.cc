#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue/file_catalogue.h"

bool ProbeFileSize(const std::string& path, int64_t& size) {
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  // Non-blocking, so that a FIFO standing where a file should be cannot stall the comparison.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat status;
  bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  ::close(fd);
  if (ok) {
    size = static_cast<int64_t>(status.st_size);
  }
  return ok;
}
