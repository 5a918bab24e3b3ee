#include <cstdlib>

#include "support/test_platform.h"

const char* const kTempFolderVariable = "TMPDIR";
const bool kHttpLayerSeesBrokenChunking = true;
const bool kHttpLayerTakesProxyFromEnvironment = true;

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironmentValue(const std::string& name) {
  ::unsetenv(name.c_str());
}
