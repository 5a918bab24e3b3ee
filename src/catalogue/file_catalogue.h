#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"

class JsonObject;

// The entries of one manifest, in manifest order. Window's thread.
class FileCatalogue {
 public:
  // moduleDirectory is the application's directory with its trailing separator; local paths and
  // the directories Load creates lie below it. Every "\" in it becomes "/".
  explicit FileCatalogue(std::string moduleDirectory);
  virtual ~FileCatalogue();
  FileCatalogue(const FileCatalogue&) = delete;
  FileCatalogue& operator=(const FileCatalogue&) = delete;

  void Clear();
  // Reads a manifest file, creating the directories it names; false when the file is missing,
  // does not parse, or has no "paths" array.
  bool Load(const std::string& path);
  // The same for a manifest's text already in hand (one whose signature was checked, say).
  bool LoadText(const std::string& text);
  // The same for a document already read; false when it has no "paths" array.
  bool LoadDocument(const JsonObject& document);
  // Keeps only the entries that need a download (marked), consuming the local entries it matches;
  // returns how many stay.
  uint32_t MarkChanged(FileCatalogue& local);
  // Sum of the lengths of the marked entries, 64 bits wide so that large files add up.
  uint64_t TotalLength();
  // Removes and hands over the first entry; null when empty.
  std::unique_ptr<CatalogueEntry> TakeNext();
  size_t Size();
  // The "timestamp" of the manifest's "head" as the publisher signed it (seconds since 1970); -1
  // when the manifest gives none that is a whole number.
  int64_t HeadTimestamp();
  // Copies of the entries in order, for checks and diagnostics.
  std::vector<CatalogueEntry> Entries();

 protected:
  // Creates the directories one directory key names below the application's directory: the
  // catalogue's only write to disk, which a check may watch or keep away from the disk.
  virtual void CreateDirectories(const std::string& key);

 private:
  std::string root_;
  std::list<std::unique_ptr<CatalogueEntry>> entries_;
  int64_t headTimestamp_ = -1;
};

// The length ("l") and version ("v") of a file a manifest lists: "l" a 64-bit number, "v" an int,
// both read from text like atoi. False when either is missing or negative: the file is skipped.
bool ReadLengthAndVersion(const JsonObject& file, int64_t& length, int& version);
