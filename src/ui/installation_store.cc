#include "ui/installation_store.h"

#include <algorithm>

#include "base/install_names.h"
#include "catalogue/minisign.h"
#include "ui/disk_interface.h"

InstallationStore::InstallationStore(std::string moduleDirectory, DiskInterface& disk)
    : moduleDirectory_(std::move(moduleDirectory)), disk_(disk), record_(moduleDirectory_) {}

std::string InstallationStore::PathOf(const std::string& name) const {
  return moduleDirectory_ + "/" + name;
}

void InstallationStore::LoadLocalManifest(FileCatalogue& local) {
  std::string text;
  if (!disk_.Read(PathOf(kManifestName), text)) {
    local.Clear();
    return;
  }
  local.LoadText(text);
}

int64_t InstallationStore::Floor(FileCatalogue& local) {
  // The installed release is known by the signature accepted last and by the timestamp its
  // manifest carries under the signature, which an installation made from a release folder has
  // from the start.
  return std::max(AcceptedTimestamp(), local.HeadTimestamp());
}

int64_t InstallationStore::AcceptedTimestamp() {
  // Written only by this program, atomically, after it was verified: its comment is trusted as
  // it stands, even when the key has changed since.
  std::string kept;
  std::string comment;
  int64_t seconds = -1;
  if (!disk_.Read(PathOf(kSignatureName), kept) || !ReadMinisignTrustedComment(kept, comment) ||
      !TrustedCommentTimestamp(comment, seconds)) {
    return -1;
  }
  return seconds;
}

void InstallationStore::BeginRecord(FileCatalogue& local) {
  std::string text;
  if (!disk_.Read(PathOf(kProgressRecordName), text)) {
    text.clear();
  }
  record_.Begin(local, text);
}

void InstallationStore::Installed(const CatalogueEntry& entry) {
  flushes_.Note(entry.localPath);
  record_.Installed(entry);
}

bool InstallationStore::RecordPresent() {
  return disk_.Exists(PathOf(kProgressRecordName));
}

bool InstallationStore::SaveProgress() {
  flushes_.FlushAll();  // the renames the record claims last first
  return !record_.HasNews() || disk_.Replace(PathOf(kProgressRecordName), record_.Merged());
}

bool InstallationStore::SaveServerManifest(const std::string& manifestText,
                                           const std::string& signatureText) {
  // The signature goes first: a crash after it leaves the old manifest under a floor raised to a
  // release whose files are all in place, which refuses only older releases; the other way round
  // the new files would stand under the old floor, open to a replay of the release they replaced.
  // The record goes next: a crash before the manifest is saved then leaves the old manifest
  // alone, which has files fetched again but never skips one wrongly. A record that cannot be
  // deleted would outlive the manifest it completes, so the manifest is not saved either.
  // Replaced whole or not at all: a full disk must not leave a cut manifest behind. The renames
  // it claims last before it does.
  flushes_.FlushAll();
  return SaveAcceptedSignature(signatureText) && DropRecord() &&
         disk_.Replace(PathOf(kManifestName), manifestText);
}

bool InstallationStore::SaveAcceptedSignature(const std::string& signatureText) {
  if (signatureText.empty()) {
    return true;
  }
  const std::string path = PathOf(kSignatureName);
  std::string kept;
  return (disk_.Read(path, kept) && kept == signatureText) || disk_.Replace(path, signatureText);
}

bool InstallationStore::DropRecord() {
  record_.Clear();
  const std::string path = PathOf(kProgressRecordName);
  return disk_.Remove(path) || !disk_.Exists(path);
}
