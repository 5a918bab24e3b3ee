#include "temp_tree.h"

#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

std::vector<std::string>* listing = nullptr;
size_t listingPrefix = 0;

int ListOne(const char* path, const struct stat* status, int, struct FTW* where) {
  if (where->level > 0) {
    std::string relative(path + listingPrefix);
    listing->push_back(S_ISDIR(status->st_mode) ? relative + "/" : relative);
  }
  return 0;
}

}  // namespace

TempTree::TempTree() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lodestar-catalogue-XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern;
  }
  path_ = pattern;
}

TempTree::~TempTree() {
  ::nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempTree::Write(const std::string& relative, const std::string& content) const {
  std::string full = path_ + "/" + relative;
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << content;
  EXPECT_TRUE(out.good()) << full;
  return full;
}

std::vector<std::string> TempTree::List() const {
  std::vector<std::string> names;
  listing = &names;
  listingPrefix = path_.size() + 1;
  ::nftw(path_.c_str(), ListOne, 16, FTW_PHYS);
  listing = nullptr;
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool Exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

void MakeFileOfSize(const std::string& path, int64_t size) {
  std::ofstream(path, std::ios::binary | std::ios::app).close();
  ASSERT_EQ(::truncate(path.c_str(), size), 0) << path;
}
