#include <gtest/gtest.h>

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

TEST(DisplayText, CutNeverSplitsACharacter) {
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 63), "正在自动更新");
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 4), "正");
  EXPECT_EQ(CutAtCharBoundary("正在自动更新", 6), "正在");
  std::string tip = std::string(62, 'a') + "新";
  EXPECT_EQ(CutAtCharBoundary(tip, 63), std::string(62, 'a'));
  EXPECT_EQ(CutAtCharBoundary(std::string(70, 'b'), 63), std::string(63, 'b'));
}

}  // namespace
