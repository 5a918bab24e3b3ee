#include "publish/bucket_upload.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "base/install_names.h"
#include "catalogue/fetch_limits.h"
#include "catalogue/file_catalogue.h"
#include "publish/output_folder.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"
#include "publish/s3_client.h"
#include "publish/staging_area.h"

namespace {

// The manifest the store served before this upload's, once this upload's is in place.
constexpr char kPreviousManifestName[] = "version.txt.previous";
constexpr uint64_t kMaxParts = 10000;

// A manifest's files as clients read them, without creating anything on disk. Publishing thread.
class ListedRelease : public FileCatalogue {
 public:
  ListedRelease() : FileCatalogue("/") {}

 protected:
  void CreateDirectories(const std::string&) override {}
};

// The release in the output folder.
struct LocalRelease {
  std::string manifest;
  std::optional<std::string> signature;
  std::vector<CatalogueEntry> entries;
  int64_t timestamp = -1;  // the signed head's; -1 when unsigned
};

// What the store holds under the prefix when the upload begins.
struct StoreState {
  std::optional<std::string> manifest;
  std::optional<std::string> signature;
  std::optional<std::string> previous;      // read only when the manifest is this upload's already
  std::map<std::string, uint64_t> objects;  // key, size
};

void Log(const UploadOptions& options, const std::string& line) {
  if (options.log) {
    options.log(line);
  }
}

// "lib/x.bin" for the copy "lib/x.bin.txt", "a.txt" for "/a.txt.txt".
std::string DisplayPath(const std::string& remotePath) {
  std::string path = remotePath.substr(0, remotePath.size() - 4);
  return path.compare(0, 1, "/") == 0 ? path.substr(1) : path;
}

[[noreturn]] void ChangedSincePublishing(const std::string& path, const std::string& what) {
  throw PublishError("the copy '" + path + "' " + what +
                     ": the output folder was changed after publishing; publish the release "
                     "again before uploading it");
}

LocalRelease ReadLocalRelease(const std::string& outDir) {
  LocalRelease local;
  const std::string manifestPath = JoinPath(outDir, kManifestName);
  if (!ReadFileIfPresent(manifestPath, local.manifest)) {
    throw PublishError("there is no manifest '" + manifestPath +
                       "' to upload: publish a release into '" + outDir + "' first");
  }
  std::string signature;
  if (ReadFileIfPresent(JoinPath(outDir, kSignatureName), signature)) {
    local.signature = signature;
  }
  ListedRelease release;
  if (!release.LoadText(local.manifest)) {
    throw PublishError("'" + manifestPath + "' is not a manifest");
  }
  local.entries = release.Entries();
  local.timestamp = release.HeadTimestamp();
  for (const CatalogueEntry& entry : local.entries) {
    if (entry.hash.empty()) {
      throw PublishError("'" + manifestPath + "' lists '" + DisplayPath(entry.remotePath) +
                         "' without its hash; publish the release again");
    }
  }
  return local;
}

StoreState ReadStoreState(S3Client& store, const LocalRelease& local) {
  const S3Location& at = store.location();
  StoreState state;
  state.manifest = store.Get(at.Key(kManifestName), kManifestMaxBytes);
  state.signature = store.Get(at.Key(kSignatureName), kSignatureMaxBytes);
  if (state.manifest && *state.manifest == local.manifest) {
    state.previous = store.Get(at.Key(kPreviousManifestName), kManifestMaxBytes);
  }
  for (const StoredObject& object : store.List(at.prefix.empty() ? "" : at.prefix + "/")) {
    state.objects[object.key] = object.size;
  }
  ListedRelease served;
  if (state.manifest && !served.LoadText(*state.manifest)) {
    // Someone else's data may lie there: removing what no release names would destroy it.
    throw PublishError("'" + at.Address() + "/" + kManifestName +
                       "' is no manifest; is the prefix right?");
  }
  // Signed clients take no release signed before the one they hold.
  if (state.manifest && local.timestamp >= 0 && served.HeadTimestamp() > local.timestamp) {
    throw PublishError(at.Address() + " serves a release signed later (timestamp " +
                       std::to_string(served.HeadTimestamp()) + ") than this one (" +
                       std::to_string(local.timestamp) +
                       "), which clients would refuse as a rollback; publish a new release "
                       "with --sign instead");
  }
  return state;
}

// Stores body as key, marked with its hash and not to be cached without asking the store, then
// checks what the store holds.
void PutChecked(S3Client& store, const std::string& key, const RequestBody& body) {
  const S3Client::Headers headers = {{"x-amz-meta-sha256", body.sha256},
                                     {"Cache-Control", "no-cache"}};
  store.Put(key, body, headers);
  const uint64_t length = body.fd >= 0 ? body.length : body.text.size();
  std::optional<ObjectFacts> facts = store.Head(key);
  if (!facts || facts->length != length || facts->sha256 != body.sha256) {
    throw PublishError("'" + store.location().bucket + "/" + key +
                       "' does not hold what was sent (" + std::to_string(length) +
                       " bytes with SHA-256 " + body.sha256 + ")");
  }
}

// Sends a large copy in parts; a failure aborts the multipart upload, so that no part stays
// stored (and billed) without an object.
void PutInParts(const UploadOptions& options, S3Client& store, const std::string& key,
                const RequestBody& whole, const std::string& path) {
  const uint64_t partSize = std::max(options.partSize, (whole.length + kMaxParts - 1) / kMaxParts);
  const uint64_t parts = (whole.length + partSize - 1) / partSize;
  const std::string id = store.StartMultipart(
      key, {{"x-amz-meta-sha256", whole.sha256}, {"Cache-Control", "no-cache"}});
  try {
    std::vector<std::string> etags;
    for (uint64_t part = 0; part < parts; ++part) {
      RequestBody body;
      body.fd = whole.fd;
      body.offset = part * partSize;
      body.length = std::min(partSize, whole.length - body.offset);
      body.sha256 = HashFileRange(whole.fd, body.offset, body.length, path);
      etags.push_back(store.PutPart(key, id, static_cast<int>(part + 1), body));
      Log(options, "  part " + std::to_string(part + 1) + "/" + std::to_string(parts));
    }
    store.CompleteMultipart(key, id, etags);
  } catch (const PublishError&) {
    try {
      store.AbortMultipart(key, id);
    } catch (const PublishError&) {
      // The next upload aborts what is left of it.
    }
    throw;
  }
  std::optional<ObjectFacts> facts = store.Head(key);
  if (!facts || facts->length != whole.length || facts->sha256 != whole.sha256) {
    throw PublishError("'" + store.location().bucket + "/" + key +
                       "' does not hold what was sent in parts");
  }
}

// Sends one copy unless the store holds it already; refuses a copy that the manifest does not
// describe, before any of it goes.
void UploadCopy(const UploadOptions& options, const std::string& outDir, const StoreState& state,
                const CatalogueEntry& entry, S3Client& store, UploadSummary& summary) {
  const std::string key = store.location().Key(entry.remotePath);
  const std::string path = JoinPath(outDir, entry.remotePath);
  UniqueFd fd = OpenForReading(path);
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) {
    throw PublishError(SystemErrorText("examine", path, errno));
  }
  const uint64_t length = static_cast<uint64_t>(entry.length);
  if (static_cast<uint64_t>(status.st_size) != length) {
    ChangedSincePublishing(path, "is " + std::to_string(status.st_size) +
                                     " bytes long, the manifest says " + std::to_string(length));
  }
  auto listed = state.objects.find(key);
  if (listed != state.objects.end() && listed->second == length) {
    std::optional<ObjectFacts> facts = store.Head(key);
    if (facts && facts->length == length && facts->sha256 == entry.hash) {
      ++summary.present;
      return;
    }
  }
  RequestBody body;
  body.fd = fd.get();
  body.length = length;
  body.sha256 = HashFileRange(fd.get(), 0, length, path);
  if (body.sha256 != entry.hash) {
    ChangedSincePublishing(path, "does not have the content the manifest lists");
  }
  if (length >= options.multipartThreshold && length > 0) {
    Log(options, "sending  " + DisplayPath(entry.remotePath) + " (" + std::to_string(length) +
                     " bytes, in parts)");
    PutInParts(options, store, key, body, path);
  } else {
    PutChecked(store, key, body);
  }
  ++summary.sent;
  summary.sentBytes += length;
  Log(options,
      "sent     " + DisplayPath(entry.remotePath) + " (" + std::to_string(length) + " bytes)");
}

