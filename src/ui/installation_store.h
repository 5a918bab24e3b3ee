#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/commit_journal.h"
#include "catalogue/file_catalogue.h"
#include "platform/install_file.h"

class DiskInterface;

// A file of a commit that could not be put in place, and why.
struct CommitFailure {
  std::string name;
  InstallResult result = InstallResult::kRenameFailed;
};

// How putting a run's files in place ended.
enum class CommitResult {
  kDone,        // every file in place, the manifest (and signature) saved, no journal left
  kNotStarted,  // nothing was put in place: a file cannot be (failures), or the arrived files or
                // the journal could not be written
  kUnfinished,  // the journal stands for the next start to complete: a rename failed (failures),
                // or the manifest, the signature or the journal's removal did
};

// What lives beside the application and outlasts a run: the local manifest, the signature
// accepted last (whose timestamp, with the local manifest's, is the floor below which no release
// is taken), and the journal of a run putting its files in place. A run's files go in all
// together or not at all: saves are atomic, the arrived files reach the disk before the journal
// is written, and the journal before any of them is renamed. Window's thread.
class InstallationStore {
 public:
  // moduleDirectory: the application's directory with its trailing separator.
  InstallationStore(std::string moduleDirectory, DiskInterface& disk);
  InstallationStore(const InstallationStore&) = delete;
  InstallationStore& operator=(const InstallationStore&) = delete;

  const std::string& moduleDirectory() const { return moduleDirectory_; }
  // moduleDirectory + "/" + name: every local path of the program is made so.
  std::string PathOf(const std::string& name) const;

  // The local manifest ("version.txt"; missing or unreadable: none) into local.
  void LoadLocalManifest(FileCatalogue& local);
  // The lowest signature timestamp a release may have: that of the signature accepted last, or
  // the timestamp local's head carries under its signature, whichever is higher; -1 for none.
  int64_t Floor(FileCatalogue& local);

  // Puts every file of journal, arrived whole as "<localPath>.update", in place and saves the
  // manifest and signature it names: the arrived files flushed, the journal written, the renames,
  // the folders flushed, the saves, the journal removed. failures: the files that could not be
  // put in place.
  CommitResult Commit(CommitJournal journal, std::vector<CommitFailure>& failures);
  // True when a journal stands: a commit was stopped halfway.
  bool CommitPending();
  // Completes the journal that stands, if any (a rename whose ".update" is gone while its target
  // stands was done); kDone when none is left. A journal that cannot be completed stays.
  CommitResult FinishCommit(std::vector<CommitFailure>& failures);

  // Keeps signatureText (when not empty) as "version.txt.minisig" unless it is there already.
  bool SaveAcceptedSignature(const std::string& signatureText);

 private:
  // The timestamp of the signature accepted last; -1 when none is kept.
  int64_t AcceptedTimestamp();
  // The renames, flushes and saves of a written journal, then its removal.
  CommitResult Apply(const CommitJournal& journal, std::vector<CommitFailure>& failures);

  const std::string moduleDirectory_;
  DiskInterface& disk_;
};
