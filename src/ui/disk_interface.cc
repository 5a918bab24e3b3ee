#include "ui/disk_interface.h"

#include "platform/file_system.h"

namespace {

// DiskInterface over the platform's calls. Stateless; any thread.
class PlatformDisk final : public DiskInterface {
 public:
  std::string MakeTempFile() override { return ::MakeTempFile(); }
  bool Read(const std::string& path, std::string& out) override { return ReadWholeFile(path, out); }
  bool Replace(const std::string& path, const std::string& data) override {
    return ReplaceFileContents(path, data);
  }
  bool Remove(const std::string& path) override { return DeleteFileAt(path); }
  bool Exists(const std::string& path) override { return PathTaken(path); }
  InstallResult Install(const std::string& downloaded, const std::string& target,
                        bool executable) override {
    return InstallFile(downloaded, target, executable);
  }
  InstallResult CheckInstall(const std::string& downloaded, const std::string& target) override {
    return ::CheckInstall(downloaded, target);
  }
  bool FlushFiles(const std::vector<std::string>& paths) override { return ::FlushFiles(paths); }
};

}  // namespace

DiskInterface& RealDisk() {
  static PlatformDisk disk;
  return disk;
}
