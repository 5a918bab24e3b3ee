#include "ui/server_rotation.h"

#include <utility>

ServerRotation::ServerRotation(std::vector<std::string> urls, size_t first)
    : urls_(std::move(urls)), first_(first) {
  if (first_ < urls_.size()) {
    tried_.insert(urls_[first_]);
  } else {
    urls_.clear();  // no server was tried first: none stands in
  }
}

bool ServerRotation::Next(size_t& index) {
  while (passed_ + 1 < urls_.size()) {
    ++passed_;
    const size_t at = (first_ + passed_) % urls_.size();
    if (tried_.insert(urls_[at]).second) {
      index = at;
      return true;
    }
  }
  return false;
}
