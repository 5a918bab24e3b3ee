#include "catalogue/local_entry_index.h"

LocalEntryIndex::LocalEntryIndex(EntryList& entries) : end_(entries.end()) {
  entries_.reserve(entries.size());
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    entries_.push_back(it);
  }
  nextSame_.assign(entries_.size(), kNone);
  size_t capacity = 16;
  while (capacity < entries_.size() * 2) {
    capacity *= 2;
  }
  slots_.assign(capacity, Slot());
  mask_ = capacity - 1;
  // Walking backwards leaves each path's head at its first entry and chains duplicates in order.
  const FoldedHash hasher;
  for (size_t i = entries_.size(); i-- > 0;) {
    const std::string& path = (*entries_[i])->remotePath;
    const size_t hash = hasher(path);
    Slot& slot = slots_[SlotOf(path, hash)];
    if (slot.key == kNone) {
      slot.key = i;
      slot.hash = hash;
    } else {
      nextSame_[i] = slot.first;
    }
    slot.first = i;
  }
}

size_t LocalEntryIndex::SlotOf(std::string_view path, size_t hash) const {
  for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
    const Slot& slot = slots_[at];
    if (slot.key == kNone ||
        (slot.hash == hash && EqualsIgnoringCase((*entries_[slot.key])->remotePath, path))) {
      return at;
    }
  }
}

LocalEntryIndex::EntryList::iterator LocalEntryIndex::Take(std::string_view remotePath) {
  Slot& slot = slots_[SlotOf(remotePath, FoldedHash()(remotePath))];
  if (slot.key == kNone || slot.first == kNone) {
    return end_;
  }
  size_t index = slot.first;
  slot.first = nextSame_[index];
  return entries_[index];
}
