#include "publish/output_folder.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "publish/publish_error.h"

std::string ResolvedOutputFolder(const std::string& given) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(given, error);
  std::string outDir;
  if (!error) {
    outDir = std::filesystem::weakly_canonical(absolute, error).string();
  }
  while (outDir.size() > 1 && outDir.back() == '/') {
    outDir.pop_back();
  }
  if (error || outDir.empty()) {
    throw PublishError("cannot resolve the output folder '" + given + "'");
  }
  return outDir;
}

UniqueFd LockOutputFolder(const std::string& outDir) {
  UniqueFd fd(open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    throw PublishError(SystemErrorText("open the output folder", outDir, errno));
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw PublishError("another publish into '" + outDir + "' is running");
    }
    throw PublishError(SystemErrorText("lock the output folder", outDir, errno));
  }
  return fd;
}
