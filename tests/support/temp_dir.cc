#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include "support/test_platform.h"

namespace fs = std::filesystem;

namespace {

// Six letters that differ between calls and between test processes.
std::string UniqueLetters() {
  static std::atomic<unsigned> counter{0};
  std::mt19937 mix(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^
      std::hash<std::thread::id>()(std::this_thread::get_id()) ^ (++counter * 2654435761u)));
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string letters;
  for (int i = 0; i < 6; ++i) {
    letters.push_back(kLetters[mix() % (sizeof kLetters - 1)]);
  }
  return letters;
}

}  // namespace

// The system's folder for temporary files ($TMPDIR, else /tmp; on Windows GetTempPath's), with
// "/" for every separator so that tests may compare paths they join themselves.
TempDir::TempDir() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) {
    throw std::runtime_error("no folder for temporary files");
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("lodestar-test-" + UniqueLetters());
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_u8string();
      return;
    }
  }
  throw std::runtime_error("cannot create a folder in " + base.u8string());
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only files and folders behind; make them writable so removal succeeds.
  const fs::path root = NativePath(path_);
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(NativePath(path), ignored));
}

bool WaitForFile(const std::string& path, std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return FileExists(path);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& data) {
  std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return static_cast<bool>(out);
}

void WriteTestFile(const std::string& path, const std::string& data, mode_t mode) {
  const fs::path file = NativePath(path);
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  ASSERT_TRUE(WriteFileBytes(path, data)) << path;
  // On Windows only the owner's write bit tells: without it the file is read-only.
  fs::permissions(file, static_cast<fs::perms>(mode), error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}
