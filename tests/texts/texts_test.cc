#include "texts/texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The printf conversions of a format in order ("%s", "%llu"...), "%%" left out: what the
// arguments must match.
std::vector<std::string> Conversions(const char* format) {
  std::vector<std::string> found;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      continue;
    }
    const char* start = p++;
    while (*p != '\0' && std::strchr("0123456789.-+ #hlLqjzt", *p) != nullptr) {
      ++p;
    }
    if (*p == '\0') {
      break;
    }
    if (*p != '%') {
      found.emplace_back(start, p + 1);
    }
  }
  return found;
}

// One text is formatted with the same arguments in every language: a conversion out of place
// would read the wrong argument, or crash.
TEST(Texts, EveryLanguageTakesTheSameArgumentsInTheSameOrder) {
  for (int id = 0; id < static_cast<int>(TextId::kCount); ++id) {
    const TextId text = static_cast<TextId>(id);
    const char* chinese = Text(text, Language::kChinese);
    const char* english = Text(text, Language::kEnglish);
    EXPECT_EQ(Conversions(chinese), Conversions(english)) << chinese << " / " << english;
    EXPECT_NE(*english, '\0') << chinese;
  }
}

TEST(Texts, ChineseUntilALanguageIsChosen) {
  EXPECT_STREQ(Text(TextId::kUpdateFinished), "更新完毕");
  SetLanguage(Language::kEnglish);
  EXPECT_STREQ(Text(TextId::kUpdateFinished), "Update finished");
  SetLanguage(Language::kChinese);
}

TEST(Texts, ChineseLocalesReadChinese) {
  const std::pair<const char*, Language> locales[] = {
      {"zh_CN.UTF-8", Language::kChinese},
      {"zh_TW", Language::kChinese},
      {"zh", Language::kChinese},
      {"en_US.UTF-8", Language::kEnglish},
      {"C", Language::kEnglish},
      {"POSIX", Language::kEnglish},
      {"", Language::kEnglish},
      {"z", Language::kEnglish},
  };
  for (const auto& [locale, language] : locales) {
    EXPECT_EQ(LanguageOfLocale(locale), language) << locale;
  }
}

}  // namespace
