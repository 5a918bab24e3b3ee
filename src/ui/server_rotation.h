#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

// The servers an automatic run turns to when one fails it: after the one tried first, the next in
// the list's order, wrapping round to the list's start, each at most once (a URL listed twice
// is one server). Window's thread.
class ServerRotation {
 public:
  // No server stands in for another.
  ServerRotation() = default;
  // urls: the servers' base URLs in the list's order; first: the index of the one tried first.
  ServerRotation(std::vector<std::string> urls, size_t first);

  // The index of the server to try now that the last one tried failed; false once every server
  // has had its turn.
  bool Next(size_t& index);

 private:
  std::vector<std::string> urls_;
  size_t first_ = 0;
  size_t passed_ = 0;  // servers after first_ that have had their turn, or were passed over
  std::unordered_set<std::string> tried_;
};
