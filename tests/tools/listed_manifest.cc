#include "listed_manifest.h"

#include <gtest/gtest.h>

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
      files[name] = ListedFile{text("l"), text("v"), text("d"), text("x"), text("h")};
    }
  }
  return files;
}
