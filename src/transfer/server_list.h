#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "transfer/lock_guard.h"

// One update server as the server list names it.
struct ServerEntry {
  ServerEntry(std::string entryName, std::string entryUrl)
      : name(std::move(entryName)), url(std::move(entryUrl)) {}
  virtual ~ServerEntry() = default;

  std::string name;  // shown in the combo box
  std::string url;   // base URL, no trailing "/"
};

// The part of a combo box that filling it needs. A sorted box returns the sorted index of the new
// item, so data and selection go to the index that AddString returned. Window's thread.
class ComboBox {
 public:
  virtual ~ComboBox() = default;
  virtual int AddString(const std::string& text) = 0;
  virtual void SetItemData(int index, ServerEntry* entry) = 0;
  virtual void SetCurSel(int index) = 0;
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
  // For each entry in order: add its name, attach the entry, select the new item.
  void FillComboBox(ComboBox& comboBox);
  void RemoveAndDelete(ServerEntry* entry);
  size_t Size();
  void DeleteAll();

 private:
  CriticalSection lock_;
  std::list<std::unique_ptr<ServerEntry>> entries_;
};
