#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What differs for tests between the platforms, one file per platform.

// The test process's environment. Test thread only, before the threads that read it start.
void SetEnvironmentValue(const std::string& name, const std::string& value);
void UnsetEnvironmentValue(const std::string& name);

// Sets environment variables for as long as it lives, then puts back what each held. Test thread
// only, as above.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        SetEnvironmentValue(it->first, *it->second);
      } else {
        UnsetEnvironmentValue(it->first);
      }
    }
  }
  // value null unsets the variable.
  void Set(const std::string& name, const char* value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    if (value != nullptr) {
      SetEnvironmentValue(name, value);
    } else {
      UnsetEnvironmentValue(name);
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The variable that names the folder for temporary files ("TMPDIR"; "TMP" on Windows).
extern const char* const kTempFolderVariable;

// Whether the HTTP layer tells a chunked body that breaks off from a whole one (WinInet under
// Wine ends both alike).
extern const bool kHttpLayerSeesBrokenChunking;
// Whether the HTTP layer takes its proxy from http_proxy at each transfer (WinInet takes the
// system's settings once, when its session opens).
extern const bool kHttpLayerTakesProxyFromEnvironment;
// Whether the user's language comes from the locale variables at each call (Windows asks for the
// user's interface language, which a process's environment does not change).
extern const bool kUserLanguageFromEnvironment;

// A path as the program's own file calls take it: its bytes here; on Windows the UTF-16 text that
// the platform makes of it (GB18030 where it is not UTF-8).
std::filesystem::path NativePath(const std::string& path);

// Whether files carry POSIX permission bits.
extern const bool kFilesHavePermissionBits;
// Whether a file name may be any bytes (not UTF-16 text, as on Windows).
extern const bool kFileNamesAreBytes;

// Makes a folder read-only or writable again (for root, whom permissions do not stop, by the
// immutable flag); false when this platform or file system cannot.
bool SetFolderReadOnly(const std::string& path, bool readOnly);
