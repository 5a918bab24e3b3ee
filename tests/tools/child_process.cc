#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& unset,
                     int timeoutSeconds) {
  ChildResult result;
  // Everything the child needs is built before fork: only async-signal-safe calls follow it.
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool drop = false;
    for (const std::string& name : unset) {
      std::string prefix = name + "=";
      if (std::string(*entry).compare(0, prefix.size(), prefix) == 0)
        drop = true;
    }
    if (!drop)
      env.push_back(*entry);
  }
  env.push_back(nullptr);

  char outputPath[] = "/tmp/publish-child-XXXXXX";
  int output = mkstemp(outputPath);
  if (output < 0)
    return result;
  unlink(outputPath);
  pid_t child = fork();
  if (child < 0) {
    close(output);
    return result;
  }
  if (child == 0) {
    setsid();  // no controlling terminal: nothing may stop to ask for a password
    int input = open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(output, 1);
    dup2(output, 2);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }

  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child)
      break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!result.timedOut && WIFEXITED(status))
    result.status = WEXITSTATUS(status);

  lseek(output, 0, SEEK_SET);
  char buffer[4096];
  ssize_t got;
  while ((got = read(output, buffer, sizeof buffer)) > 0) {
    result.output.append(buffer, static_cast<size_t>(got));
  }
  close(output);
  return result;
}

BackgroundChild::BackgroundChild(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execve(args[0], args.data(), environ);
    _exit(127);
  }
}

BackgroundChild::~BackgroundChild() {
  if (pid_ <= 0)
    return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}
