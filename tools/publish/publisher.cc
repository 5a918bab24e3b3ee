#include "publish/publisher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "base/install_names.h"
#include "platform/file_system.h"
#include "publish/delta_layout.h"
#include "publish/file_time.h"
#include "publish/manifest_document.h"
#include "publish/output_folder.h"
#include "publish/posix_files.h"
#include "publish/previous_release.h"
#include "publish/publish_error.h"
#include "publish/release_history.h"
#include "publish/release_signature.h"
#include "publish/staging_area.h"

namespace {

// The served copy of a file, relative to the output folder.
std::string CopyPath(const std::string& key, const std::string& name) {
  return ReleasePath(key, name) + ".txt";
}

void Log(const PublishOptions& options, const std::string& line) {
  if (options.log) {
    options.log(line);
  }
}

std::string CheckedReleaseFolder(const std::string& appDir) {
  struct stat status {};
  if (stat(appDir.c_str(), &status) != 0) {
    throw PublishError(SystemErrorText("read the release folder", appDir, errno));
  }
  if (!S_ISDIR(status.st_mode)) {
    throw PublishError("the release folder '" + appDir + "' is not a folder");
  }
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::canonical(appDir, error);
  if (error) {
    throw PublishError("cannot resolve '" + appDir + "': " + error.message());
  }
  return canonical.string();
}

bool Contains(const std::string& outer, const std::string& inner) {
  return inner == outer ||
         (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
          (outer.back() == '/' || inner[outer.size()] == '/'));
}

// Names that would land on the manifest, the staging folder, or each other once ".txt" is
// appended to the files' names.
void CheckLayout(const ReleaseTree& release) {
  std::set<std::string> folders;
  for (const ReleaseDirectory& directory : release.directories) {
    std::string key = directory.key;
    while (!key.empty()) {
      folders.insert(key);
      size_t slash = key.rfind('/');
      key = slash == std::string::npos ? std::string() : key.substr(0, slash);
    }
  }
  auto reserved = [](const std::string& name) {
    if (ClashesWithDeltaFolder(name)) {
      throw PublishError("the release holds '" + name + "' at the top, a name the publisher " +
                         "keeps (in any case) for compressed copies and patches; rename or " +
                         "exclude it");
    }
  };
  for (const ReleaseFile& file : release.directories.front().files) {
    reserved(file.name);
  }
  for (const std::string& folder : folders) {
    if (folder.find('/') == std::string::npos) {
      reserved(folder);
    }
    if (folder == kSignatureName) {
      throw PublishError(
          std::string("the release holds a folder named '") + kSignatureName +
          "' at the top, the name of the manifest's signature; rename or exclude it");
    }
    if (folder == StagingArea::kFolderName ||
        folder.compare(0, std::string(StagingArea::kFolderName).size() + 1,
                       std::string(StagingArea::kFolderName) + "/") == 0) {
      throw PublishError(std::string("the release holds a folder named '") +
                         StagingArea::kFolderName + "', which the publisher needs for itself");
    }
  }
  for (const ReleaseDirectory& directory : release.directories) {
    // Clients refuse names with a backslash (a separator where manifests come from), so such a
    // file would be missing from every installation.
    if (directory.key.find('\\') != std::string::npos) {
      throw PublishError(
          "the folder '" + directory.key +
          "' has a backslash in its name, which clients refuse; rename or exclude it");
    }
    for (const ReleaseFile& file : directory.files) {
      if (file.name.find('\\') != std::string::npos) {
        throw PublishError("the file '" + ReleasePath(directory.key, file.name) +
                           "' has a backslash in its name, which clients refuse; rename or "
                           "exclude it");
      }
      std::string copy = CopyPath(directory.key, file.name);
      if (copy == kManifestName) {
        throw PublishError(
            "the file 'version' at the top of the release would be served as "
            "version.txt, the manifest's own name; rename or exclude it");
      }
      if (folders.count(copy) != 0) {
        throw PublishError("the file '" + ReleasePath(directory.key, file.name) +
                           "' would be served as '" + copy +
                           "', which is also a folder of the release; rename one of them");
      }
    }
  }
}

// Why WindowsCannotHoldName refused a name, for the publisher.
std::string WindowsNameFault(const std::string& name) {
  if (name.find(':') != std::string::npos) {
    return "a ':' there names a hidden data stream";
  }
  if (name.back() == '.' || name.back() == ' ') {
    return "Windows drops a trailing dot or blank";
  }
  return "a reserved device name there, with any extension";
}

// The first folder on the way to key (itself included) that Windows cannot hold, with its name;
// false when there is none.
bool FirstWindowsUnfitFolder(const std::string& key, std::string& folder, std::string& name) {
  for (size_t start = 0; !key.empty() && start <= key.size();) {
    size_t end = std::min(key.find('/', start), key.size());
    name = key.substr(start, end - start);
    if (WindowsCannotHoldName(name)) {
      folder = key.substr(0, end);
      return true;
    }
    start = end + 1;
  }
  return false;
}

// Files and folders that Windows clients cannot install. The release still publishes, since
// clients elsewhere can use it; one warning per path, a folder's covering what lies below it.
void WarnAboutWindowsNames(const PublishOptions& options, const ReleaseTree& release) {
  auto warn = [&options](const std::string& path, const std::string& name) {
    Log(options, "warning: Windows cannot hold the name '" + path + "' (" + WindowsNameFault(name) +
                     "): Windows clients cannot install it");
  };
  std::set<std::string> warnedFolders;
  for (const ReleaseDirectory& directory : release.directories) {
    std::string folder;
    std::string name;
    if (FirstWindowsUnfitFolder(directory.key, folder, name)) {
      if (warnedFolders.insert(folder).second) {
        warn(folder, name);
      }
      continue;
    }
    for (const ReleaseFile& file : directory.files) {
      if (WindowsCannotHoldName(file.name)) {
        warn(ReleasePath(directory.key, file.name), file.name);
      }
    }
  }
}

// A manifest path that is safe to delete below the output folder: no empty, "." or ".." part.
bool IsPlainRelativePath(const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
    start = slash + 1;
  }
}

