#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// Runs in the grandchild after fork: only async-signal-safe calls from here on.
[[noreturn]] void ExecDetached(const char* file, char* const* argv) {
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
  close_range(3, ~0u, 0);
  execv(file, argv);
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
// program is never our child: no zombie, and it outlives us.
void SpawnDetached(const std::string& file, std::vector<std::string> words) {
  std::vector<char*> argv = MakeArgv(words);
  pid_t child = fork();
  if (child < 0) {
    return;
  }
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      ExecDetached(file.c_str(), argv.data());
    }
    _exit(0);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

// The launcher of this platform: fork and exec, nothing waited for.
class PosixLauncher : public Launcher {
 public:
  void Launch(const std::string& path, const std::string& parameters) override {
    // A bare name (a tool such as "regsvr32") is looked up on PATH, as the platform would.
    std::string file = path.find('/') == std::string::npos ? FindOnPath(path) : path;
    if (!file.empty() && IsExecutableFile(file)) {
      std::vector<std::string> words = SplitShellWords(parameters);
      words.insert(words.begin(), path);
      SpawnDetached(file, std::move(words));
      return;
    }
    if (path.find('/') == std::string::npos) {
      return;  // no such program: launch failures are not reported
    }
    // A document: the desktop's default application opens it; parameters mean nothing to it.
    std::string opener = FindOnPath("xdg-open");
    if (!opener.empty()) {
      SpawnDetached(opener, {"xdg-open", path});
    }
  }
};

}  // namespace

Launcher& SystemLauncher() {
  static PosixLauncher launcher;
  return launcher;
}
