#include <cstdlib>
#include <string>

#include "platform/user_language.h"

std::string UserLanguage() {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
      continue;
    }
    std::string locale = value;
    // LANGUAGE lists languages in order of preference, separated by colons.
    locale = locale.substr(0, locale.find(':'));
    if (!locale.empty()) {
      return locale;
    }
  }
  return std::string();
}