// Records the copies of files that left the release for removal after the flip.
void StageLeftovers(const PublishOptions& options, const PreviousRelease& previous,
                    const std::set<std::string>& current, StagingArea& staging,
                    PublishSummary& summary) {
  for (const PublishedFile& file : previous.files()) {
    std::string path = ReleasePath(file.key, file.name);
    if (current.count(path) != 0) {
      continue;
    }
    ++summary.removed;
    Log(options, "removed  " + path);
    std::string copy = CopyPath(file.key, file.name);
    // The old manifest may have been written by hand: never reach outside the output folder.
    if (!IsPlainRelativePath(copy) || copy == kManifestName ||
        copy.compare(0, std::strlen(StagingArea::kFolderName), StagingArea::kFolderName) == 0) {
      Log(options, "warning: not removing '" + copy + "': not a plain path below the output");
      continue;
    }
    staging.StageRemoval(copy);
  }
}

// Gives every file of the release its version and stages the copies of those that changed;
// returns the release's paths.
std::set<std::string> StageChanges(const PublishOptions& options, const std::string& outDir,
                                   const PreviousRelease& previous, ReleaseTree& release,
                                   StagingArea& staging, PublishSummary& summary) {
  std::set<std::string> current;
  for (ReleaseDirectory& directory : release.directories) {
    for (ReleaseFile& file : directory.files) {
      std::string path = ReleasePath(directory.key, file.name);
      std::string copy = CopyPath(directory.key, file.name);
      current.insert(path);
      UniqueFd source = OpenForReading(file.sourcePath);
      struct stat status {};
      if (fstat(source.get(), &status) != 0) {
        throw PublishError(SystemErrorText("examine", file.sourcePath, errno));
      }
      file.length = static_cast<uint64_t>(status.st_size);

      const PublishedFile* before = previous.Find(path);
      Sha256 servedHash;
      if (before != nullptr) {
        UniqueFd served(open(JoinPath(outDir, copy).c_str(), O_RDONLY | O_CLOEXEC));
        struct stat servedStatus {};
        // The execute bit travels only with a download, so a changed bit needs a new version.
        if (before->executable == file.executable && before->length == status.st_size &&
            served.valid() && fstat(served.get(), &servedStatus) == 0 &&
            S_ISREG(servedStatus.st_mode) && servedStatus.st_size == status.st_size &&
            SameContent(source.get(), served.get(), file.length, &servedHash)) {
          file.version = before->version;
          file.hash = servedHash.HexDigest();
          file.contentPath = JoinPath(outDir, copy);
          ++summary.unchanged;
          continue;
        }
      }
      int highest = std::max(previous.HighestVersion(path), before ? before->version : 0);
      if (highest == INT_MAX) {
        throw PublishError("'" + path + "' has run out of version numbers");
      }
      file.version = highest + 1;
      Sha256 copyHash;
      staging.StageFile(copy, source.get(), file.length, &copyHash);
      file.hash = copyHash.HexDigest();
      file.contentPath = staging.PathForNew(copy);
      if (before != nullptr) {
        ++summary.changed;
        Log(options, "changed  " + path + " (v" + std::to_string(file.version) + ")");
      } else {
        ++summary.added;
        Log(options, "new      " + path + " (v" + std::to_string(file.version) + ")");
      }
    }
  }

  return current;
}

