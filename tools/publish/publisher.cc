#include "publish/publisher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "catalogue/record_names.h"
#include "publish/file_time.h"
#include "publish/manifest_document.h"
#include "publish/posix_files.h"
#include "publish/previous_release.h"
#include "publish/publish_error.h"
#include "publish/staging_area.h"

namespace {

// The served copy of a file, relative to the output folder.
std::string CopyPath(const std::string& key, const std::string& name) {
  return ReleasePath(key, name) + ".txt";
}

void Log(const PublishOptions& options, const std::string& line) {
  if (options.log)
    options.log(line);
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
  if (error)
    throw PublishError("cannot resolve '" + appDir + "': " + error.message());
  return canonical.string();
}

bool Contains(const std::string& outer, const std::string& inner) {
  return inner == outer ||
         (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
          (outer.back() == '/' || inner[outer.size()] == '/'));
}

// Creates the output folder and locks it against a second publisher for the life of the lock.
UniqueFd LockOutputFolder(const std::string& outDir) {
  MakeDirectories(outDir);
  UniqueFd fd(open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid())
    throw PublishError(SystemErrorText("open the output folder", outDir, errno));
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw PublishError("another publish into '" + outDir + "' is running");
    }
    throw PublishError(SystemErrorText("lock the output folder", outDir, errno));
  }
  return fd;
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
  for (const std::string& folder : folders) {
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

// A manifest path that is safe to delete below the output folder: no empty, "." or ".." part.
bool IsPlainRelativePath(const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..")
      return false;
    if (slash == std::string::npos)
      return true;
    start = slash + 1;
  }
}

// Records the copies of files that left the release for removal after the flip.
void StageLeftovers(const PublishOptions& options, const PreviousRelease& previous,
                    const std::set<std::string>& current, StagingArea& staging,
                    PublishSummary& summary) {
  for (const PublishedFile& file : previous.files()) {
    std::string path = ReleasePath(file.key, file.name);
    if (current.count(path) != 0)
      continue;
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
          ++summary.unchanged;
          continue;
        }
      }
      int highest = std::max(previous.HighestVersion(path), before ? before->version : 0);
      if (highest == INT_MAX)
        throw PublishError("'" + path + "' has run out of version numbers");
      file.version = highest + 1;
      Sha256 copyHash;
      staging.StageFile(copy, source.get(), file.length, &copyHash);
      file.hash = copyHash.HexDigest();
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
  for (const std::string& path : current)
    retired.erase(path);
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

// The signature's timestamp: clients refuse one below the last they accepted, so it never goes
// back behind the release served now, even when this machine's clock does.
int64_t SigningTime(const PublishOptions& options, const std::string& outDir, std::time_t when) {
  std::string previous;
  std::string comment;
  int64_t before = 0;
  if (ReadFileIfPresent(JoinPath(outDir, kSignatureName), previous) &&
      ReadMinisignTrustedComment(previous, comment) && TrustedCommentTimestamp(comment, before) &&
      before > static_cast<int64_t>(when)) {
    Log(options, "warning: the clock is behind the signed release served now; its timestamp " +
                     std::to_string(before) + " is used");
    return before;
  }
  return static_cast<int64_t>(when);
}

// Signs the manifest and stages the signature; throws when the key cannot sign.
int64_t StageSignature(const PublishOptions& options, const std::string& outDir, std::time_t when,
                       const std::string& manifest, StagingArea& staging) {
  int64_t timestamp = SigningTime(options, outDir, when);
  std::string signature = SignWithMinisignKey(
      *options.signingKey, manifest,
      "timestamp:" + std::to_string(timestamp) + "\tfile:" + kManifestName + "\thashed");
  if (signature.empty())
    throw PublishError("the secret key cannot make a valid signature (is it damaged?)");
  staging.StageSignature(signature);
  return timestamp;
}

}  // namespace

PublishSummary Publish(const PublishOptions& options) {
  std::string appDir = CheckedReleaseFolder(options.appDir);
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(options.outDir, error);
  std::string outDir;
  if (!error)
    outDir = std::filesystem::weakly_canonical(absolute, error).string();
  while (outDir.size() > 1 && outDir.back() == '/')
    outDir.pop_back();
  if (error || outDir.empty()) {
    throw PublishError("cannot resolve the output folder '" + options.outDir + "'");
  }
  if (Contains(appDir, outDir) || Contains(outDir, appDir)) {
    throw PublishError("the release folder and the output folder must not lie inside each other");
  }

  ExclusionRules rules;
  for (const std::string& pattern : options.excludes)
    rules.Add(pattern);
  ReleaseTree release = ScanRelease(appDir, rules, options.log);
  CheckLayout(release);

  UniqueFd lock = LockOutputFolder(outDir);
  PublishSummary summary;
  StagingArea staging(outDir);
  summary.recovered = staging.Recover();
  if (summary.recovered)
    Log(options, "rolled back an interrupted publish");
  CheckSigningContinues(options, outDir, staging);
  PreviousRelease previous = PreviousRelease::Read(JoinPath(outDir, kManifestName));

  std::set<std::string> current =
      StageChanges(options, outDir, previous, release, staging, summary);
  std::map<std::string, int> retired = RetiredVersions(previous, current);
  StageLeftovers(options, previous, current, staging, summary);
  std::time_t when = options.publishTime != 0 ? options.publishTime : std::time(nullptr);
  std::string manifest = ManifestText(release, FormatLocalDate(when), retired);
  staging.StageManifest(manifest);
  if (options.signingKey)
    summary.signedAt = StageSignature(options, outDir, when, manifest, staging);
  staging.Commit(options.beforeFlip);
  if (options.afterFlip)
    options.afterFlip();
  for (const std::string& failure : staging.Finish())
    Log(options, "warning: " + failure);

  for (const ReleaseDirectory& directory : release.directories) {
    for (const ReleaseFile& file : directory.files) {
      ++summary.files;
      summary.bytes += file.length;
    }
  }
  return summary;
}
