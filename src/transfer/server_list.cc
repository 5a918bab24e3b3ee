#include "transfer/server_list.h"

#include <new>

ServerList::~ServerList() {
  DeleteAll();
}

bool ServerList::Add(std::unique_ptr<ServerEntry> entry) {
  LockGuard guard(&lock_);
  if (!entry) {
    return false;
  }
  entries_.push_back(std::move(entry));
  return true;
}

bool ServerList::AddEntry(const std::string& name, const std::string& url) {
  LockGuard guard(&lock_);
  std::unique_ptr<ServerEntry> entry;
  try {
    entry = std::make_unique<ServerEntry>(name, url);
    return Add(std::move(entry));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void ServerList::RemoveAndDelete(ServerEntry* entry) {
  LockGuard guard(&lock_);
  if (!entry) {
    return;
  }
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->get() == entry) {
      entries_.erase(it);
      return;
    }
  }
}

size_t ServerList::Size() {
  LockGuard guard(&lock_);
  return entries_.size();
}

void ServerList::DeleteAll() {
  LockGuard guard(&lock_);
  while (!entries_.empty()) {
    entries_.pop_front();
  }
}
