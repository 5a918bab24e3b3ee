#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/install_file.h"
#include "platform/launch.h"
#include "platform/module_directory.h"
#include "platform/text_encoding.h"
#include "platform_test_files.h"
#include "support/temp_dir.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(SplitShellWords, FollowsShellQuoting) {
  using Words = std::vector<std::string>;
  EXPECT_THAT(SplitShellWords(""), IsEmpty());
  EXPECT_THAT(SplitShellWords(" \t\n "), IsEmpty());
  EXPECT_EQ(SplitShellWords("a  b\tc"), (Words{"a", "b", "c"}));
  EXPECT_EQ(SplitShellWords("'a b' \"c d\""), (Words{"a b", "c d"}));
  EXPECT_EQ(SplitShellWords("a\\ b"), (Words{"a b"}));
  EXPECT_EQ(SplitShellWords("\"x\\\"y\" 'it'\\''s'"), (Words{"x\"y", "it's"}));
  EXPECT_EQ(SplitShellWords("\"a\\nb\" 'c\\d'"), (Words{"a\\nb", "c\\d"}));
  EXPECT_EQ(SplitShellWords("\"\" a\"\"b ''"), (Words{"", "ab", ""}));
  EXPECT_EQ(SplitShellWords("$HOME * #no ~"), (Words{"$HOME", "*", "#no", "~"}));
  EXPECT_EQ(SplitShellWords("one\\\ntwo three\\\n"), (Words{"onetwo", "three"}));
  EXPECT_EQ(SplitShellWords("'open ended"), (Words{"open ended"}));
  EXPECT_EQ(SplitShellWords("end\\"), (Words{"end\\"}));
}

TEST(WindowsNames, DevicesStreamsAndTrailingDotsOrBlanks) {
  for (const char* name : {"CON", "nul", "Nul.txt", "com1", "LPT9.log", "aux.tar.gz", "PRN ", "a:b",
                           "file.txt:stream", "name.", "name ", "COM\xC2\xB9"}) {
    EXPECT_TRUE(WindowsCannotHoldName(name)) << name;
  }
  for (const char* name : {"CONSOLE", "nul_", "com0", "COM10", "lpt", "a.b", ".hidden", ".", "..",
                           "\xE6\xB5\x8B\xE8\xAF\x95.txt", "readme"}) {
    EXPECT_FALSE(WindowsCannotHoldName(name)) << name;
  }
}

TEST_F(FileSystem, WholeFilesAndDirectoriesInTheWay) {
  std::string content("a\0b", 3);
  ASSERT_TRUE(WriteWholeFile(dir_.File("f"), content));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(dir_.File("f"), read));
  EXPECT_EQ(read, content);
  EXPECT_FALSE(ReadWholeFile(dir_.File("missing"), read));
  EXPECT_TRUE(DeleteFileAt(dir_.File("f")));
  EXPECT_FALSE(DeleteFileAt(dir_.File("f")));

  ASSERT_TRUE(CreateFolder(dir_.File("d")));
  EXPECT_FALSE(CreateFolder(dir_.File("d")));
  EXPECT_FALSE(WriteWholeFile(dir_.File("d"), "x"));
  std::string reason;
  EXPECT_EQ(ReadWholeFile(dir_.File("d"), read, reason), ReadResult::kFailed);
  EXPECT_FALSE(DeleteFileAt(dir_.File("d")));
  EXPECT_EQ(ReadWholeFile(dir_.File("missing"), read, reason), ReadResult::kMissing);
  EXPECT_EQ(read, content);
}

TEST_F(FileSystem, ProbeReportsTheSizeOfRegularFilesBeyondFourGigabytes) {
  const int64_t sizes[] = {0, 5, 4096, (int64_t{5} << 30) + 3};
  for (int64_t expected : sizes) {
    std::string path = dir_.File("f");
    ASSERT_TRUE(WriteFileBytes(path, ""));
    ASSERT_TRUE(ResizeFile(path, static_cast<uint64_t>(expected)));
    int64_t size = -7;
    EXPECT_TRUE(ProbeFileSize(path, size));
    EXPECT_EQ(size, expected);
  }
}

TEST_F(FileSystem, ProbeFailsWithoutARegularFileAndLeavesTheSizeAlone) {
  std::string file = dir_.File("file");
  ASSERT_TRUE(WriteFileBytes(file, "abc"));
  const std::string paths[] = {dir_.File("missing"), dir_.path(), file + '\0' + "x"};
  for (const std::string& path : paths) {
    int64_t size = -7;
    EXPECT_FALSE(ProbeFileSize(path, size)) << path;
    EXPECT_EQ(size, -7);
  }
}

TEST_F(FileSystem, ReplacingAFileIsAllOrNothing) {
  const std::string path = dir_.File("version.txt");
  ASSERT_TRUE(ReplaceFileContents(path, "first"));
  EXPECT_EQ(ReadFileBytes(path), "first");
  ASSERT_TRUE(ReplaceFileContents(path, std::string("second\0", 7)));
  EXPECT_EQ(ReadFileBytes(path), std::string("second\0", 7));

  // A folder in the way, and a folder that does not exist.
  ASSERT_TRUE(CreateFolder(dir_.File("taken")));
  EXPECT_FALSE(ReplaceFileContents(dir_.File("taken"), "x"));
  EXPECT_FALSE(ReplaceFileContents(dir_.File("none/version.txt"), "x"));
  EXPECT_THAT(Names(dir_.path()), ElementsAre("taken", "version.txt"));
}

