#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// How a program run ended.
struct ChildResult {
  int status = -1;  // exit status; -1 when it did not exit normally or did not start
  bool timedOut = false;
  long peakMemoryKiB = -1;  // the most memory the program held at once (peak resident set size)
  std::string out;          // standard output, with standard error too when they were merged
  std::string err;
};

// How to run a program: its environment is the test's own minus unset (names) plus extra
// (NAME=value entries, each in the place of the test's own variable of that name).
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

// The largest file this process (and a program it starts meanwhile) may write, in bytes, for the
// life of the object (-1: no limit), SIGXFSZ ignored: a write beyond it fails as on a full disk.
// Test thread only, while no other thread writes a file.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  bool active_;
  struct rlimit saved_ {};
  struct sigaction savedAction_ {};
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