// The last versions of the paths that have left the release, now or earlier.
std::map<std::string, int> RetiredVersions(const PreviousRelease& previous,
                                           const std::set<std::string>& current) {
  std::map<std::string, int> retired = previous.retired();
  for (const PublishedFile& file : previous.files()) {
    std::string path = ReleasePath(file.key, file.name);
    if (current.count(path) == 0) {
      int& kept = retired[path];
      kept = std::max(kept, file.version);
    }
  }
  for (const std::string& path : current) {
    retired.erase(path);
  }
  return retired;
}

// A release served with a signature goes on without one only when asked: every client that
// checks signatures refuses an unsigned manifest. The old signature then leaves with the flip.
void CheckSigningContinues(const PublishOptions& options, const std::string& outDir,
                           StagingArea& staging) {
  struct stat status {};
  if (options.signingKey || !LinkStatus(JoinPath(outDir, kSignatureName), status)) {
    return;
  }
  if (!options.allowUnsigned) {
    throw PublishError(std::string("the release in '") + outDir + "' is signed (" + kSignatureName +
                       "); sign this one too with --sign KEYFILE, or give --unsigned to publish "
                       "it without a signature (to sign it with minisign afterwards)");
  }
  Log(options,
      "warning: the release is published without a signature; clients that check "
      "signatures refuse it until it is signed");
  staging.StageRemoval(kSignatureName);
}

// The timestamp the new release is signed with; none when it is not signed.
std::optional<int64_t> SigningTimestamp(const PublishOptions& options, const std::string& outDir,
                                        std::time_t when) {
  if (!options.signingKey) {
    return std::nullopt;
  }
  std::string served;
  ReadFileIfPresent(JoinPath(outDir, kManifestName), served);
  return NextSignatureTimestamp(CheckServedSignature(*options.signingKey, outDir, served), when,
                                outDir, options.log);
}

// Refuses a manifest that clients would refuse for its size, before anything flips.
void CheckManifestSize(const std::string& manifest, uint64_t limit) {
  if (manifest.size() > limit) {
    throw PublishError("the manifest would be " + std::to_string(manifest.size()) +
                       " bytes, more than the " + std::to_string(limit) +
                       " that clients accept; leave files out with --exclude or split the "
                       "application into several releases");
  }
}

// The manifest the new release names as the one before it, kept (staged now) for later patches;
// "" when none is kept. A publish that changes nothing takes over the served release's link, so
// that republishing never pushes real releases out of reach.
std::string StageEarlierManifest(const PublishOptions& options, const std::string& outDir,
                                 const PreviousRelease& previous, const PublishSummary& summary,
                                 StagingArea& staging) {
  if (options.deltas.patchReleases == 0 || previous.manifestHash().empty()) {
    return "";
  }
  if (summary.changed + summary.added + summary.removed == 0) {
    return previous.earlier();
  }
  std::string kept = KeptManifestPath(previous.manifestHash());
  struct stat status {};
  if (!LinkStatus(JoinPath(outDir, kept), status)) {
    std::string text;
    ReadFileIfPresent(JoinPath(outDir, kManifestName), text);
    WriteFileDurably(staging.PathForNew(kept), text);
    staging.StageWritten(kept);
  }
  return previous.manifestHash();
}

// Records for removal after the flip everything below _lodestar/ that neither the new release
// nor the releases it keeps within reach name.
size_t StagePrune(const PublishOptions& options, const std::string& outDir,
                  const ReleaseHistory& history, const std::string& earlier,
                  const std::string& manifest, StagingArea& staging) {
  std::set<std::string> keep = history.KeptBy(earlier, options.deltas.patchReleases);
  std::set<std::string> named = NamedObjects(PreviousRelease::Parse(manifest, kManifestName));
  keep.insert(named.begin(), named.end());
  size_t pruned = 0;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(JoinPath(outDir, kDeltaFolder), error)) {
    std::string relative = std::string(kDeltaFolder) + "/" + entry.path().filename().string();
    if (entry.is_regular_file(error) && keep.count(relative) == 0) {
      staging.StageRemoval(relative);
      ++pruned;
    }
  }
  return pruned;
}

}  // namespace

