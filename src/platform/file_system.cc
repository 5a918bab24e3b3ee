#include "platform/file_system.h"

#include <algorithm>
#include <cctype>

// What every platform's file calls share.

PathParts SplitPath(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (IsPathSeparator(path[i])) {
      return {path.substr(0, i + 1), path.substr(i + 1)};
    }
  }
  return {std::string(), path};
}

bool IsReplacementName(const std::string& name, const std::string& targetName) {
  const size_t prefix = targetName.size() + 2;
  return name.size() == prefix + kReplacementUniqueLength && name[0] == '.' &&
         name.compare(1, targetName.size(), targetName) == 0 && name[prefix - 1] == '-' &&
         std::all_of(name.begin() + prefix, name.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; });
}

bool WindowsCannotHoldName(const std::string& component) {
  if (component.find(':') != std::string::npos) {
    return true;
  }
  if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
    return component != "." && component != "..";
  }
  // The device names hold with any extension: "nul.txt" is the device too.
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') {
    stem.pop_back();
  }
  for (char& c : stem) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (stem == device) {
      return true;
    }
  }
  // COM1 to COM9 and LPT1 to LPT9 (and the superscript digits Windows also takes, in UTF-8).
  if (stem.size() >= 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
    const std::string digit = stem.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
  }
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::string reason;
  return ReadWholeFile(path, out, reason) == ReadResult::kRead;
}
