#include "catalogue_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

std::string ManifestText(const std::vector<ManifestFile>& files) {
  std::string text = "\"paths\":[";
  for (size_t i = 0; i < files.size(); ++i) {
    const ManifestFile& file = files[i];
    size_t slash = file.path.rfind('/');
    text += (i == 0 ? "\"" : ",\"") + file.path.substr(0, slash) + "\":[\"" +
            file.path.substr(slash + 1) + "\":{\"l\":\"" + std::to_string(file.length) +
            "\",\"v\":\"" + std::to_string(file.version) + "\"}]";
  }
  return text + "]";
}

void MakeFileOfSize(const std::string& path, int64_t size) {
  std::ofstream(path, std::ios::app).close();
  fs::resize_file(path, static_cast<uintmax_t>(size));
}

void CatalogueTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "lodestar-catalogue-XXXXXX").string();
  ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
  base_ = pattern;
  fs::create_directory(App());
}

void CatalogueTest::TearDown() {
  fs::remove_all(base_);
}

std::string CatalogueTest::Write(const std::string& name, const std::string& content) const {
  std::string path = base_ + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  return path;
}

std::vector<std::string> CatalogueTest::List() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base_)) {
    names.push_back(entry.path().lexically_relative(base_).string() +
                    (entry.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}