// Puts the manifest in place, keeping the one it replaces, then its signature (or removes a
// signature that no longer belongs to it).
void PlaceManifest(const UploadOptions& options, S3Client& store, const LocalRelease& local,
                   const StoreState& state, UploadSummary& summary) {
  const S3Location& at = store.location();
  if (!state.manifest || *state.manifest != local.manifest) {
    if (state.manifest) {
      PutChecked(store, at.Key(kPreviousManifestName), RequestBody::Text(*state.manifest));
    }
    PutChecked(store, at.Key(kManifestName), RequestBody::Text(local.manifest));
    summary.manifestSent = true;
    Log(options, std::string("sent     ") + kManifestName);
  }
  if (local.signature) {
    if (!state.signature || *state.signature != *local.signature) {
      PutChecked(store, at.Key(kSignatureName), RequestBody::Text(*local.signature));
      summary.signatureSent = true;
      Log(options, std::string("sent     ") + kSignatureName);
    }
  } else if (state.signature) {
    store.Delete(at.Key(kSignatureName));
    Log(options, std::string("warning: removed the signature served before: this release is "
                             "unsigned, and clients that check signatures refuse it"));
  }
}

// Removes the objects under the prefix that neither release names. Failures only warn: the
// release is in place, and the next upload removes what is left.
void RemoveUnused(const UploadOptions& options, S3Client& store, const LocalRelease& local,
                  const StoreState& state, UploadSummary& summary) {
  const S3Location& at = store.location();
  std::set<std::string> keep = {at.Key(kManifestName), at.Key(kSignatureName),
                                at.Key(kPreviousManifestName)};
  for (const CatalogueEntry& entry : local.entries) {
    keep.insert(at.Key(entry.remotePath));
  }
  const std::optional<std::string>& before =
      state.manifest && *state.manifest == local.manifest ? state.previous : state.manifest;
  ListedRelease previous;
  if (before && previous.LoadText(*before)) {
    for (const CatalogueEntry& entry : previous.Entries()) {
      keep.insert(at.Key(entry.remotePath));
    }
  }
  std::vector<std::string> unused;
  for (const auto& [key, size] : state.objects) {
    if (keep.count(key) == 0) {
      unused.push_back(key);
    }
  }
  if (!state.manifest) {
    if (!unused.empty()) {
      Log(options, "warning: " + std::to_string(unused.size()) + " objects under " + at.Address() +
                       " belong to no release; nothing is removed where no release was served");
    }
    return;
  }
  const size_t shown = at.prefix.empty() ? 0 : at.prefix.size() + 1;
  for (const std::string& key : unused) {
    try {
      store.Delete(key);
      ++summary.removed;
      Log(options, "removed  " + key.substr(shown));
    } catch (const PublishError& error) {
      Log(options, std::string("warning: ") + error.what() + "; the next upload removes it");
    }
  }
}

