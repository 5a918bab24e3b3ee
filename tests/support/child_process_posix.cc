#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

extern char** environ;

namespace {

// An unnamed temporary file, closed when the object goes; -1 when none could be made.
class ScratchFile {
 public:
  ScratchFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lodestar-child-XXXXXX");
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      ::unlink(pattern.c_str());
    }
  }
  ~ScratchFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  int fd() const { return fd_; }
  std::string ReadAll() const {
    std::string text;
    char buffer[4096];
    ::lseek(fd_, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

 private:
  int fd_ = -1;
};

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> Environment(const ChildOptions& options) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    bool drop = false;
    for (const std::string& name : options.unset) {
      drop = drop || text.rfind(name + "=", 0) == 0;
    }
    // An extra entry takes the place of the variable of its name.
    for (const std::string& extra : options.extra) {
      drop = drop || text.rfind(extra.substr(0, extra.find('=') + 1), 0) == 0;
    }
    if (!drop) {
      entries.push_back(text);
    }
  }
  entries.insert(entries.end(), options.extra.begin(), options.extra.end());
  return entries;
}

}  // namespace

FileSizeLimit::FileSizeLimit(long bytes) : active_(bytes >= 0) {
  if (!active_) {
    return;
  }
  ::getrlimit(RLIMIT_FSIZE, &saved_);
  struct rlimit limit = saved_;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &savedAction_);
}

FileSizeLimit::~FileSizeLimit() {
  if (active_) {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::sigaction(SIGXFSZ, &savedAction_, nullptr);
  }
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildResult result;
  ScratchFile in, out, err;
  if (in.fd() < 0 || out.fd() < 0 || err.fd() < 0 ||
      ::write(in.fd(), options.input.data(), options.input.size()) !=
          static_cast<ssize_t>(options.input.size())) {
    return result;
  }
  ::lseek(in.fd(), 0, SEEK_SET);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd(), 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd(), 1);
  posix_spawn_file_actions_adddup2(&actions, options.mergeOutput ? out.fd() : err.fd(), 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<std::string> args = argv, env = Environment(options);
  std::vector<char*> argp = Pointers(args), envp = Pointers(env);
  pid_t pid = -1;
  int spawned;
  {
    // The child starts with the limit; the test writes no file meanwhile.
    FileSizeLimit limit(options.fileSizeLimit);
    spawned = posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return result;
  }
  if (options.whileRunning) {
    options.whileRunning(pid);
  }
  auto deadline = std::chrono::steady_clock::now() + options.limit;
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.status = !result.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peakMemoryKiB = usage.ru_maxrss;  // in KiB on Linux
  result.out = out.ReadAll();
  result.err = err.ReadAll();
  return result;
}

BackgroundChild::BackgroundChild(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  }
  std::vector<std::string> args = argv;
  std::vector<char*> argp = Pointers(args);
  if (posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
}

BackgroundChild::~BackgroundChild() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}
