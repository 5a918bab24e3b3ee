#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// One update server as the server list names it.
struct ServerEntry {
  ServerEntry(std::string entryName, std::string entryUrl)
      : name(std::move(entryName)), url(std::move(entryUrl)) {}
  virtual ~ServerEntry() = default;

  std::string name;  // shown to the user
  std::string url;   // base URL, no trailing "/"
};

// The servers read from the server list, owned in file order. Window's thread.
class ServerList {
 public:
  ServerList() = default;
  ServerList(const ServerList&) = delete;
  ServerList& operator=(const ServerList&) = delete;

  // Appends an entry; false when there is no memory for it.
  bool AddEntry(const std::string& name, const std::string& url);
  size_t Size() const { return entries_.size(); }
  // The entry at index, in file order; index must be below Size().
  const ServerEntry& At(size_t index) const { return *entries_[index]; }

 private:
  std::vector<std::unique_ptr<ServerEntry>> entries_;
};
