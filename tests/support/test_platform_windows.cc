#include <windows.h>

#include <cstdlib>

#include "platform/wide_text.h"
#include "support/test_platform.h"

const char* const kTempFolderVariable = "TMP";
const bool kHttpLayerSeesBrokenChunking = false;
const bool kHttpLayerTakesProxyFromEnvironment = false;
const bool kUserLanguageFromEnvironment = false;
const bool kFilesHavePermissionBits = false;
const bool kFileNamesAreBytes = false;

// Both the C runtime's copy and the process's block, which Win32 calls read.
void SetEnvironmentValue(const std::string& name, const std::string& value) {
  _wputenv_s(ToWide(name).c_str(), ToWide(value).c_str());
  SetEnvironmentVariableW(ToWide(name).c_str(), ToWide(value).c_str());
}

void UnsetEnvironmentValue(const std::string& name) {
  _wputenv_s(ToWide(name).c_str(), L"");
  SetEnvironmentVariableW(ToWide(name).c_str(), nullptr);
}

bool SetFolderReadOnly(const std::string&, bool) {
  return false;  // a folder's read-only attribute does not keep files from being created in it
}

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(ToWide(path));
}
