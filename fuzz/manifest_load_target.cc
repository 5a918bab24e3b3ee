#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

#include "catalogue/file_catalogue.h"
#include "catalogue/manifest_paths.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"

namespace {

// A fresh scratch folder for this process under $TMPDIR (else /tmp): the manifest file beside an
// application folder "app/root/". Load creates directories below the root, so the application
// folder is emptied after every input that created any, and the whole folder goes at exit.
class Scratch {
 public:
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/lodestar-fuzz-manifest-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    base_ = pattern;
    manifest_ = base_ + "/manifest.txt";
    app_ = base_ + "/app";
    root_ = app_ + "/root";
    FUZZ_CHECK(::mkdir(app_.c_str(), 0700) == 0);
    FUZZ_CHECK(::mkdir(root_.c_str(), 0700) == 0);
  }
  ~Scratch() { RemoveTree(base_); }

  const std::string& manifest() const { return manifest_; }
  // The application's directory as the executable's directory comes: with its separator.
  std::string moduleDirectory() const { return root_ + "/"; }

  void WriteManifest(const uint8_t* data, size_t size) const {
    int fd = ::open(manifest_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    size_t done = 0;
    while (done < size) {
      ssize_t written = ::write(fd, data + done, size - done);
      FUZZ_CHECK(written > 0);
      done += static_cast<size_t>(written);
    }
    ::close(fd);
  }

  // Nothing may appear beside the root or beside the application folder: a path that climbed
  // out of the root would land there first.
  void CheckNothingOutsideRoot() const {
    FUZZ_CHECK(Names(base_) == (std::set<std::string>{"app", "manifest.txt"}));
    FUZZ_CHECK(Names(app_) == (std::set<std::string>{"root"}));
  }

  void EmptyRoot() const {
    if (!Names(root_).empty()) {
      RemoveTree(root_);
      FUZZ_CHECK(::mkdir(root_.c_str(), 0700) == 0);
    }
  }

 private:
  static std::set<std::string> Names(const std::string& directory) {
    std::set<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    FUZZ_CHECK(dir != nullptr);
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.insert(name);
      }
    }
    ::closedir(dir);
    return names;
  }

  static void RemoveTree(const std::string& path) {
    ::nftw(
        path.c_str(),
        [](const char* name, const struct stat*, int, struct FTW*) { return ::remove(name); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }

  std::string base_;
  std::string manifest_;
  std::string app_;
  std::string root_;
};

// True when no component of the path below the root is "..".
bool StaysBelow(const std::string& relative) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) {
      end = relative.size();
    }
    if (relative.compare(start, end - start, "..") == 0) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

int FuzzManifestLoad(const uint8_t* data, size_t size) {
  static Scratch scratch;
  scratch.WriteManifest(data, size);
  const std::string root = scratch.moduleDirectory();

  FileCatalogue server(root);
  const bool loaded = server.Load(scratch.manifest());
  scratch.CheckNothingOutsideRoot();
  if (!loaded) {
    FUZZ_CHECK(server.Size() == 0);
    scratch.EmptyRoot();
    return 0;
  }

  // Wide enough that no number of lengths near the largest 64-bit value can wrap.
  unsigned __int128 total = 0;
  for (const CatalogueEntry& entry : server.Entries()) {
    FUZZ_CHECK(entry.length >= 0);
    FUZZ_CHECK(entry.version >= 0);
    FUZZ_CHECK(IsSafeFileName(entry.name));
    FUZZ_CHECK(entry.localPath.compare(0, root.size() + 1, root + "/") == 0);
    FUZZ_CHECK(StaysBelow(entry.localPath.substr(root.size())));
    const std::string tail = "/" + entry.name;
    FUZZ_CHECK(entry.localPath.size() > tail.size() &&
               entry.localPath.compare(entry.localPath.size() - tail.size(), tail.size(), tail) ==
                   0);
    FUZZ_CHECK(entry.remotePath.size() >= 4 &&
               entry.remotePath.compare(entry.remotePath.size() - 4, 4, ".txt") == 0);
    total += static_cast<uint64_t>(entry.length);
  }

  // Compared with itself as the local manifest: no file exists on disk (Load makes directories
  // only), so every entry stays except a self-update file, which the disk is never asked about.
  FileCatalogue local(root);
  FUZZ_CHECK(local.Load(scratch.manifest()));
  FUZZ_CHECK(local.Size() == server.Size());
  const size_t before = server.Size();
  const uint32_t count = server.MarkChanged(local);
  FUZZ_CHECK(count == server.Size());
  FUZZ_CHECK(count <= before);
  unsigned __int128 remaining = 0;
  for (const CatalogueEntry& entry : server.Entries()) {
    FUZZ_CHECK(entry.needsDownload);
    remaining += static_cast<uint64_t>(entry.length);
  }
  FUZZ_CHECK(server.TotalLength() == static_cast<uint64_t>(remaining));
  FUZZ_CHECK(remaining <= total);
  while (server.TakeNext()) {
  }
  FUZZ_CHECK(server.Size() == 0);

  scratch.CheckNothingOutsideRoot();
  scratch.EmptyRoot();
  return 0;
}
