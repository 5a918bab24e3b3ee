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
#include "publish/delta_layout.h"
#include "publish/output_folder.h"
#include "publish/posix_files.h"
#include "publish/previous_release.h"
#include "publish/publish_error.h"
#include "publish/release_history.h"
#include "publish/s3_client.h"
#include "publish/staging_area.h"

namespace {

// The manifest the store served before this upload's, once this upload's is in place.
constexpr char kPreviousManifestName[] = "version.txt.previous";
constexpr uint64_t kMaxParts = 10000;
// Copies keep their names when their content changes; compressed copies and patches never do.
constexpr char kRevalidate[] = "no-cache";
constexpr char kImmutable[] = "public, max-age=31536000, immutable";

// One object the release serves: a copy, or a compressed copy or patch named after its content.
struct ServedObject {
  std::string relative;  // below the output folder, as clients ask for it
  uint64_t length = 0;   // what the manifest lists
  std::string hash;      // a copy's content as the manifest lists it; "" for the others
};

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
  std::vector<ServedObject> objects;  // the copies, then the compressed copies and patches
  int64_t timestamp = -1;             // the signed head's; -1 when unsigned
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
    local.objects.push_back(
        ServedObject{entry.remotePath, static_cast<uint64_t>(entry.length), entry.hash});
  }
  std::set<std::string> listed;
  const PreviousRelease listedFiles = PreviousRelease::Parse(local.manifest, manifestPath);
  for (const PublishedFile& file : listedFiles.files()) {
    auto add = [&](const std::string& relative, int64_t length) {
      if (listed.insert(relative).second) {
        local.objects.push_back(ServedObject{relative, static_cast<uint64_t>(length), ""});
      }
    };
    if (file.compressedLength >= 0) {
      add(CompressedCopyPath(file.hash), file.compressedLength);
    }
    for (const auto& [source, length] : file.patches) {
      add(PatchPath(source, file.hash), length);
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
void PutChecked(S3Client& store, const std::string& key, const RequestBody& body,
                const char* cacheControl = kRevalidate) {
  const S3Client::Headers headers = {{"x-amz-meta-sha256", body.sha256},
                                     {"Cache-Control", cacheControl}};
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
                const RequestBody& whole, const std::string& path, const char* cacheControl) {
  const uint64_t partSize = std::max(options.partSize, (whole.length + kMaxParts - 1) / kMaxParts);
  const uint64_t parts = (whole.length + partSize - 1) / partSize;
  const std::string id = store.StartMultipart(
      key, {{"x-amz-meta-sha256", whole.sha256}, {"Cache-Control", cacheControl}});
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

// Sends one object unless the store holds it already; refuses a copy that the manifest does not
// describe, before any of it goes. An object named after its content is there when the store
// holds its name with its length.
void UploadObject(const UploadOptions& options, const std::string& outDir, const StoreState& state,
                  const ServedObject& object, S3Client& store, UploadSummary& summary) {
  const std::string key = store.location().Key(object.relative);
  const std::string path = JoinPath(outDir, object.relative);
  UniqueFd fd = OpenForReading(path);
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) {
    throw PublishError(SystemErrorText("examine", path, errno));
  }
  const uint64_t length = object.length;
  if (static_cast<uint64_t>(status.st_size) != length) {
    ChangedSincePublishing(path, "is " + std::to_string(status.st_size) +
                                     " bytes long, the manifest says " + std::to_string(length));
  }
  const bool immutable = object.hash.empty();
  auto listed = state.objects.find(key);
  if (listed != state.objects.end() && listed->second == length) {
    std::optional<ObjectFacts> facts = immutable ? ObjectFacts{length, ""} : store.Head(key);
    if (facts && facts->length == length && (immutable || facts->sha256 == object.hash)) {
      ++summary.present;
      return;
    }
  }
  RequestBody body;
  body.fd = fd.get();
  body.length = length;
  body.sha256 = HashFileRange(fd.get(), 0, length, path);
  if (!immutable && body.sha256 != object.hash) {
    ChangedSincePublishing(path, "does not have the content the manifest lists");
  }
  const char* cacheControl = immutable ? kImmutable : kRevalidate;
  const std::string shown = immutable ? object.relative : DisplayPath(object.relative);
  if (length >= options.multipartThreshold && length > 0) {
    Log(options, "sending  " + shown + " (" + std::to_string(length) + " bytes, in parts)");
    PutInParts(options, store, key, body, path, cacheControl);
  } else {
    PutChecked(store, key, body, cacheControl);
  }
  ++summary.sent;
  summary.sentBytes += length;
  Log(options, "sent     " + shown + " (" + std::to_string(length) + " bytes)");
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
void RemoveUnused(const UploadOptions& options, const std::string& outDir, S3Client& store,
                  const LocalRelease& local, const StoreState& state, UploadSummary& summary) {
  const S3Location& at = store.location();
  std::set<std::string> keep = {at.Key(kManifestName), at.Key(kSignatureName),
                                at.Key(kPreviousManifestName)};
  for (const ServedObject& object : local.objects) {
    keep.insert(at.Key(object.relative));
  }
  const std::optional<std::string>& before =
      state.manifest && *state.manifest == local.manifest ? state.previous : state.manifest;
  ListedRelease previous;
  if (before && previous.LoadText(*before)) {
    for (const CatalogueEntry& entry : previous.Entries()) {
      keep.insert(at.Key(entry.remotePath));
    }
    for (const std::string& relative : NamedObjects(PreviousRelease::Parse(*before, "before"))) {
      keep.insert(at.Key(relative));
    }
  }
  // Compressed copies and patches stay while the output folder keeps them for its releases
  // within reach.
  const std::string deltas = at.Key(std::string(kDeltaFolder) + "/");
  std::vector<std::string> unused;
  for (const auto& [key, size] : state.objects) {
    struct stat status {};
    bool keptHere =
        key.compare(0, deltas.size(), deltas) == 0 &&
        LinkStatus(JoinPath(JoinPath(outDir, kDeltaFolder), key.substr(deltas.size())), status);
    if (keep.count(key) == 0 && !keptHere) {
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
  for (const ServedObject& object : local.objects) {
    UploadObject(options, outDir, state, object, store, summary);
  }
  for (const CatalogueEntry& entry : local.entries) {
    ++summary.files;
    summary.bytes += static_cast<uint64_t>(entry.length);
  }
  PlaceManifest(options, store, local, state, summary);
  RemoveUnused(options, outDir, store, local, state, summary);
  AbortUnfinishedParts(options, store);
  return summary;
}
