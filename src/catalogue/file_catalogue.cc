#include "catalogue/file_catalogue.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "catalogue/local_entry_index.h"
#include "catalogue/manifest_paths.h"
#include "catalogue/path_folding.h"
#include "catalogue/whole_number.h"
#include "json/json_value.h"
#include "platform/file_system.h"

namespace {

// The self-update file: the comparison trusts the local manifest for it and never looks at disk.
constexpr std::string_view kSelfUpdateName = "Lodestar._exe";

// text in lower case when it is 64 hex digits of either case; "" otherwise.
std::string LowerHash(const std::string& text) {
  if (text.size() != 64) {
    return {};
  }
  std::string hash = text;
  for (char& c : hash) {
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return {};
    }
  }
  return hash;
}

// "h" in lower case when it is 64 hex digits of either case; "" otherwise, as when it is absent.
std::string ReadHash(const JsonObject& file) {
  const std::string* text = file.getString("h");
  return text != nullptr ? LowerHash(*text) : std::string();
}

// A length given as a whole number ("z", a patch's); -1 for anything else.
int64_t LengthOf(const JsonValue* value) {
  int64_t length = -1;
  if (value == nullptr || value->kind() != kJsonString ||
      !ReadWholeNumber(static_cast<const JsonString*>(value)->text, length)) {
    return -1;
  }
  return length;
}

// "z" and "p": the smaller ways to the content; a malformed patch is left out, the rest kept.
void ReadSmallerWays(const JsonObject& file, CatalogueEntry& entry) {
  entry.compressedLength = LengthOf(file.find("z"));
  const JsonArray* patches = asArray(file.find("p"));
  if (patches == nullptr) {
    return;
  }
  for (JsonCursor cursor = patches->members(); cursor.hasNext();) {
    JsonMember patch = cursor.next();
    std::string from = LowerHash(patch.key);
    const int64_t length = LengthOf(patch.value);
    if (!from.empty() && length > 0) {
      entry.patches.emplace_back(std::move(from), length);
    }
  }
}

// The local entry describes the server's file: same "v" and "l", and no "h" on both sides that
// differs (a rebuilt release folder restarts versions, so only the hash tells its files apart).
bool SameRelease(const CatalogueEntry& recorded, const CatalogueEntry& server) {
  const bool hashesDiffer =
      !recorded.hash.empty() && !server.hash.empty() && recorded.hash != server.hash;
  return recorded.version == server.version && recorded.length == server.length && !hashesDiffer;
}

// head.timestamp as a whole number; -1 when there is none.
int64_t ReadHeadTimestamp(const JsonObject& document) {
  const JsonObject* head = asObject(document.find("head"));
  const std::string* text = head != nullptr ? head->getString("timestamp") : nullptr;
  int64_t seconds = -1;
  return text != nullptr && ReadWholeNumber(*text, seconds) ? seconds : -1;
}

}  // namespace

bool ReadLengthAndVersion(const JsonObject& file, int64_t& length, int& version) {
  const std::string* text = file.getString("l");
  length = text != nullptr ? AsciiToInt64(*text) : -1;
  version = -1;
  file.getInt("v", version);
  return length >= 0 && version >= 0;
}

FileCatalogue::FileCatalogue(std::string moduleDirectory) : root_(std::move(moduleDirectory)) {
  std::replace(root_.begin(), root_.end(), '\\', '/');
}

FileCatalogue::~FileCatalogue() {
  Clear();
}

void FileCatalogue::Clear() {
  while (!entries_.empty()) {
    entries_.pop_front();
  }
  headTimestamp_ = -1;
}

bool FileCatalogue::Load(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    Clear();
    return false;
  }
  return LoadText(text);
}

bool FileCatalogue::LoadText(const std::string& text) {
  Clear();

  JsonObject document;
  return document.parse(text, false) && LoadDocument(document);
}

