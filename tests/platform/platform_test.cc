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
#include <cstdint>
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

// Permission bits of a file, -1 when it has none.
int Mode(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
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

  ::mkdir(dir_.File("d").c_str(), 0755);
  EXPECT_FALSE(WriteWholeFile(dir_.File("d"), "x"));
  EXPECT_FALSE(ReadWholeFile(dir_.File("d"), read));
  EXPECT_FALSE(DeleteFileAt(dir_.File("d")));

  // A FIFO is refused at once rather than waited on; missing and unreadable stay apart.
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  std::string reason;
  EXPECT_EQ(ReadWholeFile(dir_.File("fifo"), read, reason), ReadResult::Failed);
  EXPECT_EQ(ReadWholeFile(dir_.File("missing"), read, reason), ReadResult::Missing);
  EXPECT_EQ(read, content);
}

TEST_F(FileSystem, ProbeReportsTheSizeOfRegularFilesBeyondFourGigabytes) {
  const int64_t sizes[] = {0, 5, 4096, (int64_t{5} << 30) + 3};
  for (int64_t expected : sizes) {
    std::string path = dir_.File("f");
    ASSERT_TRUE(WriteFileBytes(path, ""));
    std::filesystem::resize_file(path, static_cast<uintmax_t>(expected));
    int64_t size = -7;
    EXPECT_TRUE(ProbeFileSize(path, size));
    EXPECT_EQ(size, expected);
  }
}

TEST_F(FileSystem, ProbeFailsWithoutARegularFileAndLeavesTheSizeAlone) {
  std::string fifo = dir_.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string file = dir_.File("file");
  ASSERT_TRUE(WriteFileBytes(file, "abc"));
  const std::string paths[] = {dir_.File("missing"), dir_.path(), fifo, file + '\0' + "x"};
  for (const std::string& path : paths) {
    int64_t size = -7;
    EXPECT_FALSE(ProbeFileSize(path, size)) << path;
    EXPECT_EQ(size, -7);
  }
}

TEST_F(FileSystem, ProbeFailsForAFileThatCannotBeRead) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "every file can be read by root";
  }
  std::string file = dir_.File("locked");
  ASSERT_TRUE(WriteFileBytes(file, "abc"));
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  int64_t size = -7;
  EXPECT_FALSE(ProbeFileSize(file, size));
  EXPECT_EQ(size, -7);
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
  EXPECT_EQ(Mode(path), 0644);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(ReplaceFileContents(path, std::string("second\0", 7)));
  EXPECT_EQ(ReadFileBytes(path), std::string("second\0", 7));
  EXPECT_EQ(Mode(path), 0600);

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

TEST_F(FileSystem, ExecutableFiles) {
  WriteFileBytes(dir_.File("f"), "x");
  ASSERT_EQ(::chmod(dir_.File("f").c_str(), 0751), 0);
  EXPECT_TRUE(IsExecutableFile(dir_.File("f")));
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
