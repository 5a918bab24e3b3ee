#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/launch.h"

// Records every launch instead of starting anything. The thread that plays the window's.
class RecordingLauncher : public Launcher {
 public:
  void Launch(const std::string& path, const std::string& parameters) override {
    launches.emplace_back(path, parameters);
  }
  std::vector<std::pair<std::string, std::string>> launches;
};
