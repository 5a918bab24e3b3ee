#include "publish/release_install.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/install_names.h"
#include "catalogue/file_catalogue.h"
#include "catalogue/minisign.h"
#include "publish/output_folder.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"
#include "publish/release_signature.h"
#include "publish/staging_area.h"

namespace {

constexpr char kClientName[] = "Lodestar";
constexpr char kConfigName[] = "Lodestar.cfg";

// A folder being filled beside the destination; removed unless it was put in place. Publishing
// thread.
class PendingFolder {
 public:
  explicit PendingFolder(const std::string& destination) {
    std::filesystem::path target(destination);
    std::string parent = target.parent_path().string();
    MakeDirectories(parent.empty() ? "." : parent);
    std::string pattern =
        JoinPath(parent, "." + target.filename().string() + ".lodestar-install-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
      throw PublishError(SystemErrorText("create a folder beside", destination, errno));
    }
    path_ = pattern;
  }
  ~PendingFolder() {
    if (!path_.empty()) {
      RemoveTreeQuietly(path_);
    }
  }
  PendingFolder(const PendingFolder&) = delete;
  PendingFolder& operator=(const PendingFolder&) = delete;

  const std::string& path() const { return path_; }
  // Renames the folder over the destination (a missing or empty folder), with the mode a new
  // folder gets.
  void PlaceAt(const std::string& destination) {
    mode_t mask = umask(0);
    umask(mask);
    if (chmod(path_.c_str(), 0777 & ~mask) != 0) {
      throw PublishError(SystemErrorText("set the mode of", path_, errno));
    }
    RenameOrThrow(path_, destination);
    path_.clear();
  }

 private:
  std::string path_;
};

void CheckDestination(const std::string& destination) {
  struct stat status {};
  if (!LinkStatus(destination, status)) {
    return;
  }
  std::error_code error;
  if (!S_ISDIR(status.st_mode) || !std::filesystem::is_empty(destination, error) || error) {
    throw PublishError("'" + destination + "' is not an empty folder; name a new one");
  }
}

// The base64 line of the public key file at path, checked against the release's signature.
std::string CheckedPublicKey(const std::string& path, const std::string& manifest,
                             const std::string& signature, int64_t& signedAt) {
  std::string text;
  if (!ReadFileIfPresent(path, text)) {
    throw PublishError("there is no public key file '" + path + "'");
  }
  std::string line;
  MinisignPublicKey key;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    std::string candidate = text.substr(start, end == std::string::npos ? end : end - start);
    if (!candidate.empty() && candidate.back() == '\r') {
      candidate.pop_back();
    }
    if (ParseMinisignPublicKey(candidate, key)) {
      line = candidate;
      break;
    }
    start = end == std::string::npos ? text.size() : end + 1;
  }
  if (line.empty()) {
    throw PublishError("'" + path + "' is no minisign public key file");
  }
  VerifiedSignature verified;
  ServedSignature check;
  check.present = true;
  check.check = VerifyMinisignSignature(key, manifest, signature, verified);
  if (check.check != SignatureCheck::kValid) {
    throw PublishError("the public key in '" + path +
                       "' does not verify the release's signature (" + check.Fault() +
                       "): its clients would refuse every release");
  }
  signedAt = verified.timestamp;
  return line;
}

// The text of a PEM file of roots; throws when it holds no certificate, which the client would
// refuse at its start.
std::string CheckedRoots(const std::string& path) {
  std::string text;
  if (!ReadFileIfPresent(path, text)) {
    throw PublishError("there is no file '" + path + "' of roots for --cacert");
  }
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    throw PublishError("'" + path + "' holds no PEM certificate (-----BEGIN CERTIFICATE-----)");
  }
  return text;
}

