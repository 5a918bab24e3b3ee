#include "platform/install_file.h"

#include "platform/crash_point.h"
#include "platform/file_system.h"

namespace {

// The folder part of path, with its separator; "." for a bare name.
std::string FolderOf(const std::string& path) {
  std::string folder = SplitPath(path).folder;
  return folder.empty() ? "." : folder;
}

}  // namespace

void FolderFlushes::Note(const std::string& path) {
  folders_.insert(FolderOf(path));
}

bool FolderFlushes::FlushAll() {
  bool flushed = true;
  for (const std::string& folder : folders_) {
    flushed = FlushFolder(folder) && flushed;
    CrashPoint();
  }
  folders_.clear();
  return flushed;
}

bool FlushFolderOf(const std::string& path) {
  return FlushFolder(FolderOf(path));
}
