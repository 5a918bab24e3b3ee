#include "platform/install_file.h"

#include "platform/crash_point.h"
#include "platform/file_system.h"

namespace {

// The folder part of path, with its separator; "." for a bare name.
std::string FolderOf(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (IsPathSeparator(path[i])) {
      return path.substr(0, i + 1);
    }
  }
  return ".";
}

}  // namespace

void FolderFlushes::Note(const std::string& path) {
  folders_.insert(FolderOf(path));
}

bool FolderFlushes::FlushAll() {
  bool flushed = true;
  for (const std::string& folder : folders_) {
    flushed = FlushFolderOf(folder + ".") && flushed;
    CrashPoint();
  }
  folders_.clear();
  return flushed;
}

bool FlushFolderOf(const std::string& path) {
  return FlushFolder(FolderOf(path));
}
