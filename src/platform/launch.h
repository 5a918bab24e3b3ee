#pragma once

#include <string>
#include <vector>

// Starts programs without waiting for them; the update driver's seam for tests. Window's thread.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts path with parameters split by POSIX shell quoting rules (no shell runs), detached in a
  // session of its own; a file that is not executable is opened with the desktop's default
  // application. On Windows the shell's default verb starts it, parameters passed as written.
  // True once it runs (a document: once the program that opens it runs); false when it could not
  // be started, failure then saying why in the system's words.
  virtual bool Launch(const std::string& path, const std::string& parameters,
                      std::string& failure) = 0;
};

// The launcher of this platform.
Launcher& SystemLauncher();

// Splits a parameter text into arguments as a POSIX shell would (quotes, backslashes), without
// expansions.
std::vector<std::string> SplitShellWords(const std::string& text);
