#include "ui/terminal/terminal_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

TerminalInput::TerminalInput(int fd) : fd_(fd) {}

void TerminalInput::Poll(int timeoutMs) {
  if (ended_) {
    return;
  }
  pollfd entry{fd_, POLLIN, 0};
  int ready = poll(&entry, 1, timeoutMs);
  if (ready <= 0) {
    return;  // nothing yet, or a signal came first
  }
  if ((entry.revents & POLLNVAL) != 0) {
    ended_ = true;  // no standard input at all
    return;
  }
  char buffer[4096];
  ssize_t got = read(fd_, buffer, sizeof buffer);
  if (got < 0) {
    if (errno != EINTR && errno != EAGAIN) {
      ended_ = true;
    }
    return;
  }
  if (got == 0) {
    ended_ = true;
    if (!partial_.empty()) {
      lines_.push_back(partial_);  // a last line without its line end still counts
      partial_.clear();
    }
    return;
  }
  for (ssize_t i = 0; i < got; ++i) {
    if (buffer[i] == '\n') {
      if (!partial_.empty() && partial_.back() == '\r') {
        partial_.pop_back();
      }
      lines_.push_back(partial_);
      partial_.clear();
    } else {
      partial_.push_back(buffer[i]);
    }
  }
}

bool TerminalInput::TakeLine(std::string& line) {
  if (lines_.empty()) {
    return false;
  }
  line = lines_.front();
  lines_.pop_front();
  return true;
}
