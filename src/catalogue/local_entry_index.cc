#include "catalogue/local_entry_index.h"

LocalEntryIndex::LocalEntryIndex(EntryList& entries) : end_(entries.end()) {
  entries_.reserve(entries.size());
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    entries_.push_back(it);
  }
  nextSame_.assign(entries_.size(), kNone);
  first_.reserve(entries_.size());
  // Walking backwards leaves each path's head at its first entry and chains duplicates in order.
  for (size_t i = entries_.size(); i-- > 0;) {
    auto inserted = first_.try_emplace((*entries_[i])->remotePath, i);
    if (!inserted.second) {
      nextSame_[i] = inserted.first->second;
      inserted.first->second = i;
    }
  }
}

LocalEntryIndex::EntryList::iterator LocalEntryIndex::Take(std::string_view remotePath) {
  auto found = first_.find(remotePath);
  if (found == first_.end() || found->second == kNone) {
    return end_;
  }
  size_t index = found->second;
  found->second = nextSame_[index];
  return entries_[index];
}
