#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

extern char** environ;

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const char kFailedRun[] = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";

// The recorded outcome of one run of the program.
struct RunResult {
  int status = -1;               // exit status; -1 when it did not exit normally
  std::vector<std::string> log;  // standard output's lines without their time stamps
  std::string out;
  std::string err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool HasTimeStamp(const std::string& line) {
  if (line.size() < 9) {
    return false;
  }
  for (int i : {0, 1, 3, 4, 6, 7}) {
    if (line[i] < '0' || line[i] > '9') {
      return false;
    }
  }
  return line[2] == ':' && line[5] == ':' && line[8] == ' ';
}

// An application directory holding a copy of the program and its configuration, and a loopback
// server publishing releases.
class TerminalRun : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = app_.File("Lodestar");
    std::filesystem::copy_file(LODESTAR_BINARY, program_);
    ::chmod(program_.c_str(), 0755);
    tmp_ = work_.File("tmp");
    ::mkdir(tmp_.c_str(), 0700);
  }

  // Publishes a release under /<name>: a start script that records its arguments, and files.
  std::string Publish(const std::string& name, const std::vector<std::string>& skip = {}) {
    std::string root = work_.File(name);
    std::filesystem::create_directories(root + "/data/deep");
    auto put = [&](const std::string& relative, const std::string& content) {
      if (std::find(skip.begin(), skip.end(), relative) == skip.end()) {
        WriteFileBytes(root + "/" + relative + ".txt", content);
      }
    };
    put("/start.sh", kStartScript);
    put("data/readme.txt", "read me\n");
    put("data/deep/core.bin", std::string(3000, 'c'));
    std::string manifest =
        "\"paths\":[\n"
        "\"\":[\"start.sh\":{\"l\":\"" +
        std::to_string(std::strlen(kStartScript)) +
        "\",\"v\":\"1\",\"x\":\"1\"}],\n"
        "\"data\":[\"readme.txt\":{\"l\":\"8\",\"v\":\"1\"}],\n"
        "\"data/deep\":[\"core.bin\":{\"l\":\"3000\",\"v\":\"4\"}]\n"
        "],\"head\":{\"date\":\"2024-05-01 10:00:00\"}\n";
    WriteFileBytes(root + "/version.txt", manifest);
    server_.ServeDirectory("/" + name, root);
    return manifest;
  }

  void Configure(bool automatic) {
    WriteFileBytes(app_.File("Lodestar.cfg"),
                   "\"serverlist\":\"" + server_.Url("/servers.txt") +
                       "\",\n\"auto\":" + (automatic ? "1" : "0") +
                       ",\n\"exec\":\"start.sh\",\n\"param\":\"--from 'the updater'\"\n");
  }

  // Runs the program with input on its standard input; kills it after the time limit.
  RunResult Run(const std::string& input = "",
                std::chrono::seconds limit = std::chrono::seconds(60),
                const std::function<void(pid_t)>& whileRunning = nullptr) {
    std::string in = work_.File("stdin"), out = work_.File("stdout"), err = work_.File("stderr");
    WriteFileBytes(in, input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
          entry.rfind("TMPDIR=", 0) != 0) {
        env.push_back(entry);
      }
    }
    env.push_back("TMPDIR=" + tmp_);
    std::vector<char*> envp;
    for (std::string& entry : env) {
      envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {program_.data(), nullptr};
    pid_t pid = -1;
    RunResult result;
    int spawned = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) {
      return result;
    }
    if (whileRunning) {
      whileRunning(pid);
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the program hangs";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFileBytes(out);
    result.err = ReadFileBytes(err);
    for (const std::string& line : Lines(result.out)) {
      EXPECT_TRUE(HasTimeStamp(line)) << line;
      result.log.push_back(line.size() > 9 ? line.substr(9) : line);
    }
    return result;
  }

  // What the start script recorded once it ran; "" when it did not run within the limit.
  std::string WaitForLaunch() {
    std::string path = app_.File("launched.txt");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFileBytes(path);
  }

  size_t FileRequests() const {
    size_t count = 0;
    for (const auto& request : server_.Requests()) {
      count +=
          request.path.find("/version.txt") == std::string::npos && request.path != "/servers.txt";
    }
    return count;
  }

  static constexpr const char* kStartScript =
      "#!/bin/sh\n"
      "for a in \"$@\"; do echo \"[$a]\"; done > \"$(dirname \"$0\")/launched.tmp\"\n"
      "mv \"$(dirname \"$0\")/launched.tmp\" \"$(dirname \"$0\")/launched.txt\"\n";

  TempDir work_;
  TempDir app_;
  std::string program_;
  std::string tmp_;
  LoopbackHttpServer server_;
};

