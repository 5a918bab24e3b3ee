#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

// What became of one downloaded file that was to replace its target.
enum class InstallResult {
  kInstalled,     // the target holds the new file
  kDeleteFailed,  // an existing target (a file, a folder in the way) could not be replaced
  kRenameFailed,  // there was no target, and the new file could not be moved there
};

// Puts downloaded in the place of target in one step: the new file takes the old file's
// permission bits (with execute bits wherever it may be read when executable; on Windows, which
// runs files by their suffix, its read-only, hidden and system attributes) and is renamed over
// the target. Its content must already be on the disk (FlushFiles), so that the target's name
// never stands without a whole file; the rename lasts once the folder is flushed
// (FolderFlushes). On failure the target and downloaded are as they were. Any thread.
InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool executable);

// What InstallFile can tell before it changes anything: kDeleteFailed for a folder standing at
// target, kRenameFailed for a downloaded that is missing or no file, kInstalled otherwise (the
// rename may still fail). Any thread.
InstallResult CheckInstall(const std::string& downloaded, const std::string& target);

// Puts the data of the files at paths on the disk, all at once rather than one flush per file as
// each arrives: on Linux one syncfs per file system they lie on, on Windows each file's
// FlushFileBuffers in turn. False when a file cannot be opened or a flush fails. Any thread.
bool FlushFiles(const std::vector<std::string>& paths);

// Flushes the folder that holds path, so that a rename in it survives a power cut; false on
// failure.
bool FlushFolderOf(const std::string& path);

// Starts writing the data written to file since offset `from` to the disk without waiting for it,
// so that the FlushFiles after a large file has little left to wait for. Flushes the stream's
// buffer first. Only a hint: whatever fails shows in the final flush. Windows has no such call:
// there it only flushes the buffer and leaves the rest to the system's lazy writer.
void StartWriteBack(std::FILE* file, uint64_t from);

// The folders a run renamed files in, flushed together when the renames must last (before a
// record that claims them is saved, and at the run's end) rather than after every file. The
// window's thread.
class FolderFlushes {
 public:
  // A file was renamed into path's folder.
  void Note(const std::string& path);
  // Flushes every folder noted since the last flush; false when one failed.
  bool FlushAll();

 private:
  std::set<std::string> folders_;
};
