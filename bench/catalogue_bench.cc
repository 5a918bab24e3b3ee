// Manifest loading and the comparison at the size of a large installation: 100,000 files in
// 1,000 directories, half of them changed on the server, every file present on disk.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalogue/file_catalogue.h"
#include "catalogue_manifest.h"

namespace {

constexpr int kFiles = 100000;
constexpr int kDirectories = 1000;

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

// The application directory with both manifests beside it, built once per process.
class BenchTree {
 public:
  static BenchTree& Get() {
    static BenchTree tree;
    return tree;
  }

  std::string app;
  std::string serverManifest;
  std::string localManifest;

 private:
  BenchTree() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/lodestar-bench-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    root_ = pattern;
    app = root_ + "/app/";
    ::mkdir(app.c_str(), 0755);
    serverManifest = Write("server.txt", BenchManifestText(kFiles, kDirectories, 0));
    localManifest = Write("local.txt", BenchManifestText(kFiles, kDirectories, 2));

    // Every file at its server length; sparse, so the tree costs inodes, not space.
    FileCatalogue server(app);
    if (!server.Load(serverManifest) || server.Size() != kFiles) {
      std::fprintf(stderr, "bench manifest did not load\n");
      std::abort();
    }
    while (auto entry = server.TakeNext()) {
      int fd = ::open(entry->localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || ::ftruncate(fd, entry->length) != 0) {
        std::perror(entry->localPath.c_str());
        std::abort();
      }
      ::close(fd);
    }
  }

  ~BenchTree() { ::nftw(root_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS); }

  std::string Write(const char* name, const std::string& text) {
    std::string path = root_ + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
      std::perror(path.c_str());
      std::abort();
    }
    std::fclose(file);
    return path;
  }

  std::string root_;
};

void LoadManifest(benchmark::State& state, const std::string& path) {
  BenchTree& tree = BenchTree::Get();
  FileCatalogue catalogue(tree.app);
  for (auto _ : state) {
    state.PauseTiming();
    catalogue.Clear();
    state.ResumeTiming();
    bool loaded = catalogue.Load(path);
    benchmark::DoNotOptimize(loaded);
  }
  state.counters["entries"] = static_cast<double>(catalogue.Size());
}

void BM_LoadServerManifest(benchmark::State& state) {
  LoadManifest(state, BenchTree::Get().serverManifest);
}

void BM_LoadLocalManifest(benchmark::State& state) {
  LoadManifest(state, BenchTree::Get().localManifest);
}

void BM_MarkChanged(benchmark::State& state) {
  BenchTree& tree = BenchTree::Get();
  FileCatalogue server(tree.app);
  FileCatalogue local(tree.app);
  uint32_t planned = 0;
  for (auto _ : state) {
    state.PauseTiming();
    server.Load(tree.serverManifest);
    local.Load(tree.localManifest);
    state.ResumeTiming();
    planned = server.MarkChanged(local);
  }
  state.counters["planned"] = planned;
}

// What the update run pays between the manifest's arrival and the plan.
void BM_LoadBothAndMarkChanged(benchmark::State& state) {
  BenchTree& tree = BenchTree::Get();
  for (auto _ : state) {
    FileCatalogue server(tree.app);
    FileCatalogue local(tree.app);
    server.Load(tree.serverManifest);
    local.Load(tree.localManifest);
    benchmark::DoNotOptimize(server.MarkChanged(local));
    state.PauseTiming();  // the catalogues' destruction is not part of the run's wait
    server.Clear();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_LoadServerManifest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLocalManifest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBothAndMarkChanged)->Unit(benchmark::kMillisecond);

}  // namespace
