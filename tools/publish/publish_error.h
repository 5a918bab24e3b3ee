#pragma once

#include <stdexcept>
#include <string>

// A publish that cannot go on; what() is the message for the publisher. Publishing thread.
class PublishError : public std::runtime_error {
 public:
  explicit PublishError(const std::string& message) : std::runtime_error(message) {}
};

// "cannot <action> '<path>': <strerror(err)>"
std::string SystemErrorText(const std::string& action, const std::string& path, int err);
