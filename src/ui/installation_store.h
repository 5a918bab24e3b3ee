#pragma once

#include <cstdint>
#include <string>

#include "catalogue/catalogue_entry.h"
#include "catalogue/file_catalogue.h"
#include "catalogue/progress_record.h"
#include "platform/install_file.h"

class DiskInterface;

// What lives beside the application and outlasts a run: the local manifest, the signature
// accepted last (whose timestamp, with the local manifest's, is the floor below which no release
// is taken), and the record of what failed runs put in place. Saves are atomic, and the folders
// of this run's renames are flushed before any record claims them. Window's thread.
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
  // A run's comparison starts: the record's entries stand in for local's of the same paths.
  void BeginRecord(FileCatalogue& local);
  // This run put entry's file in place.
  void Installed(const CatalogueEntry& entry);
  // True when a record of an earlier run's progress stands beside the manifest.
  bool RecordPresent();

  // A run that did not finish keeps what arrived: the renames are flushed, then the record
  // saved if it has news. False when saving failed.
  bool SaveProgress();
  // A clean run's bookkeeping: the accepted signature is kept, the record goes, the server's
  // manifest becomes the local one. False when any of them fails.
  bool SaveServerManifest(const std::string& manifestText, const std::string& signatureText);
  // Keeps signatureText (when not empty) as "version.txt.minisig" unless it is there already.
  bool SaveAcceptedSignature(const std::string& signatureText);

 private:
  // The timestamp of the signature accepted last; -1 when none is kept.
  int64_t AcceptedTimestamp();
  // Deletes the record; true when none is left.
  bool DropRecord();

  const std::string moduleDirectory_;
  DiskInterface& disk_;
  ProgressRecord record_;
  FolderFlushes flushes_;  // the folders this run renamed files in, not yet flushed
};
