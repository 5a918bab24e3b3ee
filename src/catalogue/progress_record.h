#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/file_catalogue.h"

// The files that runs with failures did put in place, kept beside the local manifest as
// "version.txt.progress" (a manifest of our own) until a clean run saves the server's manifest.
// Without it a server that keeps failing some files would have every file fetched on every run.
// The record's text is read and written by its owner. Window's thread.
class ProgressRecord {
 public:
  // moduleDirectory is the application's directory with its trailing separator.
  explicit ProgressRecord(std::string moduleDirectory);
  ProgressRecord(const ProgressRecord&) = delete;
  ProgressRecord& operator=(const ProgressRecord&) = delete;

  // A run's comparison starts with the record's text ("" when there is none): its entries stand
  // in for the local manifest's entries of the same paths.
  void Begin(FileCatalogue& local, const std::string& recordText);
  // This run put the file of entry in place.
  void Installed(const CatalogueEntry& entry);
  // True when the run put a file in place that the record does not hold yet.
  bool HasNews() const { return !installed_.empty(); }
  // The record's text to save: what it held plus what this run put in place, the newer entry
  // winning for a path. From now on the record holds them all.
  std::string Merged();
  // The record is gone: it holds nothing.
  void Clear();

 private:
  std::string moduleDirectory_;
  std::vector<CatalogueEntry> kept_;
  std::vector<CatalogueEntry> installed_;
};

// The manifest's directory key an entry was listed under, taken back from its remotePath.
std::string DirectoryKeyOf(const CatalogueEntry& entry);

// Manifest text (paths, "l", "v" and "h" where known) listing entries in order; a run of entries
// with one key shares a directory member.
std::string ManifestTextOf(const std::vector<CatalogueEntry>& entries);
