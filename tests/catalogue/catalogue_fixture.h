#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/file_catalogue.h"
#include "support/manifest_text.h"
#include "support/temp_dir.h"

// Creates or resizes a file to size bytes (sparse, so large sizes cost nothing).
void MakeFileOfSize(const std::string& path, int64_t size);

// A fresh directory tree per test holding the application directory "app/", with manifests
// written beside it; removed with everything in it afterwards. Test thread.
class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The application directory with its trailing separator.
  std::string App() const { return base_ + "/app/"; }
  // Writes content to a file beside the application directory and returns its path.
  std::string Write(const std::string& name, const std::string& content) const;
  // Writes text as a manifest beside the application directory and loads it.
  bool LoadText(FileCatalogue& catalogue, const std::string& text,
                const std::string& name = "manifest.txt") const {
    return catalogue.Load(Write(name, text));
  }
  // Whether the file system finds a name under any case (as on Windows).
  bool DiskIgnoresCase() const;
  // Everything in the tree as sorted relative paths, directories ending in "/".
  std::vector<std::string> List() const;

  TempDir dir_;
  const std::string base_ = dir_.path();
};
