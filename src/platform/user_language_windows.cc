#include <windows.h>

#include <string>

#include "platform/user_language.h"
#include "platform/wide_text.h"

std::string UserLanguage() {
  wchar_t name[16] = {};
  const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, name, 16) <= 0) {
    return std::string();
  }
  return FromWide(name);
}
