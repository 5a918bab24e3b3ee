#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <vector>

#include "platform/crash_point.h"
#include "platform/file_system.h"
#include "platform/install_file.h"
#include "platform/wide_text.h"

namespace {

// The letters put in place of "XXXXXX" in a replacement's name, as the POSIX side's mkostemp.
constexpr char kUniqueLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Closes a handle on every path out of a function.
class HandleCloser {
 public:
  explicit HandleCloser(HANDLE handle) : handle_(handle) {}
  ~HandleCloser() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;

 private:
  HANDLE handle_;
};

// path for the wide API; false for a path that no file can have (an embedded NUL).
bool WidePath(const std::string& path, std::wstring& wide) {
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  wide = ToWide(path);
  return true;
}

// The attributes of what stands at path; INVALID_FILE_ATTRIBUTES when nothing does.
DWORD AttributesOf(const std::string& path) {
  std::wstring wide;
  return WidePath(path, wide) ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool IsMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME;
}

// Six letters or digits that differ between calls and processes.
std::string UniqueLetters() {
  static std::atomic<unsigned long long> counter{0};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long mix = static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull;
  mix ^= (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^ ++counter * 7919;
  std::string letters;
  for (size_t i = 0; i < kReplacementUniqueLength; ++i) {
    letters.push_back(kUniqueLetters[mix % (sizeof kUniqueLetters - 1)]);
    mix /= sizeof kUniqueLetters - 1;
    mix ^= mix << 13;
  }
  return letters;
}

// Creates a new file beside path named "." + its name + "-" + six letters, for writing; the
// handle, or INVALID_HANDLE_VALUE.
HANDLE CreateReplacement(const std::string& path, std::string& created) {
  const PathParts parts = SplitPath(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    created = parts.folder + "." + parts.name + "-" + UniqueLetters();
    std::wstring wide;
    if (!WidePath(created, wide)) {
      return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return INVALID_HANDLE_VALUE;
}

// A stream over file, which it then owns; nullptr, file closed, when none can be made.
std::FILE* StreamOver(HANDLE file, int flags, const wchar_t* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _wfdopen(fd, mode);
  if (stream == nullptr) {
    _close(fd);  // and the handle with it
  }
  return stream;
}

// Opens the regular file standing at path itself (a reparse point, a symbolic link say, is opened
// as what it is, and refused) for reading and writing, when it has no other name; its size in
// size. INVALID_HANDLE_VALUE otherwise.
HANDLE OpenOwnFile(const std::string& path, uint64_t& size) {
  std::wstring wide;
  if (!WidePath(path, wide)) {
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return file;
}

// Writes all of data; false on failure.
bool WriteAll(HANDLE file, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

bool PlatformRefusesName(const std::string& component) {
  return WindowsCannotHoldName(component);
}

std::string MakeTempFile() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    return std::string();
  }
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(folder, L"Xml", 0, name) == 0) {
    return std::string();
  }
  return FromWide(name);
}

ReadResult ReadWholeFile(const std::string& path, std::string& out, std::string& reason) {
  std::wstring wide;
  if (!WidePath(path, wide)) {
    reason = SystemErrorText(ERROR_FILE_NOT_FOUND);
    return ReadResult::kMissing;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "is a folder";
    return ReadResult::kFailed;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    reason = SystemErrorText(error);
    return IsMissingError(error) ? ReadResult::kMissing : ReadResult::kFailed;
  }
  HandleCloser closer(file);
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    reason = "not a regular file";
    return ReadResult::kFailed;
  }
  // Sized once from the file's length; a file that grows meanwhile is read to its end all the same.
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == text.size()) {
      text.resize(text.size() + 4096);
    }
    const DWORD want = static_cast<DWORD>(std::min<size_t>(text.size() - filled, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, &text[filled], want, &got, nullptr)) {
      reason = SystemErrorText(GetLastError());
      return ReadResult::kFailed;
    }
    if (got == 0) {
      break;
    }
    filled += got;
  }
  text.resize(filled);
  out.swap(text);
  return ReadResult::kRead;
}