bool FileCatalogue::LoadDocument(const JsonObject& document) {
  Clear();
  const JsonArray* paths = asArray(document.find("paths"));
  if (paths == nullptr) {
    return false;
  }
  headTimestamp_ = ReadHeadTimestamp(document);

  std::string prefix;  // root + "/" + key + "/", shared by the directory's local paths
  for (JsonCursor directories = paths->members(); directories.hasNext();) {
    JsonMember directory = directories.next();
    const JsonArray* files = asArray(directory.value);
    const std::string& key = directory.key;
    if (files == nullptr || !IsSafeDirectoryKey(key)) {
      continue;
    }
    CreateDirectories(key);

    prefix.assign(root_).append(1, '/').append(key).append(1, '/');
    for (JsonCursor cursor = files->members(); cursor.hasNext();) {
      JsonMember file = cursor.next();
      const JsonObject* object = asObject(file.value);
      const std::string& name = file.key;
      if (object == nullptr || !IsSafeFileName(name)) {
        continue;
      }
      int64_t length = 0;
      int version = 0;
      if (!ReadLengthAndVersion(*object, length, version)) {
        continue;
      }
      int executable = 0;
      object->getInt("x", executable);

      auto entry = std::make_unique<CatalogueEntry>();
      entry->name = name;
      entry->length = length;
      entry->version = version;
      entry->executable = executable == 1;
      entry->hash = ReadHash(*object);
      ReadSmallerWays(*object, *entry);
      entry->localPath.reserve(prefix.size() + name.size());
      entry->localPath.append(prefix).append(name);
      entry->remotePath.reserve(key.size() + name.size() + 5);
      entry->remotePath.append(key).append(1, '/').append(name).append(".txt");
      entries_.push_back(std::move(entry));
    }
  }
  return true;
}

void FileCatalogue::CreateDirectories(const std::string& key) {
  CreateKeyDirectories(root_, key);
}

uint32_t FileCatalogue::MarkChanged(FileCatalogue& local) {
  // Matched local entries leave the local list at once but are destroyed only at the end: the
  // index's keys point into them.
  std::list<std::unique_ptr<CatalogueEntry>> consumed;
  std::list<std::unique_ptr<CatalogueEntry>> nothing;
  // Comparing a catalogue with itself would consume the very entries being walked.
  auto& localEntries = &local == this ? nothing : local.entries_;
  LocalEntryIndex index(localEntries);

  uint32_t count = 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    CatalogueEntry& server = **it;
    bool needsDownload = true;
    auto match = index.Take(server.remotePath);
    if (match != index.end()) {
      const CatalogueEntry& recorded = **match;
      if (SameRelease(recorded, server)) {
        if (EqualsIgnoringCase(recorded.name, kSelfUpdateName)) {
          needsDownload = false;
        } else {
          // The file the download would replace is the one that counts, also when the two
          // manifests spell the path in different case.
          int64_t size = 0;
          needsDownload = !(ProbeFileSize(server.localPath, size) && size == server.length);
        }
      }
      consumed.splice(consumed.end(), localEntries, match);
    }
    if (needsDownload) {
      server.needsDownload = true;
      ++count;
      ++it;
    } else {
      it = entries_.erase(it);
    }
  }
  return count;
}

uint64_t FileCatalogue::TotalLength() {
  uint64_t total = 0;
  for (const auto& entry : entries_) {
    if (entry->needsDownload) {
      total += static_cast<uint64_t>(entry->length);
    }
  }
  return total;
}

std::unique_ptr<CatalogueEntry> FileCatalogue::TakeNext() {
  if (entries_.empty()) {
    return nullptr;
  }
  std::unique_ptr<CatalogueEntry> entry = std::move(entries_.front());
  entries_.pop_front();
  return entry;
}

size_t FileCatalogue::Size() {
  return entries_.size();
}

int64_t FileCatalogue::HeadTimestamp() {
  return headTimestamp_;
}

std::vector<CatalogueEntry> FileCatalogue::Entries() {
  std::vector<CatalogueEntry> copies;
  copies.reserve(entries_.size());
  for (const auto& entry : entries_) {
    copies.push_back(*entry);
  }
  return copies;
}
