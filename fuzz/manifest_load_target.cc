#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <unordered_set>

#include "catalogue/file_catalogue.h"
#include "catalogue/manifest_paths.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"

namespace {

// A scratch application folder "app/root/" for this process under $TMPDIR (else /tmp). The
// directories of a key are the same every time the key comes, so each key is created on disk
// once (and the folder then checked). The root is emptied once the keys created since it was last
// emptied could have made many directories (one per piece: a key may nest thousands), so that no
// single input pays for removing a large tree; the whole folder goes at exit.
class Scratch {
 public:
  static constexpr size_t kPiecesKept = 10000;

  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/lodestar-fuzz-manifest-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    base_ = pattern;
    app_ = base_ + "/app";
    root_ = app_ + "/root";
    FUZZ_CHECK(::mkdir(app_.c_str(), 0700) == 0);
    FUZZ_CHECK(::mkdir(root_.c_str(), 0700) == 0);
  }
  ~Scratch() { RemoveTree(base_); }

  // The application's directory as the executable's directory comes: with its separator.
  std::string moduleDirectory() const { return root_ + "/"; }

  // True the first time since the root was last emptied that this key is asked for.
  bool FirstTime(const std::string& key) {
    if (keys_.count(key) != 0) {
      return false;
    }
    const size_t pieces = 1 + std::count(key.begin(), key.end(), '/');
    if (pieces_ + pieces > kPiecesKept) {
      RemoveTree(root_);
      FUZZ_CHECK(::mkdir(root_.c_str(), 0700) == 0);
      keys_.clear();
      pieces_ = 0;
    }
    keys_.insert(key);
    pieces_ += pieces;
    return true;
  }

  // Nothing may appear beside the root or beside the application folder: a path that climbed
  // out of the root would land there first.
  void CheckNothingOutsideRoot() const {
    FUZZ_CHECK(Names(base_) == (std::set<std::string>{"app"}));
    FUZZ_CHECK(Names(app_) == (std::set<std::string>{"root"}));
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
  std::string app_;
  std::string root_;
  std::unordered_set<std::string> keys_;
  size_t pieces_ = 0;  // directories the keys in keys_ can have made
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

// A catalogue whose directories go to disk only for a key the scratch folder has not seen, each
// such key then checked to stay below the root, on the path and on disk.
class WatchedCatalogue : public FileCatalogue {
 public:
  explicit WatchedCatalogue(Scratch& scratch)
      : FileCatalogue(scratch.moduleDirectory()), scratch_(scratch) {}

 protected:
  void CreateDirectories(const std::string& key) override {
    if (scratch_.FirstTime(key)) {
      FUZZ_CHECK(StaysBelow(key));
      FileCatalogue::CreateDirectories(key);
      scratch_.CheckNothingOutsideRoot();
    }
  }

 private:
  Scratch& scratch_;
};

}  // namespace

int FuzzManifestLoad(const uint8_t* data, size_t size) {
  static Scratch scratch;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string root = scratch.moduleDirectory();

  WatchedCatalogue server(scratch);
  const bool loaded = server.LoadText(text);
  if (!loaded) {
    FUZZ_CHECK(server.Size() == 0);
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
  WatchedCatalogue local(scratch);
  FUZZ_CHECK(local.LoadText(text));
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
  return 0;
}
