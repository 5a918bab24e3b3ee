#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/launch.h"

// Records every launch instead of starting anything; fails each with failWith when that is set.
// The thread that plays the window's.
class RecordingLauncher : public Launcher {
 public:
  bool Launch(const std::string& path, const std::string& parameters,
              std::string& failure) override {
    launches.emplace_back(path, parameters);
    failure = failWith;
    return failWith.empty();
  }
  std::vector<std::pair<std::string, std::string>> launches;
  std::string failWith;
};
