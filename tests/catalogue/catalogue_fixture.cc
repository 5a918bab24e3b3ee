#include "catalogue_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

void MakeFileOfSize(const std::string& path, int64_t size) {
  std::ofstream(fs::u8path(path), std::ios::app).close();
  fs::resize_file(fs::u8path(path), static_cast<uintmax_t>(size));
}

void CatalogueTest::SetUp() {
  fs::create_directory(App());
}

std::string CatalogueTest::Write(const std::string& name, const std::string& content) const {
  WriteFileBytes(dir_.File(name), content);
  return dir_.File(name);
}

bool CatalogueTest::DiskIgnoresCase() const {
  WriteFileBytes(dir_.File("case-probe"), "");
  const bool ignored = FileExists(dir_.File("CASE-PROBE"));
  fs::remove(fs::u8path(dir_.File("case-probe")));
  return ignored;
}

std::vector<std::string> CatalogueTest::List() const {
  std::vector<std::string> names;
  const fs::path base = fs::u8path(base_);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base)) {
    names.push_back(entry.path().lexically_relative(base).generic_u8string() +
                    (entry.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}
