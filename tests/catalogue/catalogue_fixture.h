#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "catalogue/file_catalogue.h"
#include "temp_tree.h"

// An application directory "app/" in a fresh tree, with manifests written beside it. Test thread.
class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::mkdir(App().c_str(), 0755), 0); }

  // The application directory with its trailing separator.
  std::string App() const { return tree_.path() + "/app/"; }

  // Writes text as a manifest file outside the application directory and loads it.
  bool LoadText(FileCatalogue& catalogue, const std::string& text,
                const std::string& file = "manifest.txt") {
    return catalogue.Load(tree_.Write(file, text));
  }

  TempTree tree_;
};
