#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/file_catalogue.h"

// The files that runs with failures did put in place, kept beside the local manifest as
// "version.txt.progress" (a manifest of our own) until a clean run saves the server's manifest.
// Without it a server that keeps failing some files would have every file fetched on every run.
// Window's thread.
class ProgressRecord {
 public:
  // moduleDirectory is the application's directory with its trailing separator.
  explicit ProgressRecord(std::string moduleDirectory);
  ProgressRecord(const ProgressRecord&) = delete;
  ProgressRecord& operator=(const ProgressRecord&) = delete;

  // A run's comparison starts: reads the record (missing or unreadable: none) and lets its
  // entries stand in for the local manifest's entries of the same paths.
  void Begin(FileCatalogue& local);
  // This run put the file of entry in place.
  void Installed(const CatalogueEntry& entry);
  // True when the run put a file in place that the record does not hold yet.
  bool HasNews() const { return !installed_.empty(); }
  // Writes the record: what it held plus what this run put in place, the newer entry winning for
  // a path. Atomic; false (the old record stays) on failure.
  bool Save();
  // Deletes the record; true when none is left.
  bool Drop();
  // True when something stands at the record's path.
  bool Present() const;

 private:
  std::string moduleDirectory_;
  std::string path_;
  std::vector<CatalogueEntry> kept_;
  std::vector<CatalogueEntry> installed_;
};

// The manifest's directory key an entry was listed under, taken back from its remotePath.
std::string DirectoryKeyOf(const CatalogueEntry& entry);

// Manifest text (paths, "l", "v" and "h" where known) listing entries in order; a run of entries
// with one key shares a directory member.
std::string ManifestTextOf(const std::vector<CatalogueEntry>& entries);