// Multipart uploads that a killed upload left unfinished are invisible but stored.
void AbortUnfinishedParts(const UploadOptions& options, S3Client& store) {
  const S3Location& at = store.location();
  try {
    for (const auto& [key, id] : store.ListMultipart(at.prefix.empty() ? "" : at.prefix + "/")) {
      store.AbortMultipart(key, id);
      Log(options, "aborted  an unfinished multipart upload of " + key);
    }
  } catch (const PublishError& error) {
    Log(options, std::string("warning: ") + error.what());
  }
}

std::string ProcessVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : "";
}

}  // namespace

UploadSummary Upload(const UploadOptions& options) {
  S3Location location =
      ReadS3Location(options.address, options.environment ? options.environment : ProcessVariable);
  std::string outDir = ResolvedOutputFolder(options.outDir);
  UniqueFd lock = LockOutputFolder(outDir);
  UploadSummary summary;
  summary.address = location.Address();
  StagingArea staging(outDir);
  summary.recovered = staging.Recover();
  if (summary.recovered) {
    Log(options, "rolled back an interrupted publish");
  }
  LocalRelease local = ReadLocalRelease(outDir);

  S3Client store(std::move(location));
  StoreState state = ReadStoreState(store, local);
  for (const CatalogueEntry& entry : local.entries) {
    UploadCopy(options, outDir, state, entry, store, summary);
    ++summary.files;
    summary.bytes += static_cast<uint64_t>(entry.length);
  }
  PlaceManifest(options, store, local, state, summary);
  RemoveUnused(options, store, local, state, summary);
  AbortUnfinishedParts(options, store);
  return summary;
}
