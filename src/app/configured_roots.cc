#include "app/configured_roots.h"

#include "platform/file_system.h"
#include "texts/texts.h"
#include "transfer/transfer_library.h"
#include "ui/format_text.h"

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string ConfiguredRootsPath(const std::string& cacert, const std::string& moduleDirectory) {
  const bool fromRoot = !cacert.empty() && IsSeparator(cacert[0]);
  const bool fromDrive =
      cacert.size() > 2 && IsLetter(cacert[0]) && cacert[1] == ':' && IsSeparator(cacert[2]);
  if (fromRoot || fromDrive) {
    return cacert;
  }
  // The directory keeps its trailing separator: no second one in the path the user is shown.
  if (!moduleDirectory.empty() && !IsSeparator(moduleDirectory.back())) {
    return moduleDirectory + "/" + cacert;
  }
  return moduleDirectory + cacert;
}

std::string UseConfiguredRoots(const std::string& cacert, const std::string& moduleDirectory) {
  if (cacert.empty()) {
    return std::string();
  }
  const std::string path = ConfiguredRootsPath(cacert, moduleDirectory);
  std::string text;
  std::string reason;
  switch (ReadWholeFile(path, text, reason)) {
    case ReadResult::kRead:
      break;
    case ReadResult::kMissing:
      return FormatText(Text(TextId::kCacertMissing), path.c_str());
    case ReadResult::kFailed:
      return FormatText(Text(TextId::kCacertUnreadable), path.c_str(), reason.c_str());
  }
  if (!SetTrustedRootsFile(path)) {
    return FormatText(Text(TextId::kCacertUnusable), path.c_str());
  }
  return std::string();
}
