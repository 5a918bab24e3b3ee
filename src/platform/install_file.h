#pragma once

#include <string>

// What became of one downloaded file that was to replace its target.
enum class InstallResult {
  Installed,     // the target holds the new file
  DeleteFailed,  // an existing target (a file, a folder in the way) could not be replaced
  RenameFailed,  // there was no target, and the new file could not be moved there
};

// Puts downloaded in the place of target in one step: the new file reaches the disk, takes the
// old file's permission bits (with execute bits wherever it may be read when executable), and is
// renamed over the target, so that the target's name never stands without a whole file; the
// folder is flushed after. On failure the target and downloaded are as they were. Any thread.
InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool executable);

// Flushes the folder that holds path, so that a rename in it survives a power cut; false on
// failure.
bool FlushFolderOf(const std::string& path);
