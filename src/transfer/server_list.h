#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "base/lock_guard.h"

// One update server as the server list names it.
struct ServerEntry {
  ServerEntry(std::string entryName, std::string entryUrl)
      : name(std::move(entryName)), url(std::move(entryUrl)) {}
  virtual ~ServerEntry() = default;

  std::string name;  // shown in the combo box
  std::string url;   // base URL, no trailing "/"
};

// The servers read from the server list, owned in file order. Every operation holds the list's
// own lock; used on the window's thread.
class ServerList {
 public:
  ServerList() = default;
  virtual ~ServerList();
  ServerList(const ServerList&) = delete;
  ServerList& operator=(const ServerList&) = delete;

  // Appends a non-null entry; false for null.
  bool Add(std::unique_ptr<ServerEntry> entry);
  bool AddEntry(const std::string& name, const std::string& url);
  // For each entry in order: add its name to the box, attach the entry to the index AddString
  // returned (a sorted box puts the item where it belongs), select that item. The box is any
  // type with AddString(const std::string&) -> int (negative: refused), SetItemData(int,
  // ServerEntry*) and SetCurSel(int).
  template <typename Box>
  void FillComboBox(Box& comboBox) {
    LockGuard guard(&lock_);
    for (const auto& entry : entries_) {
      int index = comboBox.AddString(entry->name);
      if (index < 0)
        continue;  // the box refused the item
      comboBox.SetItemData(index, entry.get());
      comboBox.SetCurSel(index);
    }
  }
  void RemoveAndDelete(ServerEntry* entry);
  size_t Size();
  void DeleteAll();

 private:
  CriticalSection lock_;
  std::list<std::unique_ptr<ServerEntry>> entries_;
};