// The release's files in the pending folder, as the client's reader lists them.
void CopyFiles(const std::string& outDir, const std::string& manifest, const std::string& root,
               InstallSummary& summary) {
  FileCatalogue release(root);
  if (!release.LoadText(manifest)) {
    throw PublishError("'" + JoinPath(outDir, kManifestName) + "' is not a manifest");
  }
  for (const CatalogueEntry& entry : release.Entries()) {
    for (const char* own : {kClientName, kConfigName, kInstalledRootsName, kManifestName,
                            kSignatureName, kProgressRecordName}) {
      if (entry.remotePath == "/" + std::string(own) + ".txt") {
        throw PublishError("the release holds '" + std::string(own) +
                           "', a name the installation needs for the client's own file");
      }
    }
    const std::string source = JoinPath(outDir, entry.remotePath);
    UniqueFd fd = OpenForReading(source);
    struct stat status {};
    if (fstat(fd.get(), &status) != 0) {
      throw PublishError(SystemErrorText("examine", source, errno));
    }
    Sha256 hash;
    if (status.st_size == entry.length) {
      CopyToFile(fd.get(), static_cast<uint64_t>(entry.length), entry.localPath, &hash);
    }
    if (status.st_size != entry.length || (!entry.hash.empty() && hash.HexDigest() != entry.hash)) {
      throw PublishError("the copy '" + source +
                         "' does not have the content the manifest lists: the output folder was "
                         "changed after publishing; publish the release again");
    }
    if (entry.executable && chmod(entry.localPath.c_str(), 0755) != 0) {
      throw PublishError(SystemErrorText("make executable", entry.localPath, errno));
    }
    ++summary.files;
    summary.bytes += static_cast<uint64_t>(entry.length);
  }
}

}  // namespace

InstallSummary Install(const InstallOptions& options) {
  std::string destination = options.destination;
  while (destination.size() > 1 && destination.back() == '/') {
    destination.pop_back();
  }
  std::string outDir = ResolvedOutputFolder(options.outDir);
  UniqueFd lock = LockOutputFolder(outDir);
  StagingArea(outDir).Recover();
  std::string manifest;
  if (!ReadFileIfPresent(JoinPath(outDir, kManifestName), manifest)) {
    throw PublishError("there is no manifest '" + JoinPath(outDir, kManifestName) +
                       "': publish a release into '" + outDir + "' first");
  }
  std::string signature;
  const bool isSigned = ReadFileIfPresent(JoinPath(outDir, kSignatureName), signature);
  InstallSummary summary;
  ClientConfig config = options.config;
  if (isSigned && options.publicKeyFile.empty()) {
    throw PublishError(
        "the release is signed: give its public key with --pubkey PUBFILE, so "
        "that the installation checks what it takes");
  }
  if (!isSigned && !options.publicKeyFile.empty()) {
    throw PublishError(
        "the release is not signed, and a client with a pubkey refuses it; sign "
        "it (--sign, --resign) or leave --pubkey out");
  }
  if (isSigned) {
    config.publicKey =
        CheckedPublicKey(options.publicKeyFile, manifest, signature, summary.signedAt);
  }
  std::string roots;
  if (!options.caCertFile.empty()) {
    roots = CheckedRoots(options.caCertFile);
    config.caCert = kInstalledRootsName;
  }
  UniqueFd client = OpenForReading(options.client);
  CheckDestination(destination);

  PendingFolder pending(destination);
  const std::string root = pending.path();
  CopyFiles(outDir, manifest, root, summary);
  WriteNewFileDurably(JoinPath(root, kManifestName), manifest, 0644);
  if (isSigned) {
    WriteNewFileDurably(JoinPath(root, kSignatureName), signature, 0644);
  }
  struct stat status {};
  if (fstat(client.get(), &status) != 0) {
    throw PublishError(SystemErrorText("examine", options.client, errno));
  }
  CopyToFile(client.get(), static_cast<uint64_t>(status.st_size), JoinPath(root, kClientName));
  if (chmod(JoinPath(root, kClientName).c_str(), 0755) != 0) {
    throw PublishError(SystemErrorText("make executable", JoinPath(root, kClientName), errno));
  }
  if (!roots.empty()) {
    WriteNewFileDurably(JoinPath(root, kInstalledRootsName), roots, 0644);
  }
  WriteNewFileDurably(JoinPath(root, kConfigName), ClientConfigText(config), 0644);
  pending.PlaceAt(destination);
  return summary;
}
