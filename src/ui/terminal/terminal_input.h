#pragma once

#include <deque>
#include <string>

// Lines typed on a file descriptor (standard input), read without ever blocking the caller for
// longer than it asks. Window's thread only.
class TerminalInput {
 public:
  explicit TerminalInput(int fd);

  // Reads what has arrived, waiting up to timeoutMs for something to arrive.
  void Poll(int timeoutMs);
  // Takes the oldest complete line, without its line end; false when none is pending.
  bool TakeLine(std::string& line);
  // True once the input has ended and every line has been taken.
  bool Exhausted() const { return ended_ && lines_.empty(); }

 private:
  int fd_;
  bool ended_ = false;
  std::string partial_;
  std::deque<std::string> lines_;
};
