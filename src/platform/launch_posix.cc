#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/launch.h"

namespace {

// Builds a NULL-terminated argv whose pointers stay valid while words lives.
std::vector<char*> MakeArgv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  return argv;
}

// Runs in the grandchild after fork: only async-signal-safe calls from here on. When exec fails,
// its errno goes to reportFd (closed on exec, so a started program says nothing).
[[noreturn]] void ExecDetached(const char* file, char* const* argv, int reportFd) {
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGHUP, SIGCHLD}) {
    sigaction(sig, &defaultAction, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // The updater's terminal input is not the launched program's: it runs on after we exit.
  int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) {
    dup2(devNull, 0);
    if (devNull != 0) {
      close(devNull);
    }
  }
  if (reportFd > 3) {
    close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
  }
  close_range(static_cast<unsigned>(reportFd) + 1, ~0u, 0);
  execv(file, argv);
  const int error = errno;
  ssize_t written = write(reportFd, &error, sizeof error);
  (void)written;
  _exit(127);
}

// The executable a bare name stands for, searched on PATH before forking (the child may only
// make async-signal-safe calls); "" when there is none.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) {
      end = dirs.size();
    }
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (IsExecutableFile(candidate)) {
      return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

// Starts a program in a session of its own through a short-lived intermediate child, so the
// program is never our child: no zombie, and it outlives us. 0 once it runs, else the errno that
// kept it from running.
int SpawnDetached(const std::string& file, std::vector<std::string> words) {
  std::vector<char*> argv = MakeArgv(words);
  // The grandchild's exec closes the pipe's end, or writes why it failed.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    return errno;
  }
  pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      ExecDetached(file.c_str(), argv.data(), report[1]);
    }
    if (grandchild < 0) {
      const int error = errno;
      ssize_t written = write(report[1], &error, sizeof error);
      (void)written;
    }
    _exit(0);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// True when error is 0; else false with failure the system's words for it.
bool Started(int error, std::string& failure) {
  if (error == 0) {
    return true;
  }
  failure = std::strerror(error);
  return false;
}

// The launcher of this platform: fork and exec, nothing waited for. Window's thread.
class PosixLauncher : public Launcher {
 public:
  bool Launch(const std::string& path, const std::string& parameters,
              std::string& failure) override {
    // A bare name (a tool such as "regsvr32") is looked up on PATH, as the platform would.
    const bool bare = path.find('/') == std::string::npos;
    std::string file = bare ? FindOnPath(path) : path;
    if (!file.empty() && IsExecutableFile(file)) {
      std::vector<std::string> words = SplitShellWords(parameters);
      words.insert(words.begin(), path);
      return Started(SpawnDetached(file, std::move(words)), failure);
    }
    if (bare || !PathTaken(path)) {
      return Started(ENOENT, failure);
    }
    // A document: the desktop's default application opens it; parameters mean nothing to it.
    std::string opener = FindOnPath("xdg-open");
    if (opener.empty()) {
      return Started(EACCES, failure);  // not executable, and nothing to open it with
    }
    return Started(SpawnDetached(opener, {"xdg-open", path}), failure);
  }
};

}  // namespace

Launcher& SystemLauncher() {
  static PosixLauncher launcher;
  return launcher;
}
