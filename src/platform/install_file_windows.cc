#include <io.h>
#include <windows.h>

#include "platform/crash_point.h"
#include "platform/install_file.h"
#include "platform/wide_text.h"

namespace {

// The attributes a replaced file passes on to its successor. Windows has no permission bits and
// runs a file by its suffix: read-only, hidden and system are what an owner may have set.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

InstallResult CheckInstall(const std::string& downloaded, const std::string& target) {
  if (downloaded.find('\0') != std::string::npos || target.find('\0') != std::string::npos) {
    return InstallResult::kRenameFailed;
  }
  const DWORD old = GetFileAttributesW(ToWide(target).c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return InstallResult::kDeleteFailed;  // a folder in the way is never replaced
  }
  const DWORD arrived = GetFileAttributesW(ToWide(downloaded).c_str());
  if (arrived == INVALID_FILE_ATTRIBUTES || (arrived & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return InstallResult::kRenameFailed;
  }
  return InstallResult::kInstalled;
}

// MoveFileExW rather than ReplaceFileW: one rename that also serves a target that does not exist
// yet, and that either happens or leaves both files as they were, where ReplaceFileW takes several
// steps and can fail halfway with the target moved away. MOVEFILE_WRITE_THROUGH returns only once
// the rename is on the disk.
InstallResult InstallFile(const std::string& downloaded, const std::string& target,
                          bool /*executable: Windows runs files by their suffix*/) {
  const InstallResult check = CheckInstall(downloaded, target);
  if (check != InstallResult::kInstalled) {
    return check;
  }
  const std::wstring source = ToWide(downloaded);
  const std::wstring destination = ToWide(target);
  const DWORD old = GetFileAttributesW(destination.c_str());
  const bool replacing = old != INVALID_FILE_ATTRIBUTES;
  const InstallResult failure =
      replacing ? InstallResult::kDeleteFailed : InstallResult::kRenameFailed;
  const DWORD downloadedAttributes = GetFileAttributesW(source.c_str());
  if (downloadedAttributes == INVALID_FILE_ATTRIBUTES) {
    return InstallResult::kRenameFailed;
  }
  // A read-only file refuses to be replaced: it is made writable for the rename and its
  // successor read-only again.
  const bool readOnly = replacing && (old & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !SetFileAttributesW(destination.c_str(), old & ~FILE_ATTRIBUTE_READONLY)) {
    return failure;
  }
  CrashPoint();
  if (!MoveFileExW(source.c_str(), destination.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (readOnly) {
      SetFileAttributesW(destination.c_str(), old);
    }
    return failure;
  }
  CrashPoint();
  if (replacing && (old & kKeptAttributes) != (downloadedAttributes & kKeptAttributes)) {
    const DWORD merged = (downloadedAttributes & ~kKeptAttributes) | (old & kKeptAttributes);
    SetFileAttributesW(destination.c_str(), merged != 0 ? merged : FILE_ATTRIBUTE_NORMAL);
  }
  return InstallResult::kInstalled;
}

bool FlushFiles(const std::vector<std::string>& paths) {
  // Windows has no flush of a whole volume that an ordinary user may call: each file's own, but
  // all of them together once every file has arrived.
  for (const std::string& path : paths) {
    if (path.find('\0') != std::string::npos) {
      return false;
    }
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    const bool flushed = FlushFileBuffers(file) != 0;
    if (!CloseHandle(file) || !flushed) {
      return false;
    }
  }
  return true;
}

void StartWriteBack(std::FILE* file, uint64_t /*from*/) {
  // Windows has no call that starts writing a range without waiting for it: the system's lazy
  // writer does so on its own once the data leaves the stream's buffer.
  std::fflush(file);
}
