#include "ui/installation_store.h"

#include <algorithm>
#include <utility>

#include "base/install_names.h"
#include "catalogue/minisign.h"
#include "platform/crash_point.h"
#include "ui/disk_interface.h"

InstallationStore::InstallationStore(std::string moduleDirectory, DiskInterface& disk)
    : moduleDirectory_(std::move(moduleDirectory)), disk_(disk) {}

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

CommitResult InstallationStore::Commit(CommitJournal journal,
                                       std::vector<CommitFailure>& failures) {
  // What can be told beforehand fails the run with nothing put in place: once the journal is
  // written, the renames can only go forward.
  std::vector<std::string> arrived;
  arrived.reserve(journal.files.size());
  for (const CatalogueEntry& file : journal.files) {
    arrived.push_back(UpdatePathOf(file.localPath));
    const InstallResult check = disk_.CheckInstall(arrived.back(), file.localPath);
    if (check != InstallResult::kInstalled) {
      failures.push_back(CommitFailure{file.name, check});
    }
  }
  if (!failures.empty()) {
    return CommitResult::kNotStarted;
  }
  // The journal must never name a file whose data a power cut could still take.
  if (!disk_.FlushFiles(arrived)) {
    return CommitResult::kNotStarted;
  }
  CrashPoint();
  if (!disk_.Replace(PathOf(kCommitJournalName), CommitJournalText(journal))) {
    return CommitResult::kNotStarted;
  }
  return Apply(journal, failures);
}

bool InstallationStore::CommitPending() {
  return disk_.Exists(PathOf(kCommitJournalName));
}

CommitResult InstallationStore::FinishCommit(std::vector<CommitFailure>& failures) {
  std::string text;
  if (!CommitPending()) {
    return CommitResult::kDone;
  }
  CommitJournal journal;
  if (!disk_.Read(PathOf(kCommitJournalName), text) ||
      !ReadCommitJournal(moduleDirectory_, text, journal)) {
    return CommitResult::kUnfinished;  // written whole or not at all: not ours, or unreadable
  }
  return Apply(journal, failures);
}

CommitResult InstallationStore::Apply(const CommitJournal& journal,
                                      std::vector<CommitFailure>& failures) {
  FolderFlushes flushes;
  for (const CatalogueEntry& file : journal.files) {
    const std::string arrived = UpdatePathOf(file.localPath);
    flushes.Note(file.localPath);
    const InstallResult result = disk_.Install(arrived, file.localPath, file.executable);
    // Its ".update" gone while the file stands: renamed before a kill. Without either, the file
    // is lost and the journal stays.
    const bool renamedBefore = result == InstallResult::kRenameFailed && !disk_.Exists(arrived) &&
                               disk_.Exists(file.localPath);
    if (result != InstallResult::kInstalled && !renamedBefore) {
      failures.push_back(CommitFailure{file.name, result});
    }
  }
  // The renames last before the manifest claims them. The signature goes before the manifest: a
  // crash between the two leaves the old manifest under a floor raised to a release whose files
  // are all in place, which refuses only older releases; the other way round the new files would
  // stand under the old floor, open to a replay of the release they replaced. Each is replaced
  // whole or not at all.
  flushes.FlushAll();
  if (!failures.empty() || !SaveAcceptedSignature(journal.signatureText) ||
      !disk_.Replace(PathOf(kManifestName), journal.manifestText)) {
    return CommitResult::kUnfinished;
  }
  // What an older version recorded of its failed runs describes files this manifest now covers.
  disk_.Remove(PathOf(kProgressRecordName));
  if (!disk_.Remove(PathOf(kCommitJournalName))) {
    return CommitResult::kUnfinished;
  }
  CrashPoint();
  return CommitResult::kDone;
}

bool InstallationStore::SaveAcceptedSignature(const std::string& signatureText) {
  if (signatureText.empty()) {
    return true;
  }
  const std::string path = PathOf(kSignatureName);
  std::string kept;
  return (disk_.Read(path, kept) && kept == signatureText) || disk_.Replace(path, signatureText);
}