TEST_F(TerminalRun, FirstRunInstallsEverythingAndLaunchesExecThenSecondRunIsUpToDate) {
  std::string manifest = Publish("r1");
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/r1") + "\n");
  Configure(true);

  RunResult first = Run();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                          "正在连接：Main", "获取更新文件列表成功：Main",
                          "需更新文件总数: 3, 文件总长度: 3 KB", "更新完毕"));
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), "read me\n");
  EXPECT_EQ(ReadFileBytes(app_.File("data/deep/core.bin")), std::string(3000, 'c'));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  EXPECT_EQ(WaitForLaunch(), "[--from]\n[the updater]\n");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  EXPECT_THAT(first.err, HasSubstr("下载文件成功 [core.bin]"));

  ::unlink(app_.File("launched.txt").c_str());
  size_t fetched = FileRequests();
  RunResult second = Run();
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_THAT(second.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                          "正在连接：Main", "获取更新文件列表成功：Main", "你当前的版本是最新的"));
  EXPECT_EQ(FileRequests(), fetched);
  EXPECT_EQ(WaitForLaunch(), "[--from]\n[the updater]\n");
}

TEST_F(TerminalRun, FailedFileKeepsTheOldManifestAndARerunCompletes) {
  Publish("broken", {"data/readme.txt"});
  std::string manifest = Publish("good");
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/broken") + "\n");
  Configure(true);
  WriteFileBytes(app_.File("version.txt"), "\"paths\":[]\n");

  RunResult failed = Run();
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                          "正在连接：Main", "获取更新文件列表成功：Main",
                          "需更新文件总数: 3, 文件总长度: 3 KB",
                          "下载文件失败 [readme.txt], 错误代码 [6]", kFailedRun));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), "\"paths\":[]\n");
  EXPECT_FALSE(FileExists(app_.File("launched.txt")));

  server_.SetBody("/servers.txt", "Main|" + server_.Url("/good") + "\n");
  RunResult rerun = Run();
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_THAT(rerun.log, ::testing::Contains("更新完毕"));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), "read me\n");
}

TEST_F(TerminalRun, UserChoosesTheServerOnStandardInput) {
  Publish("good");
  server_.SetBody("/servers.txt",
                  "Good|" + server_.Url("/good") + "\nBad|" + server_.Url("/none") + "\n");
  Configure(false);

  // The last line ("Bad") is selected; "2" picks "Good" (sorted below "Bad"), then Enter.
  RunResult run = Run("2\n\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("* 1. Bad\n  2. Good\n"));
  EXPECT_THAT(run.err, HasSubstr("  1. Bad\n* 2. Good\n"));
  ASSERT_GE(run.log.size(), 3u);
  EXPECT_EQ(run.log[2], "正在连接：Good");
  EXPECT_FALSE(WaitForLaunch().empty());
}

TEST_F(TerminalRun, QuitOrEndOfInputClosesWhileWaiting) {
  Publish("good");
  server_.SetBody("/servers.txt", "Good|" + server_.Url("/good") + "\n");
  Configure(false);

  RunResult quit = Run("q\n\n");
  EXPECT_EQ(quit.status, 1);
  EXPECT_THAT(quit.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器"));

  RunResult ended = Run("");
  EXPECT_EQ(ended.status, 1);
  EXPECT_EQ(ended.log.size(), 2u);
  EXPECT_EQ(FileRequests(), 0u);
}

TEST_F(TerminalRun, UnloadableManifestReportsWithoutWaitingForAKey) {
  std::string root = work_.File("junk");
  ::mkdir(root.c_str(), 0755);
  WriteFileBytes(root + "/version.txt", "{garbage");
  server_.ServeDirectory("/junk", root);
  server_.SetBody("/servers.txt", "Junk|" + server_.Url("/junk") + "\n");
  Configure(true);

  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("装载远程版本信息失败!"));
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(TerminalRun, InterruptCancelsTheRunningTransfer) {
  Publish("slow");
  server_.SetStalled("/slow/data/deep/core.bin.txt", std::string(3000, 'c'), 1500);
  server_.SetBody("/servers.txt", "Slow|" + server_.Url("/slow") + "\n");
  Configure(true);

  auto started = std::chrono::steady_clock::now();
  RunResult run = Run("", std::chrono::seconds(30), [this](pid_t pid) {
    ASSERT_TRUE(server_.WaitForStalls(1, std::chrono::seconds(20)));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_THAT(run.log, Not(::testing::Contains("更新完毕")));
  EXPECT_FALSE(FileExists(app_.File("version.txt")));
  server_.ReleaseStalls();
}

TEST_F(TerminalRun, NoConfigurationEndsAtOnceWithoutAMessage) {
  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.log, IsEmpty());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(server_.RequestCount(), 0u);
}

}  // namespace
