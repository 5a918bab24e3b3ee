#include "platform/module_directory.h"

#include <filesystem>
#include <system_error>

std::string ModuleDirectory() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || exe.empty()) {
    // Without /proc: local paths stay relative to where we run rather than landing in "/".
    return "./";
  }
  return DirectoryOfPath(exe.string());
}