TEST_F(FileSystem, FoldersAndExecutablesThatAreNot) {
  EXPECT_TRUE(FlushFolder(dir_.path()));
  EXPECT_TRUE(FlushFolderOf(dir_.File("any")));
  EXPECT_FALSE(FlushFolder(dir_.File("missing")));
  EXPECT_FALSE(FlushFiles({dir_.File("missing")}));
  // What an install can tell before it changes anything.
  WriteFileBytes(dir_.File("arrived"), "x");
  EXPECT_EQ(CheckInstall(dir_.File("arrived"), dir_.File("new")), InstallResult::kInstalled);
  EXPECT_EQ(CheckInstall(dir_.File("arrived"), dir_.path()), InstallResult::kDeleteFailed);
  EXPECT_EQ(CheckInstall(dir_.File("missing"), dir_.File("new")), InstallResult::kRenameFailed);
  EXPECT_EQ(CheckInstall(dir_.path(), dir_.File("new")), InstallResult::kRenameFailed);
  EXPECT_FALSE(IsExecutableFile(dir_.path()));
  EXPECT_FALSE(IsExecutableFile(dir_.File("missing")));
}

TEST_F(FileSystem, LeftoversOfAKilledReplacementGoAndNothingElse) {
  for (const char* name :
       {".version.txt-Ab3xY9", ".version.txt.progress-000000", "version.txt", ".version.txt-abc",
        ".version.txt-ABCDEFG", ".version.txt-ab.def", "x.version.txt-abcdef", "a.txt.update",
        ".version.txt.progress-a", ".version.txt-abcdef.update", ".a.txt-abcdef"}) {
    WriteFileBytes(dir_.File(name), "x");
  }
  RemoveReplacementLeftovers(dir_.File("version.txt"));
  RemoveReplacementLeftovers(dir_.File("version.txt.progress"));
  EXPECT_THAT(
      Names(dir_.path()),
      ElementsAre(".a.txt-abcdef", ".version.txt-ABCDEFG", ".version.txt-ab.def",
                  ".version.txt-abc", ".version.txt-abcdef.update", ".version.txt.progress-a",
                  "a.txt.update", "version.txt", "x.version.txt-abcdef"));
}

// Names beyond ASCII, a replaced target and the download sink's calls, on every platform's API.
TEST_F(FileSystem, NamesBeyondAsciiRoundTripAndTargetsAreReplaced) {
  for (const std::string name : {"plain.txt", "中文名.dll", "更新 文件.txt"}) {
    SCOPED_TRACE(name);
    const std::string target = dir_.File(name);
    const std::string downloaded = target + ".update";
    std::string read;
    ASSERT_TRUE(WriteWholeFile(target, "old"));
    ASSERT_TRUE(ReadWholeFile(target, read));
    EXPECT_EQ(read, "old");
    ASSERT_TRUE(ReplaceFileContents(target, "older"));

    std::FILE* file = OpenFile(downloaded, "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("new file", 1, 8, file), 8u);
    std::fclose(file);
    EXPECT_TRUE(FlushFiles({downloaded, target}));
    ASSERT_TRUE(ResizeFile(downloaded, 3));
    file = OpenFile(downloaded, "r+b");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(SeekFile(file, 3));
    EXPECT_EQ(std::fwrite("!", 1, 1, file), 1u);
    std::fclose(file);

    EXPECT_EQ(InstallFile(downloaded, target, true), InstallResult::kInstalled);
    int64_t size = 0;
    EXPECT_TRUE(ProbeFileSize(target, size));
    EXPECT_EQ(size, 4);
    ASSERT_TRUE(ReadWholeFile(target, read));
    EXPECT_EQ(read, "new!");
    EXPECT_FALSE(PathTaken(downloaded));
    EXPECT_THAT(Names(dir_.path()), ElementsAre(name));
    EXPECT_TRUE(DeleteFileAt(target));
    EXPECT_FALSE(PathTaken(target));
  }
}

TEST_F(FileSystem, InstallingKeepsBothFilesOnFailure) {
  ASSERT_TRUE(WriteWholeFile(dir_.File("new"), "n"));
  ASSERT_TRUE(CreateFolder(dir_.File("folder")));
  EXPECT_EQ(InstallFile(dir_.File("new"), dir_.File("folder"), false),
            InstallResult::kDeleteFailed);
  EXPECT_EQ(InstallFile(dir_.File("gone"), dir_.File("target"), false),
            InstallResult::kRenameFailed);
  EXPECT_EQ(InstallFile(dir_.File("new"), dir_.File("none/target"), false),
            InstallResult::kRenameFailed);
  EXPECT_THAT(Names(dir_.path()), ElementsAre("folder", "new"));
}

TEST_F(FileSystem, TemporaryFilesAreNewEmptyAndNamedXml) {
  const std::string first = MakeTempFile();
  const std::string second = MakeTempFile();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  const std::string name = first.substr(DirectoryOfPath(first).size());
  EXPECT_EQ(name.rfind("Xml", 0), 0u) << first;
  int64_t size = -1;
  EXPECT_TRUE(ProbeFileSize(first, size));
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(DeleteFileAt(first));
  EXPECT_TRUE(DeleteFileAt(second));
}

TEST(TextEncoding, Gb18030BecomesUtf8AndStrayBytesOneReplacementEach) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"\xD6\xD0\xCE\xC4", "中文"},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"x\xB2", "x\xEF\xBF\xBD"},  // cut off at the end
      {"\x81\x30z",
       "\xEF\xBF\xBD"
       "0z"},  // a four-byte start cut short
  };
  for (const auto& [text, expected] : cases) {
    std::string out;
    ASSERT_TRUE(Gb18030ToUtf8(text, out));
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
