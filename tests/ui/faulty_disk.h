#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "ui/disk_interface.h"

// The real disk, but for the calls a test makes fail: replacing, removing or installing over a
// file of a given name. Test thread.
class FaultyDisk : public DiskInterface {
 public:
  std::string MakeTempFile() override { return RealDisk().MakeTempFile(); }
  bool Read(const std::string& path, std::string& out) override {
    return RealDisk().Read(path, out);
  }
  bool Replace(const std::string& path, const std::string& data) override {
    return !Named(path, failReplace) && RealDisk().Replace(path, data);
  }
  bool Remove(const std::string& path) override {
    return !Named(path, failRemove) && RealDisk().Remove(path);
  }
  bool Exists(const std::string& path) override { return RealDisk().Exists(path); }
  InstallResult Install(const std::string& downloaded, const std::string& target,
                        bool executable) override {
    return Named(target, failInstall) ? InstallResult::kDeleteFailed
                                      : RealDisk().Install(downloaded, target, executable);
  }
  InstallResult CheckInstall(const std::string& downloaded, const std::string& target) override {
    return RealDisk().CheckInstall(downloaded, target);
  }
  bool FlushFiles(const std::vector<std::string>& paths) override {
    return RealDisk().FlushFiles(paths);
  }

  std::string failReplace;  // a file name; "" fails nothing
  std::string failRemove;
  std::string failInstall;

 private:
  static bool Named(const std::string& path, const std::string& name) {
    return !name.empty() && SplitPath(path).name == name;
  }
};
