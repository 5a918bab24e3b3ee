#include "publish/staging_area.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/install_names.h"
#include "platform/file_system.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"

namespace {

constexpr const char* kNew = "new";          // the copies to move into place
constexpr const char* kBackup = "backup";    // hard links to the copies they replace
constexpr const char* kCreated = "created";  // markers: copies that did not exist before
constexpr const char* kRemove = "remove";    // markers: copies to remove after the flip

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The files below root, as paths relative to it.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> files;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(root, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) {
      files.push_back(std::filesystem::relative(it->path(), root, error).string());
    }
  }
  return files;
}

}  // namespace

StagingArea::StagingArea(std::string outDir)
    : outDir_(std::move(outDir)), root_(JoinPath(outDir_, kFolderName)) {}

StagingArea::~StagingArea() {
  if (!created_ || flipped_) {
    return;
  }
  try {
    RollBack();
  } catch (...) {
    // Nothing better to do while unwinding; the next publish retries the recovery.
    return;
  }
  RemoveTreeQuietly(root_);
}

bool StagingArea::Recover() {
  struct stat status {};
  if (!LinkStatus(root_, status)) {
    return false;
  }
  bool unflipped = LinkStatus(JoinPath(root_, kManifestName), status);
  if (unflipped) {
    RollBack();
  } else {
    PlaceSignature();
    RemoveRecorded();
  }
  RemoveTreeQuietly(root_);
  if (LinkStatus(root_, status)) {
    throw PublishError("cannot clear the staging folder '" + root_ + "' of an earlier publish");
  }
  return unflipped;
}

std::string StagingArea::Staged(const char* part, const std::string& relative) const {
  return JoinPath(JoinPath(root_, part), relative);
}

void StagingArea::StageFile(const std::string& relative, int source, uint64_t length,
                            Sha256* hash) {
  CopyToFile(source, length, PathForNew(relative), hash);
  StageWritten(relative);
}

std::string StagingArea::PathForNew(const std::string& relative) {
  created_ = true;
  std::string copy = Staged(kNew, relative);
  MakeDirectories(ParentOf(copy));
  return copy;
}

void StagingArea::StageWritten(const std::string& relative) {
  created_ = true;
  std::string target = JoinPath(outDir_, relative);
  MakeDirectories(ParentOf(target));  // a new folder alone changes nothing that is served
  struct stat status {};
  if (LinkStatus(target, status)) {
    if (S_ISDIR(status.st_mode)) {
      throw PublishError("'" + target +
                         "' is a folder, but the new release publishes a file there");
    }
    std::string backup = Staged(kBackup, relative);
    MakeDirectories(ParentOf(backup));
    if (link(target.c_str(), backup.c_str()) != 0) {
      // No hard links here (some network or FUSE file systems): keep a copy instead.
      UniqueFd old = OpenForReading(target);
      CopyToFile(old.get(), static_cast<uint64_t>(status.st_size), backup);
    }
  } else {
    std::string marker = Staged(kCreated, relative);
    MakeDirectories(ParentOf(marker));
    WriteFileDurably(marker, "");
  }
  staged_.push_back(relative);
}

void StagingArea::StageRemoval(const std::string& relative) {
  created_ = true;
  std::string marker = Staged(kRemove, relative);
  MakeDirectories(ParentOf(marker));
  WriteFileDurably(marker, "");
}

void StagingArea::StageManifest(const std::string& text) {
  created_ = true;
  MakeDirectories(root_);
  // Last of the stage: its presence tells a later recovery that the flip has not happened.
  WriteFileDurably(JoinPath(root_, kManifestName), text);
}

void StagingArea::StageSignature(const std::string& text) {
  created_ = true;
  MakeDirectories(root_);
  WriteFileDurably(JoinPath(root_, kSignatureName), text);
}

void StagingArea::PlaceSignature() {
  struct stat status {};
  std::string staged = JoinPath(root_, kSignatureName);
  if (LinkStatus(staged, status)) {
    RenameOrThrow(staged, JoinPath(outDir_, kSignatureName));
  }
}

void StagingArea::Commit(const std::function<void()>& beforeFlip) {
  try {
    for (const std::string& relative : staged_) {
      RenameOrThrow(Staged(kNew, relative), JoinPath(outDir_, relative));
    }
    if (beforeFlip) {
      beforeFlip();
    }
    RenameOrThrow(JoinPath(root_, kManifestName), JoinPath(outDir_, kManifestName));
  } catch (...) {
    RollBack();
    RemoveTreeQuietly(root_);
    created_ = false;
    throw;
  }
  flipped_ = true;
  // Right after the manifest: until then clients see the new manifest with the old signature,
  // refuse it, and succeed on their next run.
  PlaceSignature();
  FlushFolder(outDir_);
}

void StagingArea::CommitSignature() {
  PlaceSignature();
  flipped_ = true;
  FlushFolder(outDir_);
  RemoveTreeQuietly(root_);
  created_ = false;
}

std::vector<std::string> StagingArea::Finish() {
  std::vector<std::string> failures = RemoveRecorded();
  RemoveTreeQuietly(root_);
  created_ = false;
  return failures;
}

std::vector<std::string> StagingArea::RemoveRecorded() {
  std::vector<std::string> failures;
  for (const std::string& relative : FilesBelow(JoinPath(root_, kRemove))) {
    std::string target = JoinPath(outDir_, relative);
    if (unlink(target.c_str()) != 0 && errno != ENOENT) {
      failures.push_back(SystemErrorText("remove", target, errno));
      continue;
    }
    // Folders that held only removed copies go too; one that still holds anything stays.
    for (std::string folder = ParentOf(relative); !folder.empty(); folder = ParentOf(folder)) {
      if (rmdir(JoinPath(outDir_, folder).c_str()) != 0) {
        break;
      }
    }
  }
  FlushFolder(outDir_);
  return failures;
}

void StagingArea::RollBack() {
  // A backup is a link to the old copy: renaming it back restores the old content whether or
  // not the new copy got there.
  for (const std::string& relative : FilesBelow(JoinPath(root_, kBackup))) {
    RenameOrThrow(Staged(kBackup, relative), JoinPath(outDir_, relative));
  }
  for (const std::string& relative : FilesBelow(JoinPath(root_, kCreated))) {
    std::string target = JoinPath(outDir_, relative);
    if (unlink(target.c_str()) != 0 && errno != ENOENT) {
      throw PublishError(SystemErrorText("remove", target, errno));
    }
  }
  FlushFolder(outDir_);
}
