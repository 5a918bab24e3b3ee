#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// How a program run ended.
struct ChildResult {
  int status = -1;  // exit status; -1 when it did not exit normally or did not start
  bool timedOut = false;
  std::string out;  // standard output, with standard error too when they were merged
  std::string err;
};

// How to run a program: its environment is the test's own minus unset (names) plus extra
// (NAME=value entries).
struct ChildOptions {
  std::vector<std::string> unset;
  std::vector<std::string> extra;
  std::string input;  // standard input
  bool mergeOutput = false;
  std::chrono::seconds limit{60};  // then it is killed and the result says timedOut
  // The largest file the child may write in bytes (-1: no limit); SIGXFSZ is ignored, so a write
  // beyond it fails.
  long fileSizeLimit = -1;
  // Called with the child's id right after it started.
  std::function<void(pid_t)> whileRunning;
};

// Runs argv[0] in a session of its own (no controlling terminal: nothing may stop to ask for a
// password) and waits for it. Test thread only.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// A program left running in the background (a web server, say), its output thrown away; killed
// when the object goes. Test thread only.
class BackgroundChild {
 public:
  explicit BackgroundChild(const std::vector<std::string>& argv);
  ~BackgroundChild();
  BackgroundChild(const BackgroundChild&) = delete;
  BackgroundChild& operator=(const BackgroundChild&) = delete;

  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};
