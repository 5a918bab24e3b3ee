#include "publish/previous_release.h"

#include <algorithm>

#include "catalogue/file_catalogue.h"
#include "json/json_value.h"
#include "platform/crypto.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"
#include "publish/release_tree.h"

namespace {

bool IsHexHash(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

const std::string* Text(const JsonValue* value) {
  return value != nullptr && value->kind() == kJsonString
             ? &static_cast<const JsonString*>(value)->text
             : nullptr;
}

// A length as the publisher writes it (decimal digits that fit); -1 for anything else.
int64_t LengthOf(const std::string* text) {
  if (text == nullptr || text->empty() || text->size() > 18 ||
      text->find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::stoll(*text);
}

// "h", "z" and "p" as far as they have the form the publisher writes.
void ReadContentKeys(const JsonObject& file, PublishedFile& published) {
  const std::string* hash = file.getString("h");
  if (hash != nullptr && IsHexHash(*hash)) {
    published.hash = *hash;
  }
  published.compressedLength = LengthOf(file.getString("z"));
  if (const JsonArray* patches = asArray(file.find("p"))) {
    for (JsonCursor cursor = patches->members(); cursor.hasNext();) {
      JsonMember patch = cursor.next();
      int64_t length = LengthOf(Text(patch.value));
      if (IsHexHash(patch.key) && length >= 0) {
        published.patches.emplace_back(patch.key, length);
      }
    }
  }
}

}  // namespace

PreviousRelease PreviousRelease::Read(const std::string& manifestPath) {
  std::string text;
  if (!ReadFileIfPresent(manifestPath, text)) {
    return PreviousRelease();
  }
  return Parse(text, manifestPath);
}

PreviousRelease PreviousRelease::Parse(const std::string& text, const std::string& manifestPath) {
  PreviousRelease release;
  Sha256 digest;
  digest.Update(text.data(), text.size());
  release.manifestHash_ = digest.HexDigest();
  JsonObject document;
  const JsonArray* paths = nullptr;
  if (document.parse(text, false)) {
    paths = asArray(document.find("paths"));
  }
  if (paths == nullptr) {
    throw PublishError("'" + manifestPath +
                       "' is not a manifest, so versions cannot be carried on; move it away to "
                       "publish afresh");
  }
  for (JsonCursor folders = paths->members(); folders.hasNext();) {
    JsonMember folder = folders.next();
    const JsonArray* files = asArray(folder.value);
    if (files == nullptr) {
      continue;
    }
    for (JsonCursor cursor = files->members(); cursor.hasNext();) {
      JsonMember member = cursor.next();
      const JsonObject* file = asObject(member.value);
      int64_t length = 0;
      int version = 0;
      // What clients skip, the carry-over skips too.
      if (file == nullptr || !ReadLengthAndVersion(*file, length, version)) {
        continue;
      }
      std::string path = ReleasePath(folder.key, member.key);
      if (release.byPath_.count(path) == 0) {
        release.byPath_[path] = release.files_.size();
        int executable = 0;
        file->getInt("x", executable);
        PublishedFile published;
        published.key = folder.key;
        published.name = member.key;
        published.version = version;
        published.length = length;
        published.executable = executable == 1;
        ReadContentKeys(*file, published);
        release.files_.push_back(std::move(published));
      }
      release.Remember(path, version);
    }
  }
  if (const JsonObject* head = asObject(document.find("head"))) {
    const std::string* earlier = head->getString("earlier");
    if (earlier != nullptr && IsHexHash(*earlier)) {
      release.earlier_ = *earlier;
    }
    if (const JsonArray* retired = asArray(head->find("retired"))) {
      for (JsonCursor cursor = retired->members(); cursor.hasNext();) {
        JsonMember member = cursor.next();
        const std::string* value = Text(member.value);
        int version = value != nullptr ? AsciiToInt(*value) : 0;
        if (version <= 0) {
          continue;
        }
        int& kept = release.retired_[member.key];
        kept = std::max(kept, version);
        release.Remember(member.key, version);
      }
    }
  }
  return release;
}

const PublishedFile* PreviousRelease::Find(const std::string& path) const {
  auto found = byPath_.find(path);
  return found == byPath_.end() ? nullptr : &files_[found->second];
}

int PreviousRelease::HighestVersion(const std::string& path) const {
  auto found = highestFolded_.find(path);
  return found == highestFolded_.end() ? 0 : found->second;
}

void PreviousRelease::Remember(const std::string& path, int version) {
  int& highest = highestFolded_[path];
  highest = std::max(highest, version);
}
