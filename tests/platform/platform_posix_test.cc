#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/file_system.h"
#include "platform/launch.h"
#include "platform/user_language.h"
#include "platform_test_files.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"

using ::testing::ElementsAre;

// Permission bits, FIFOs, process sessions: what only POSIX systems have.
namespace {

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

TEST_F(FileSystem, FifosAreRefusedAtOnce) {
  std::string fifo = dir_.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string read = "kept";
  std::string reason;
  EXPECT_EQ(ReadWholeFile(fifo, read, reason), ReadResult::kFailed);
  EXPECT_EQ(read, "kept");
  int64_t size = -7;
  EXPECT_FALSE(ProbeFileSize(fifo, size));
  EXPECT_EQ(size, -7);
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

TEST_F(FileSystem, ReplacingKeepsPermissionBitsAndSurvivesAFullDisk) {
  const std::string path = dir_.File("version.txt");
  ASSERT_TRUE(ReplaceFileContents(path, "first"));
  EXPECT_EQ(Mode(path), 0644);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(ReplaceFileContents(path, std::string("second\0", 7)));
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

  EXPECT_THAT(Names(dir_.path()), ElementsAre("version.txt"));
}

TEST_F(FileSystem, ExecutableFiles) {
  WriteFileBytes(dir_.File("f"), "x");
  ASSERT_EQ(::chmod(dir_.File("f").c_str(), 0751), 0);
  EXPECT_TRUE(IsExecutableFile(dir_.File("f")));
  WriteFileBytes(dir_.File("g.exe"), "x");
  EXPECT_FALSE(IsExecutableFile(dir_.File("g.exe")));
}

TEST(SystemLauncher, StartsDetachedWithSplitArguments) {
  TempDir dir;
  std::string script = dir.File("record.sh");
  std::string out = dir.File("args.txt");
  WriteFileBytes(script, "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"" + out +
                             ".tmp\"\nps -o sid= -p $$ >> \"" + out + ".tmp\"\nmv \"" + out +
                             ".tmp\" \"" + out + "\"\n");
  ::chmod(script.c_str(), 0755);

  std::string failure;
  EXPECT_TRUE(SystemLauncher().Launch(script, "one 'two three' \"$HOME\"", failure)) << failure;
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

// A program that is not there, or whose exec fails (its interpreter is missing), is reported
// with the system's reason; nothing is left to wait for.
TEST(SystemLauncher, ProgramThatCannotRunIsReported) {
  TempDir dir;
  const std::string orphan = dir.File("orphan.sh");
  WriteFileBytes(orphan, "#!/nonexistent/interpreter\n");
  ::chmod(orphan.c_str(), 0755);
  for (const std::string& path :
       {std::string("/nonexistent/program"), std::string("no-such-tool-anywhere"), orphan}) {
    std::string failure;
    EXPECT_FALSE(SystemLauncher().Launch(path, "a b", failure)) << path;
    EXPECT_EQ(failure, std::strerror(ENOENT)) << path;
  }
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
}

// The locale of messages: the first variable set and not empty, in the order gettext reads
// them; LANGUAGE gives a list, of which the first counts.
TEST(UserLanguage, FirstOfTheMessageLocaleVariables) {
  const char* const names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  const struct {
    std::vector<const char*> values;  // in the order of names; null: unset
    const char* language;
  } cases[] = {
      {{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, "zh_CN.UTF-8"},
      {{nullptr, "C", nullptr, "zh_CN.UTF-8"}, "C"},
      {{"", "", "en_GB.UTF-8", "zh_CN.UTF-8"}, "en_GB.UTF-8"},
      {{"zh_TW:en", "C", nullptr, nullptr}, "zh_TW"},
      {{nullptr, nullptr, nullptr, nullptr}, ""},
  };
  ScopedEnvironment environment;
  for (const auto& c : cases) {
    for (size_t i = 0; i < 4; ++i) {
      environment.Set(names[i], c.values[i]);
    }
    EXPECT_EQ(UserLanguage(), c.language);
  }
}

}  // namespace
