#include "transfer/server_list.h"

#include <new>

bool ServerList::AddEntry(const std::string& name, const std::string& url) {
  try {
    entries_.push_back(std::make_unique<ServerEntry>(name, url));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
