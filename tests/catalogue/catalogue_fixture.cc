#include "catalogue_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

void MakeFileOfSize(const std::string& path, int64_t size) {
  std::ofstream(path, std::ios::app).close();
  fs::resize_file(path, static_cast<uintmax_t>(size));
}

void CatalogueTest::SetUp() {
  fs::create_directory(App());
}

std::string CatalogueTest::Write(const std::string& name, const std::string& content) const {
  WriteFileBytes(dir_.File(name), content);
  return dir_.File(name);
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
