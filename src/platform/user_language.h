#pragma once

#include <string>

// The language the user reads, as the system names it: on POSIX the locale of messages, the
// first of LANGUAGE (its first entry), LC_ALL, LC_MESSAGES and LANG that is set and not empty
// ("zh_CN.UTF-8", "en_US", "C"); on Windows the ISO 639 name of the user's interface language
// ("zh", "en"). "" when nothing names one. Any thread.
std::string UserLanguage();
