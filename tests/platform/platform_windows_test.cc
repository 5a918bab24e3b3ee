#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "platform/file_system.h"
#include "platform/install_file.h"
#include "platform/launch.h"
#include "platform/user_language.h"
#include "platform_test_files.h"
#include "support/temp_dir.h"

// File suffixes, attributes and the shell: what only Windows has.
namespace {

namespace fs = std::filesystem;

bool IsReadOnly(const std::string& path) {
  return (fs::status(fs::u8path(path)).permissions() & fs::perms::owner_write) == fs::perms::none;
}

void MakeReadOnly(const std::string& path) {
  fs::permissions(fs::u8path(path), fs::perms::all & ~fs::perms::owner_write &
                                        ~fs::perms::group_write & ~fs::perms::others_write);
}

TEST_F(FileSystem, ExecutablesGoBySuffix) {
  const std::pair<const char*, bool> names[] = {
      {"a.exe", true},  {"b.CMD", true}, {"c.bat", true},     {"d.Com", true},
      {"e.txt", false}, {"f", false},    {"g.exe.txt", false}};
  for (const auto& [name, executable] : names) {
    ASSERT_TRUE(WriteFileBytes(dir_.File(name), "x"));
    EXPECT_EQ(IsExecutableFile(dir_.File(name)), executable) << name;
  }
  ASSERT_TRUE(CreateFolder(dir_.File("folder.exe")));
  EXPECT_FALSE(IsExecutableFile(dir_.File("folder.exe")));
}

TEST_F(FileSystem, ReadOnlyTargetsAreReplacedAndStayReadOnly) {
  const std::string target = dir_.File("程序.dll");
  ASSERT_TRUE(WriteWholeFile(target, "old"));
  MakeReadOnly(target);
  ASSERT_TRUE(ReplaceFileContents(target, "replaced"));
  EXPECT_EQ(ReadFileBytes(target), "replaced");
  EXPECT_TRUE(IsReadOnly(target));

  ASSERT_TRUE(WriteWholeFile(target + ".update", "installed"));
  EXPECT_EQ(InstallFile(target + ".update", target, true), InstallResult::kInstalled);
  EXPECT_EQ(ReadFileBytes(target), "installed");
  EXPECT_TRUE(IsReadOnly(target));
}

// path with Windows separators, for a batch file's commands.
std::string Backslashed(std::string path) {
  for (char& c : path) {
    c = c == '/' ? '\\' : c;
  }
  return path;
}

TEST(SystemLauncher, ShellStartsAProgramWithItsParametersAsWritten) {
  TempDir dir;
  const std::string out = Backslashed(dir.File("args.txt"));
  ASSERT_TRUE(WriteFileBytes(dir.File("record.bat"), "@echo %*> \"" + out + ".tmp\"\r\n@move \"" +
                                                         out + ".tmp\" \"" + out + "\" > nul\r\n"));
  // A doubled separator as the update driver joins paths.
  std::string failure;
  EXPECT_TRUE(
      SystemLauncher().Launch(dir.path() + "//record.bat", "one \"two three\" $HOME", failure))
      << failure;
  ASSERT_TRUE(WaitForFile(out));
  EXPECT_EQ(ReadFileBytes(out), "one \"two three\" $HOME\r\n");
}

TEST(SystemLauncher, MissingProgramIsReported) {
  TempDir dir;
  for (const std::string& path : {dir.File("none/program.exe"), std::string("no-such-tool")}) {
    std::string failure;
    EXPECT_FALSE(SystemLauncher().Launch(path, "a b", failure)) << path;
    EXPECT_FALSE(failure.empty()) << path;
  }
}

// The user's interface language by its ISO 639 name ("en", "zh"): two or three small letters.
TEST(UserLanguage, IsTheInterfaceLanguagesIsoName) {
  const std::string name = UserLanguage();
  EXPECT_TRUE(name.size() == 2 || name.size() == 3) << name;
  for (char c : name) {
    EXPECT_TRUE(c >= 'a' && c <= 'z') << name;
  }
}

}  // namespace
