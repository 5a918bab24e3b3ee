#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

// A fresh folder for each file test. Test thread.
class FileSystem : public ::testing::Test {
 protected:
  TempDir dir_;
};

// The names in a folder, sorted, in UTF-8.
inline std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::u8path(directory))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
