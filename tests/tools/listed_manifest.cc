#include "listed_manifest.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include "json/json_value.h"
#include "support/temp_dir.h"

std::map<std::string, ListedFile> ReadManifest(const std::string& path, std::string* date,
                                               std::string* keys) {
  std::map<std::string, ListedFile> files;
  JsonObject document;
  EXPECT_TRUE(document.parse(ReadFileBytes(path), false)) << path;
  if (date != nullptr) {
    const JsonObject* head = asObject(document.find("head"));
    const std::string* text = head != nullptr ? head->getString("date") : nullptr;
    *date = text != nullptr ? *text : "";
  }
  const JsonArray* paths = asArray(document.find("paths"));
  EXPECT_NE(paths, nullptr) << path;
  if (paths == nullptr) {
    return files;
  }
  for (JsonCursor folders = paths->members(); folders.hasNext();) {
    JsonMember folder = folders.next();
    if (keys != nullptr) {
      *keys += "[" + folder.key + "]";
    }
    const JsonArray* list = asArray(folder.value);
    if (list == nullptr) {
      continue;
    }
    for (JsonCursor cursor = list->members(); cursor.hasNext();) {
      JsonMember member = cursor.next();
      const JsonObject* object = asObject(member.value);
      if (object == nullptr) {
        continue;
      }
      auto text = [object](const char* key) {
        const std::string* value = object->getString(key);
        return value != nullptr ? *value : std::string();
      };
      std::string name = folder.key.empty() ? member.key : folder.key + "/" + member.key;
      ListedFile& file = files[name];
      file = ListedFile{text("l"), text("v"), text("d"), text("x"), text("h"), text("z"), {}};
      if (const JsonArray* patches = asArray(object->find("p"))) {
        for (JsonCursor patch = patches->members(); patch.hasNext();) {
          JsonMember member = patch.next();
          const JsonString* length = member.value != nullptr && member.value->kind() == kJsonString
                                         ? static_cast<const JsonString*>(member.value)
                                         : nullptr;
          file.p.emplace_back(member.key, length != nullptr ? length->text : "");
        }
      }
    }
  }
  return files;
}

std::string Unzstd(const std::string& frame, const std::string& reference) {
  const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) {
    return "(not a frame)";
  }
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, 31);
  ZSTD_DCtx_refPrefix(context, reference.data(), reference.size());
  std::string content(size, '\0');
  size_t got =
      ZSTD_decompressDCtx(context, content.data(), content.size(), frame.data(), frame.size());
  ZSTD_freeDCtx(context);
  return ZSTD_isError(got) || got != size ? "(not a frame)" : content;
}
