#include "catalogue/commit_journal.h"

#include <memory>
#include <utility>

#include "catalogue/file_catalogue.h"
#include "json/json_value.h"

namespace {

constexpr char kManifestMember[] = "manifest";
constexpr char kSignatureMember[] = "signature";
constexpr size_t kRemoteSuffix = 5;  // "/" before the name and ".txt" after it

// The manifest's directory key an entry was listed under, taken back from its remotePath.
std::string DirectoryKeyOf(const CatalogueEntry& entry) {
  const std::string& remote = entry.remotePath;
  const size_t tail = entry.name.size() + kRemoteSuffix;
  return remote.size() >= tail ? remote.substr(0, remote.size() - tail) : std::string();
}

}  // namespace

std::string CommitJournalText(const CommitJournal& journal) {
  auto paths = std::make_unique<JsonArray>();
  JsonArray* directory = nullptr;
  std::string key;
  for (const CatalogueEntry& entry : journal.files) {
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
    if (entry.executable) {
      file->add(JsonPair("x", "1"));
    }
    if (!entry.hash.empty()) {
      file->add(JsonPair("h", entry.hash.c_str()));
    }
    directory->add(entry.name, std::move(file));
  }
  JsonObject document;
  document.add("paths", std::move(paths));
  document.add(kManifestMember, std::make_unique<JsonString>(journal.manifestText));
  document.add(kSignatureMember, std::make_unique<JsonString>(journal.signatureText));
  std::string text;
  document.write(text, true, 0);
  return text;
}

bool ReadCommitJournal(const std::string& moduleDirectory, const std::string& text,
                       CommitJournal& journal) {
  JsonObject document;
  if (!document.parse(text, false)) {
    return false;
  }
  const std::string* manifest = document.getString(kManifestMember);
  FileCatalogue files(moduleDirectory);
  if (manifest == nullptr || !files.LoadDocument(document)) {
    return false;
  }
  journal.files = files.Entries();
  journal.manifestText = *manifest;
  const std::string* signature = document.getString(kSignatureMember);
  journal.signatureText = signature != nullptr ? *signature : std::string();
  return true;
}
