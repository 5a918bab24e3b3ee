#include "publish/delta_builder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/crypto.h"
#include "platform/mapped_file.h"
#include "publish/delta_layout.h"
#include "publish/parallel_jobs.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"
#include "publish/zstd_frames.h"

namespace {

// The content at path mapped for reading, exactly length bytes long (null for none); throws when
// it changed since it was scanned or cannot be mapped.
std::unique_ptr<MappedFile> MapContent(const std::string& path, uint64_t length) {
  if (length == 0) {
    return nullptr;  // nothing to map
  }
  std::unique_ptr<MappedFile> mapped = MappedFile::ForReading(path);
  if (!mapped) {
    throw PublishError("cannot map '" + path + "'");
  }
  if (mapped->bytes().size() != length) {
    throw PublishError("'" + path + "' changed while it was being published");
  }
  return mapped;
}

// A compressed copy's window: clients decode one with at most 128 MiB of window.
constexpr int kCopyWindowLog = 27;
// From this size on a single compression also uses libzstd's own threads, so that a lone large
// file keeps both cores busy.
constexpr uint64_t kSplitBytes = uint64_t{64} << 20;

// Level 19 where it costs seconds to a few minutes; lower for large contents, whose level-19 time
// would grow past many minutes (measured figures in README.md).
int LevelFor(uint64_t bytes) {
  if (bytes <= (uint64_t{128} << 20)) {
    return 19;
  }
  if (bytes <= (uint64_t{384} << 20)) {
    return 15;
  }
  return 9;
}

// One object to make, or to check where the output folder holds it already.
struct DeltaObject {
  std::string relative;  // below the output folder
  std::string toHash;    // the content it yields
  uint64_t toLength = 0;
  std::string contentPath;  // where that content lies
  std::string fromHash;     // a patch's source content; "" for a compressed copy
  uint64_t fromLength = 0;
  bool present = false;  // the output folder holds it
  // Filled by its job:
  bool usable = false;  // made or checked
  bool made = false;
  uint64_t length = 0;
  std::string warning;
};

bool Exists(const std::string& path) {
  struct stat status {};
  return LinkStatus(path, status);
}

// Decompresses the frame at path (a patch with reference), returning its length; sink, when
// given, receives the bytes. Fails unless it yields length bytes with SHA-256 hash.
void CheckFrame(const std::string& path, std::string_view reference, uint64_t length,
                const std::string& hash, const FrameSink& sink = nullptr) {
  Sha256 digest;
  uint64_t produced = 0;
  DecompressFile(path, reference, length, [&](const char* data, size_t size) {
    digest.Update(data, size);
    produced += size;
    if (sink) {
      sink(data, size);
    }
  });
  if (produced != length || digest.HexDigest() != hash) {
    throw PublishError("'" + path + "' does not yield the content it is named after");
  }
}

// The earlier content a patch starts from, out of its kept compressed copy.
std::string KeptContent(const std::string& outDir, const std::string& hash, uint64_t length) {
  std::string content;
  content.reserve(length);
  CheckFrame(JoinPath(outDir, CompressedCopyPath(hash)), {}, length, hash,
             [&content](const char* data, size_t size) { content.append(data, size); });
  return content;
}

// The objects of one publish, each planned once however many files name it, and the jobs that
// make or check them. Planned and read on the publishing thread; each job runs on one pool thread.
class DeltaJobs {
 public:
  DeltaJobs(const std::string& outDir, StagingArea& staging) : outDir_(outDir), staging_(staging) {}

  // The object for relative, planned once however many files name it.
  DeltaObject& Plan(const std::string& relative) {
    auto [it, added] = objects_.try_emplace(relative);
    if (added) {
      it->second.relative = relative;
      it->second.present = Exists(JoinPath(outDir_, relative));
      order_.push_back(&it->second);
    }
    return it->second;
  }

  void Run(unsigned threads) {
    // Largest first, so that a long job does not start last.
    std::stable_sort(order_.begin(), order_.end(), [](const DeltaObject* a, const DeltaObject* b) {
      return a->toLength + a->fromLength > b->toLength + b->fromLength;
    });
    std::vector<std::function<void()>> jobs;
    for (DeltaObject* object : order_) {
      std::string target = object->present ? "" : staging_.PathForNew(object->relative);
      jobs.push_back([this, object, target] { Do(*object, target); });
    }
    RunInParallel(jobs, threads);
  }

  const std::map<std::string, DeltaObject>& objects() const { return objects_; }