bool ProbeFileSize(const std::string& path, int64_t& size) {
  std::wstring wide;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!WidePath(path, wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return true;
}

bool CreateFolder(const std::string& path) {
  std::wstring wide;
  return WidePath(path, wide) && CreateDirectoryW(wide.c_str(), nullptr) != 0;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  std::wstring wide;
  if (!WidePath(path, wide)) {
    return false;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool written = WriteAll(file, data);
  return CloseHandle(file) != 0 && written;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  std::string temporary;
  HANDLE file = CreateReplacement(path, temporary);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool ok = WriteAll(file, data);
  CrashPoint();
  // On the disk before the rename, so that a crash cannot leave the new name on missing data.
  ok = ok && FlushFileBuffers(file) != 0;
  ok = CloseHandle(file) != 0 && ok;
  // The rename that keeps the old file's attributes, written through to the disk.
  if (!ok || InstallFile(temporary, path, false) != InstallResult::kInstalled) {
    DeleteFileAt(temporary);
    return false;
  }
  FlushFolderOf(path);
  return true;
}

bool FlushFolder(const std::string& folder) {
  std::wstring wide;
  if (!WidePath(folder, wide)) {
    return false;
  }
  // A folder opens only with backup semantics. Renames here are written through already
  // (MOVEFILE_WRITE_THROUGH); flushing the folder's handle is a further request that not every
  // file system grants, so only a folder that cannot be opened at all fails.
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  FlushFileBuffers(handle);
  return CloseHandle(handle) != 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::wstring wide;
  // Descriptors of the C runtime are passed on only to programs started with inherited handles,
  // which this process never does.
  return WidePath(path, wide) ? _wfopen(wide.c_str(), ToWide(mode).c_str()) : nullptr;
}

std::FILE* CreateFileAnew(const std::string& path) {
  std::wstring wide;
  if (!WidePath(path, wide)) {
    return nullptr;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // A reparse point goes itself, a link to a folder (a junction) as a folder does, without
    // touching what it names; a real folder stays, and the name stays taken.
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return nullptr;
    }
    if (!(folder ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())) &&
        !IsMissingError(GetLastError())) {
      return nullptr;
    }
  }
  HANDLE file =
      CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : StreamOver(file, _O_WRONLY, L"wb");
}

std::FILE* OpenKeptFile(const std::string& path, uint64_t keep) {
  uint64_t size = 0;
  HANDLE file = OpenOwnFile(path, size);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  LARGE_INTEGER end, start;
  end.QuadPart = static_cast<LONGLONG>(keep);
  start.QuadPart = 0;
  if (size < keep || !SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
      !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    CloseHandle(file);
    return nullptr;
  }
  return StreamOver(file, _O_RDWR, L"r+b");
}

bool ProbeKeptFileSize(const std::string& path, int64_t& size) {
  uint64_t found = 0;
  HANDLE file = OpenOwnFile(path, found);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  CloseHandle(file);
  size = static_cast<int64_t>(found);
  return true;
}

bool ResizeFile(const std::string& path, uint64_t size) {
  std::wstring wide;
  if (!WidePath(path, wide)) {
    return false;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  const bool resized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  return CloseHandle(file) != 0 && resized;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool DeleteFileAt(const std::string& path) {
  std::wstring wide;
  return WidePath(path, wide) && DeleteFileW(wide.c_str()) != 0;
}

bool PathTaken(const std::string& path) {
  return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

void RemoveReplacementLeftovers(const std::string& path) {
  const PathParts parts = SplitPath(path);
  const std::string prefix = "." + parts.name + "-";
  std::wstring pattern;
  if (!WidePath(parts.folder + prefix + "*", pattern)) {
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  std::vector<std::string> leftovers;
  do {
    const std::string name = FromWide(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsReplacementName(name, parts.name)) {
      leftovers.push_back(parts.folder + name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::string& leftover : leftovers) {
    DeleteFileAt(leftover);
  }
}

bool IsExecutableFile(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // Windows runs a file by its suffix, not by a permission bit.
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) {
    return false;
  }
  std::string suffix = path.substr(dot);
  std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return suffix == ".exe" || suffix == ".com" || suffix == ".bat" || suffix == ".cmd";
}
