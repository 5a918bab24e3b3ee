#include <gtest/gtest.h>

#include "base/utf8.h"
#include "ui/display_text.h"

namespace {

TEST(DisplayText, Utf8StaysAndOtherBytesAreReadAsGb18030) {
  EXPECT_EQ(DisplayText("plain"), "plain");
  EXPECT_EQ(DisplayText("服务器"), "服务器");
  EXPECT_EQ(DisplayText("\xB2\xE2\xCA\xD4 1"), "测试 1");
  // Neither encoding: one replacement character per stray byte, the rest kept.
  EXPECT_EQ(DisplayText("a\xFF"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(DisplayText("x\xB2"), "x\xEF\xBF\xBD");  // a sequence cut off at the end
}

TEST(DisplayText, Utf8CheckRejectsMalformedSequences) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));   // U+1F600
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE6\xB5"));          // cut short
}

TEST(DisplayText, Utf8CharsReadAsCodePointsAndStrayBytesAlone) {
  const struct {
    std::string text;
    size_t at;
    uint32_t codePoint;  // 0: not valid, read as U+FFFD
    size_t length;
  } cases[] = {
      {"\x7F", 0, 0x7F, 1},
      {"a\xC3\xA9", 1, 0xE9, 2},
      {"服", 0, 0x670D, 3},
      {"\xEF\xBF\xBD", 0, 0xFFFD, 3},
      {"\xF0\x9F\x98\x80", 0, 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0, 0x10FFFF, 4},
      {"\xC0\xAF", 0, 0, 1},          // overlong
      {"\xE6\xB5", 0, 0, 1},          // cut short
      {"\xE6\xB5x", 1, 0, 1},         // a continuation byte alone
      {"\xF8\x88\x80\x80", 0, 0, 1},  // no lead byte of UTF-8
  };
  for (const auto& c : cases) {
    const Utf8Char read = ReadUtf8Char(c.text, c.at);
    EXPECT_EQ(read.valid, c.codePoint != 0) << c.text;
    EXPECT_EQ(read.codePoint, c.codePoint != 0 ? c.codePoint : 0xFFFD) << c.text;
    EXPECT_EQ(read.length, c.length) << c.text;
  }
}

TEST(DisplayText, CutNeverSplitsACharacter) {
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 63), "正在自动更新");
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 4), "正");
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 6), "正在");
  std::string tip = std::string(62, 'a') + "新";
  EXPECT_EQ(CutAtCharBoundary(tip, 63), std::string(62, 'a'));
  EXPECT_EQ(CutAtCharBoundary(std::string(70, 'b'), 63), std::string(63, 'b'));
}

}  // namespace
