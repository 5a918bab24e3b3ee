#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/file_system.h"
#include "platform/launch.h"
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

class FileSystem : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FileSystem, TemporaryFilesAreNewEmptyAndInTmpdir) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", (dir_.path() + "/").c_str(), 1);
  std::string first = MakeTempFile();
  std::string second = MakeTempFile();
  old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");

  ASSERT_EQ(first.rfind(dir_.path() + "/Xml", 0), 0u) << first;
  EXPECT_NE(first, second);
  struct stat info;
  ASSERT_EQ(::stat(first.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(FileSystem, RenameNeverReplaces) {
  WriteFileBytes(dir_.File("new"), "new");
  WriteFileBytes(dir_.File("old"), "old");
  EXPECT_FALSE(RenameNoReplace(dir_.File("new"), dir_.File("old")));
  EXPECT_EQ(ReadFileBytes(dir_.File("old")), "old");
  EXPECT_EQ(ReadFileBytes(dir_.File("new")), "new");

  ASSERT_TRUE(DeleteFileAt(dir_.File("old")));
  EXPECT_TRUE(RenameNoReplace(dir_.File("new"), dir_.File("old")));
  EXPECT_EQ(ReadFileBytes(dir_.File("old")), "new");
  EXPECT_FALSE(FileExists(dir_.File("new")));
  EXPECT_FALSE(DeleteFileAt(dir_.File("new")));
}

TEST_F(FileSystem, WholeFilesAndDirectoriesInTheWay) {
  std::string content("a\0b", 3);
  ASSERT_TRUE(WriteWholeFile(dir_.File("f"), content));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(dir_.File("f"), read));
  EXPECT_EQ(read, content);
  EXPECT_FALSE(ReadWholeFile(dir_.File("missing"), read));

  ::mkdir(dir_.File("d").c_str(), 0755);
  EXPECT_FALSE(WriteWholeFile(dir_.File("d"), "x"));
  EXPECT_FALSE(ReadWholeFile(dir_.File("d"), read));
  EXPECT_TRUE(CanOpenForReading(dir_.File("d")));
  EXPECT_FALSE(DeleteFileAt(dir_.File("d")));
  EXPECT_FALSE(CanOpenForReading(dir_.File("missing")));
}

// Files in the directory, by name.
std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(FileSystem, ReplacingAFileIsAllOrNothing) {
  const std::string path = dir_.File("version.txt");
  ASSERT_TRUE(ReplaceFileContents(path, "first"));
  EXPECT_EQ(ReadFileBytes(path), "first");
  unsigned mode = 0;
  ASSERT_TRUE(GetPermissionBits(path, mode));
  EXPECT_EQ(mode, 0644u);
  ASSERT_TRUE(SetPermissionBits(path, 0600));
  ASSERT_TRUE(ReplaceFileContents(path, std::string("second\0", 7)));
  EXPECT_EQ(ReadFileBytes(path), std::string("second\0", 7));
  ASSERT_TRUE(GetPermissionBits(path, mode));
  EXPECT_EQ(mode, 0600u);

  // The disk fills up halfway (a file-size limit, with its signal ignored, fails the write).
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 4096;
  void (*oldHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool replaced = ReplaceFileContents(path, std::string(10000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(ReadFileBytes(path), std::string("second\0", 7));

  // A folder in the way, and a folder that does not exist.
  ::mkdir(dir_.File("taken").c_str(), 0755);
  EXPECT_FALSE(ReplaceFileContents(dir_.File("taken"), "x"));
  EXPECT_FALSE(ReplaceFileContents(dir_.File("none/version.txt"), "x"));
  EXPECT_THAT(Names(dir_.path()), ElementsAre("taken", "version.txt"));
}

TEST_F(FileSystem, PermissionBits) {
  WriteFileBytes(dir_.File("f"), "x");
  ASSERT_TRUE(SetPermissionBits(dir_.File("f"), 0751));
  unsigned mode = 0;
  ASSERT_TRUE(GetPermissionBits(dir_.File("f"), mode));
  EXPECT_EQ(mode, 0751u);
  EXPECT_TRUE(IsExecutableFile(dir_.File("f")));
  EXPECT_FALSE(IsExecutableFile(dir_.path()));
  EXPECT_FALSE(GetPermissionBits(dir_.File("missing"), mode));
}

TEST(SystemLauncher, StartsDetachedWithSplitArguments) {
  TempDir dir;
  std::string script = dir.File("record.sh");
  std::string out = dir.File("args.txt");
  WriteFileBytes(script, "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"" + out +
                             ".tmp\"\nps -o sid= -p $$ >> \"" + out + ".tmp\"\nmv \"" + out +
                             ".tmp\" \"" + out + "\"\n");
  ::chmod(script.c_str(), 0755);

  SystemLauncher().Launch(script, "one 'two three' \"$HOME\"");
  // Not our child: nothing for us to wait for, so no zombie is left behind.
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!FileExists(out) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string text = ReadFileBytes(out);
  ASSERT_EQ(text.rfind("[one]\n[two three]\n[$HOME]\n", 0), 0u) << text;
  // In a session of its own.
  long session = std::strtol(text.c_str() + 26, nullptr, 10);
  EXPECT_NE(session, static_cast<long>(::getsid(0)));
}

TEST(SystemLauncher, MissingProgramIsIgnored) {
  SystemLauncher().Launch("/nonexistent/program", "a b");
  SystemLauncher().Launch("no-such-tool-anywhere", "/s x");
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
}

}  // namespace
