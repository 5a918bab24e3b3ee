#include "catalogue/progress_record.h"

#include <memory>
#include <unordered_map>
#include <utility>

#include "catalogue/path_folding.h"
#include "json/json_value.h"

namespace {

constexpr size_t kRemoteSuffix = 5;  // "/" before the name and ".txt" after it

}  // namespace

ProgressRecord::ProgressRecord(std::string moduleDirectory)
    : moduleDirectory_(std::move(moduleDirectory)) {}

void ProgressRecord::Begin(FileCatalogue& local, const std::string& recordText) {
  installed_.clear();
  FileCatalogue record(moduleDirectory_);
  record.LoadText(recordText);
  kept_ = record.Entries();
  local.Overlay(record);
}

void ProgressRecord::Installed(const CatalogueEntry& entry) {
  installed_.push_back(entry);
}

std::string ProgressRecord::Merged() {
  std::vector<CatalogueEntry> merged;
  merged.reserve(kept_.size() + installed_.size());
  std::unordered_map<std::string, size_t, FoldedHash, FoldedEqual> at;
  for (std::vector<CatalogueEntry>* source : {&kept_, &installed_}) {
    for (CatalogueEntry& entry : *source) {
      auto [slot, added] = at.emplace(entry.remotePath, merged.size());
      if (added) {
        merged.push_back(std::move(entry));
      } else {
        merged[slot->second] = std::move(entry);
      }
    }
  }
  installed_.clear();
  kept_ = std::move(merged);
  return ManifestTextOf(kept_);
}

void ProgressRecord::Clear() {
  kept_.clear();
  installed_.clear();
}

std::string DirectoryKeyOf(const CatalogueEntry& entry) {
  const std::string& remote = entry.remotePath;
  size_t tail = entry.name.size() + kRemoteSuffix;
  return remote.size() >= tail ? remote.substr(0, remote.size() - tail) : std::string();
}

std::string ManifestTextOf(const std::vector<CatalogueEntry>& entries) {
  auto paths = std::make_unique<JsonArray>();
  JsonArray* directory = nullptr;
  std::string key;
  for (const CatalogueEntry& entry : entries) {
    std::string entryKey = DirectoryKeyOf(entry);
    if (directory == nullptr || entryKey != key) {
      auto files = std::make_unique<JsonArray>();
      directory = files.get();
      key = std::move(entryKey);
      paths->add(key, std::move(files));
    }
    auto file = std::make_unique<JsonObject>();
    file->add(JsonPair("l", static_cast<long long>(entry.length)));
    file->add(JsonPair("v", entry.version));
    if (!entry.hash.empty()) {
      file->add(JsonPair("h", entry.hash.c_str()));  // tells a rebuilt release's file apart
    }
    directory->add(entry.name, std::move(file));
  }
  JsonObject document;
  document.add("paths", std::move(paths));
  std::string text;
  document.write(text, true, 0);
  return text;
}