PublishSummary Publish(const PublishOptions& options) {
  std::string appDir = CheckedReleaseFolder(options.appDir);
  std::string outDir = ResolvedOutputFolder(options.outDir);
  if (Contains(appDir, outDir) || Contains(outDir, appDir)) {
    throw PublishError("the release folder and the output folder must not lie inside each other");
  }

  ExclusionRules rules;
  for (const std::string& pattern : options.excludes) {
    rules.Add(pattern);
  }
  ReleaseTree release = ScanRelease(appDir, rules, options.log);
  CheckLayout(release);
  WarnAboutWindowsNames(options, release);

  MakeDirectories(outDir);
  UniqueFd lock = LockOutputFolder(outDir);
  PublishSummary summary;
  StagingArea staging(outDir);
  summary.recovered = staging.Recover();
  if (summary.recovered) {
    Log(options, "rolled back an interrupted publish");
  }
  CheckSigningContinues(options, outDir, staging);
  PreviousRelease previous = PreviousRelease::Read(JoinPath(outDir, kManifestName));

  std::set<std::string> current =
      StageChanges(options, outDir, previous, release, staging, summary);
  std::map<std::string, int> retired = RetiredVersions(previous, current);
  StageLeftovers(options, previous, current, staging, summary);
  ReleaseHistory history =
      ReleaseHistory::Read(outDir, previous, options.deltas.patchReleases + 1, options.log);
  std::string earlier = StageEarlierManifest(options, outDir, previous, summary, staging);
  summary.deltas =
      BuildDeltas(outDir, history, earlier, options.deltas, release, staging, options.log);
  std::time_t when = options.publishTime != 0 ? options.publishTime : std::time(nullptr);
  std::optional<int64_t> signedAt = SigningTimestamp(options, outDir, when);
  std::string manifest = ManifestText(release, FormatLocalDate(when), retired, signedAt, earlier);
  CheckManifestSize(manifest, options.manifestMaxBytes);
  summary.pruned = StagePrune(options, outDir, history, earlier, manifest, staging);
  staging.StageManifest(manifest);
  if (signedAt) {
    staging.StageSignature(SignManifest(*options.signingKey, manifest, *signedAt));
    summary.signedAt = *signedAt;
  }
  staging.Commit(options.beforeFlip);
  if (options.afterFlip) {
    options.afterFlip();
  }
  for (const std::string& failure : staging.Finish()) {
    Log(options, "warning: " + failure);
  }

  for (const ReleaseDirectory& directory : release.directories) {
    for (const ReleaseFile& file : directory.files) {
      ++summary.files;
      summary.bytes += file.length;
    }
  }
  return summary;
}

ResignSummary Resign(const std::string& outDirGiven, const MinisignSecretKey& key, std::time_t now,
                     const PublishLog& log) {
  std::string outDir = ResolvedOutputFolder(outDirGiven);
  UniqueFd lock = LockOutputFolder(outDir);
  ResignSummary summary;
  StagingArea staging(outDir);
  summary.recovered = staging.Recover();
  if (summary.recovered && log) {
    log("rolled back an interrupted publish");
  }
  summary.manifest = JoinPath(outDir, kManifestName);
  std::string manifest;
  if (!ReadFileIfPresent(summary.manifest, manifest)) {
    throw PublishError("there is no manifest '" + summary.manifest + "' to sign again");
  }
  ServedSignature served = CheckServedSignature(key, outDir, manifest);
  if (!served.Authentic()) {
    throw PublishError("the signature of '" + summary.manifest +
                       "' does not verify with this key (" + served.Fault() +
                       "), so it is not signed again: that would vouch for a manifest this key "
                       "did not sign; publish the release with --sign instead");
  }
  summary.previous = served.timestamp;
  summary.signedAt =
      NextSignatureTimestamp(served, now != 0 ? now : std::time(nullptr), outDir, log);
  staging.StageSignature(SignManifest(key, manifest, summary.signedAt));
  staging.CommitSignature();
  return summary;
}
