#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue/file_catalogue.h"

bool ProbeFileSize(const std::string& path, int64_t& size) {
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  // The size of a regular file that this process may open for reading; asked without opening
  // it, which costs a third of the system's time when thousands of files are probed. Nothing is
  // opened, so a FIFO standing where a file should be cannot stall the comparison.
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
    return false;
  }
  size = static_cast<int64_t>(status.st_size);
  return true;
}