 private:
  void Do(DeltaObject& object, const std::string& target) {
    std::string reference;
    try {
      if (!object.fromHash.empty()) {
        reference = KeptContent(outDir_, object.fromHash, object.fromLength);
      }
    } catch (const PublishError& error) {
      object.warning = std::string(error.what()) + ": no patch from it";
      return;
    }
    std::string existing = JoinPath(outDir_, object.relative);
    if (object.present) {
      try {
        CheckFrame(existing, reference, object.toLength, object.toHash);
        struct stat status {};
        LinkStatus(existing, status);
        object.length = static_cast<uint64_t>(status.st_size);
        object.usable = true;
        return;
      } catch (const PublishError& error) {
        object.warning = std::string(error.what()) + "; made again";
      }
    }
    std::string path = target.empty() ? PathFor(object) : target;
    const std::unique_ptr<MappedFile> content = MapContent(object.contentPath, object.toLength);
    FrameSettings settings;
    uint64_t span = object.toLength + reference.size();
    settings.level = LevelFor(std::max<uint64_t>(object.toLength, reference.size()));
    settings.windowLog = reference.empty() ? WindowLogFor(span, kCopyWindowLog)
                                           : WindowLogFor(span, kMaxFrameWindowLog);
    settings.workers = reference.empty() && object.toLength >= kSplitBytes ? 2 : 0;
    object.length =
        CompressToFile(content ? content->bytes() : std::string_view(), reference, settings, path);
    object.made = true;
    object.usable = true;
  }

  // A damaged object found in a job is made again in place of the staged path planned.
  std::string PathFor(const DeltaObject& object) {
    std::lock_guard<std::mutex> hold(stagingLock_);
    return staging_.PathForNew(object.relative);
  }

  const std::string& outDir_;
  StagingArea& staging_;
  std::mutex stagingLock_;
  std::map<std::string, DeltaObject> objects_;
  std::vector<DeltaObject*> order_;
};

}  // namespace

DeltaSummary BuildDeltas(const std::string& outDir, const ReleaseHistory& history,
                         const std::string& earlier, const DeltaOptions& options,
                         ReleaseTree& release, StagingArea& staging, const PublishLog& log) {
  DeltaJobs jobs(outDir, staging);
  for (ReleaseDirectory& directory : release.directories) {
    for (ReleaseFile& file : directory.files) {
      DeltaObject& copy = jobs.Plan(CompressedCopyPath(file.hash));
      copy.toHash = file.hash;
      copy.toLength = file.length;
      copy.contentPath = file.contentPath;
      if (file.length > options.patchMaxBytes) {
        continue;
      }
      std::string path = ReleasePath(directory.key, file.name);
      for (const PatchSource& source :
           history.SourcesFor(path, file.hash, earlier, options.patchReleases)) {
        // Releases published before patches were made keep no earlier contents.
        if (static_cast<uint64_t>(source.length) > options.patchMaxBytes ||
            !Exists(JoinPath(outDir, CompressedCopyPath(source.hash)))) {
          continue;
        }
        DeltaObject& patch = jobs.Plan(PatchPath(source.hash, file.hash));
        patch.toHash = file.hash;
        patch.toLength = file.length;
        patch.contentPath = file.contentPath;
        patch.fromHash = source.hash;
        patch.fromLength = static_cast<uint64_t>(source.length);
      }
    }
  }
  jobs.Run(options.threads);

  DeltaSummary summary;
  std::map<std::string, bool> keep;  // relative -> staged (or present) and needed
  for (ReleaseDirectory& directory : release.directories) {
    for (ReleaseFile& file : directory.files) {
      const DeltaObject& copy = jobs.objects().at(CompressedCopyPath(file.hash));
      // Listed where it saves at least 5%.
      if (copy.usable && copy.length * 20 <= file.length * 19) {
        file.compressedLength = static_cast<int64_t>(copy.length);
      }
      keep[copy.relative] = keep[copy.relative] || copy.usable;
      uint64_t otherwise = copy.usable ? std::min(copy.length, file.length) : file.length;
      for (const PatchSource& source : history.SourcesFor(
               ReleasePath(directory.key, file.name), file.hash, earlier, options.patchReleases)) {
        auto found = jobs.objects().find(PatchPath(source.hash, file.hash));
        if (found == jobs.objects().end() || !found->second.usable) {
          continue;
        }
        const DeltaObject& patch = found->second;
        bool worth = patch.length < otherwise;
        if (worth) {
          file.patches.emplace_back(source.hash, patch.length);
        }
        keep[patch.relative] = keep[patch.relative] || worth;
      }
    }
  }
  for (const auto& [relative, object] : jobs.objects()) {
    if (!object.warning.empty() && log) {
      log("warning: " + object.warning);
    }
    if (object.present && !object.made) {
      summary.reused += object.usable ? 1 : 0;
      continue;
    }
    if (!object.made) {
      continue;
    }
    if (keep[relative]) {
      staging.StageWritten(relative);
      ++summary.made;
      summary.bytesMade += object.length;
    } else {
      unlink(staging.PathForNew(relative).c_str());
    }
  }
  return summary;
}
