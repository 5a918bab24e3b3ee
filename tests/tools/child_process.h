#pragma once

#include <string>
#include <vector>

// How a program run ended.
struct ChildResult {
  int status = -1;  // exit status; -1 when killed or not started
  bool timedOut = false;
  std::string output;  // standard output and standard error together
};

// Runs argv[0] with the test's environment minus the variables named in unset, standard input
// from /dev/null, and waits up to timeoutSeconds (then kills it). Test thread only.
ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& unset = {}, int timeoutSeconds = 60);

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
  int pid_ = -1;
};
