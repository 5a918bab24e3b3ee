#include "publish/previous_release.h"

#include <algorithm>

#include "catalogue/file_catalogue.h"
#include "json/json_value.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"
#include "publish/release_tree.h"

PreviousRelease PreviousRelease::Read(const std::string& manifestPath) {
  PreviousRelease release;
  std::string text;
  if (!ReadFileIfPresent(manifestPath, text)) {
    return release;
  }

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
        release.files_.push_back(
            PublishedFile{folder.key, member.key, version, length, executable == 1});
      }
      release.Remember(path, version);
    }
  }
  if (const JsonObject* head = asObject(document.find("head"))) {
    if (const JsonArray* retired = asArray(head->find("retired"))) {
      for (JsonCursor cursor = retired->members(); cursor.hasNext();) {
        JsonMember member = cursor.next();
        const JsonString* text = member.value != nullptr && member.value->kind() == kJsonString
                                     ? static_cast<const JsonString*>(member.value)
                                     : nullptr;
        int version = text != nullptr ? AsciiToInt(text->text) : 0;
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
