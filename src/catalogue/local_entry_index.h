#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/path_folding.h"

// Finds, for a remote path, the first not yet consumed entry of a local manifest with that path
// (case-blind), in constant time. Built once per comparison over the local entry list, which must
// not change except through Take; used under the server catalogue's lock on the window's thread.
class LocalEntryIndex {
 public:
  using EntryList = std::list<std::unique_ptr<CatalogueEntry>>;

  // Indexes every entry of entries. The keys point into the entries' remotePath, so the entries
  // must outlive the index (moving them to another list by splice is fine).
  explicit LocalEntryIndex(EntryList& entries);
  LocalEntryIndex(const LocalEntryIndex&) = delete;
  LocalEntryIndex& operator=(const LocalEntryIndex&) = delete;

  // The first entry in list order whose remotePath equals remotePath without regard to case and
  // that no earlier Take returned; it counts as consumed from now on. end() when there is none.
  EntryList::iterator Take(std::string_view remotePath);
  EntryList::iterator end() const { return end_; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // The slot of path's key: the slot that holds it, or the empty slot where it belongs.
  size_t SlotOf(std::string_view path, size_t hash) const;

  EntryList::iterator end_;
  std::vector<EntryList::iterator> entries_;
  // Per entry, the next entry in list order with the same folded path.
  std::vector<size_t> nextSame_;
  // Open addressing over the folded paths (a power of two in size, at most half full): per slot,
  // an entry that carries the slot's path (kNone: empty), its path's hash, and the path's first
  // unconsumed entry (kNone once all are taken). One block instead of a node per path.
  struct Slot {
    size_t key = kNone;
    size_t hash = 0;
    size_t first = kNone;
  };
  std::vector<Slot> slots_;
  size_t mask_ = 0;
};
