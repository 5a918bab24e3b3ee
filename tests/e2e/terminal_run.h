#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

// The last line of a run in which a file download failed.
extern const char kFailedRun[];

// The recorded outcome of one run of the program.
struct RunResult : ChildResult {
  std::vector<std::string> log;  // standard output's lines without their time stamps
};

// An application directory holding a copy of the program and its configuration, and a loopback
// server publishing releases. The test thread runs the program as a child process in the terminal
// front end (no display), with $TMPDIR set to a folder of the test's own.
class TerminalRun : public ::testing::Test {
 public:
  static constexpr const char* kStartScript =
      "#!/bin/sh\n"
      "for a in \"$@\"; do echo \"[$a]\"; done > \"$(dirname \"$0\")/launched.tmp\"\n"
      "mv \"$(dirname \"$0\")/launched.tmp\" \"$(dirname \"$0\")/launched.txt\"\n";

 protected:
  void SetUp() override;

  // Publishes a release under /<name>: a start script that records its arguments, and files.
  std::string Publish(const std::string& name, const std::vector<std::string>& skip = {});
  // Writes Lodestar.cfg: the server list at /servers.txt, exec start.sh with two parameters, and
  // the members in extra (",key:value...").
  void Configure(bool automatic, const std::string& extra = "");

  // Runs the program with input on its standard input; kills it after the time limit.
  // whileRunning, when given, is called with the child's id right after it started.
  RunResult Run(const std::string& input = "",
                std::chrono::seconds limit = std::chrono::seconds(60),
                const std::function<void(pid_t)>& whileRunning = nullptr);

  // What the start script recorded once it ran; "" when it did not run within the limit.
  std::string WaitForLaunch();
  // Requests for anything but the server list and the manifests.
  size_t FileRequests() const;

  TempDir work_;
  TempDir app_;
  std::string program_;
  std::string tmp_;
  LoopbackHttpServer server_;
  // Set before Run: more NAME=value entries for the child's environment, and the largest file
  // the child may write in bytes (-1: no limit; SIGXFSZ is ignored, so a write beyond it fails).
  std::vector<std::string> extraEnvironment_;
  std::vector<std::string> arguments_;  // the program's; with any, the result has no log
  long fileSizeLimit_ = -1;
};
