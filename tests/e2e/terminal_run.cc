#include "terminal_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

const char kFailedRun[] = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";

namespace {

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

// Puts the test process's own file-size limit and SIGXFSZ handling in place for the time of one
// spawn, so that the child starts with them; the test writes no file meanwhile.
class SpawnLimits {
 public:
  explicit SpawnLimits(long fileSizeLimit) : active_(fileSizeLimit >= 0) {
    if (!active_) {
      return;
    }
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    struct rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(fileSizeLimit);
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &savedAction_);
  }
  ~SpawnLimits() {
    if (active_) {
      ::setrlimit(RLIMIT_FSIZE, &saved_);
      ::sigaction(SIGXFSZ, &savedAction_, nullptr);
    }
  }
  SpawnLimits(const SpawnLimits&) = delete;
  SpawnLimits& operator=(const SpawnLimits&) = delete;

 private:
  bool active_;
  struct rlimit saved_ {};
  struct sigaction savedAction_ {};
};

}  // namespace

void TerminalRun::SetUp() {
  program_ = app_.File("Lodestar");
  std::filesystem::copy_file(LODESTAR_BINARY, program_);
  ::chmod(program_.c_str(), 0755);
  tmp_ = work_.File("tmp");
  ::mkdir(tmp_.c_str(), 0700);
}

std::string TerminalRun::Publish(const std::string& name, const std::vector<std::string>& skip) {
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

void TerminalRun::Configure(bool automatic) {
  WriteFileBytes(app_.File("Lodestar.cfg"),
                 "\"serverlist\":\"" + server_.Url("/servers.txt") +
                     "\",\n\"auto\":" + (automatic ? "1" : "0") +
                     ",\n\"exec\":\"start.sh\",\n\"param\":\"--from 'the updater'\"\n");
}

RunResult TerminalRun::Run(const std::string& input, std::chrono::seconds limit,
                           const std::function<void(pid_t)>& whileRunning) {
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
  env.insert(env.end(), extraEnvironment_.begin(), extraEnvironment_.end());
  std::vector<char*> envp;
  for (std::string& entry : env) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);
  char* argv[] = {program_.data(), nullptr};
  pid_t pid = -1;
  RunResult result;
  int spawned;
  {
    SpawnLimits limits(fileSizeLimit_);
    spawned = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, envp.data());
  }
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

std::string TerminalRun::WaitForLaunch() {
  std::string path = app_.File("launched.txt");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ReadFileBytes(path);
}

size_t TerminalRun::FileRequests() const {
  size_t count = 0;
  for (const auto& request : server_.Requests()) {
    count +=
        request.path.find("/version.txt") == std::string::npos && request.path != "/servers.txt";
  }
  return count;
}
