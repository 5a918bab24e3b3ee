#pragma once

#include <string>
#include <vector>

#include "platform/install_file.h"

// The file system as the update run uses it, narrowed to what the run does: RealDisk() calls the
// platform; tests put a fake in its place, or wrap the real one to make chosen calls fail. Paths
// are UTF-8. Window's thread.
class DiskInterface {
 public:
  virtual ~DiskInterface() = default;
  // A new empty file in the system's folder for temporary files; "" on failure.
  virtual std::string MakeTempFile() = 0;
  // Reads a whole regular file; false (out untouched) unless it was read.
  virtual bool Read(const std::string& path, std::string& out) = 0;
  // Replaces path with data whole or not at all, the data on the disk before the name is.
  virtual bool Replace(const std::string& path, const std::string& data) = 0;
  // Deletes a file; false on failure.
  virtual bool Remove(const std::string& path) = 0;
  // True when anything stands at path.
  virtual bool Exists(const std::string& path) = 0;
  // Puts downloaded in the place of target (see InstallFile).
  virtual InstallResult Install(const std::string& downloaded, const std::string& target,
                                bool executable) = 0;
  // What Install can tell before it changes anything (see CheckInstall).
  virtual InstallResult CheckInstall(const std::string& downloaded, const std::string& target) = 0;
  // Puts the files' data on the disk together (see FlushFiles).
  virtual bool FlushFiles(const std::vector<std::string>& paths) = 0;
};

// The platform's file system.
DiskInterface& RealDisk();
