#include "scratch_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "json/json_value.h"

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "publish-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr)
    throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteTestFile(const std::string& path, const std::string& content, mode_t mode) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  ASSERT_TRUE(out) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

std::string ReadTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool PathExists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

std::map<std::string, ListedFile> ReadManifest(const std::string& path, std::string* date,
                                               std::string* keys) {
  std::map<std::string, ListedFile> files;
  JsonObject document;
  EXPECT_TRUE(document.parse(ReadTestFile(path), false)) << path;
  if (date != nullptr) {
    const JsonObject* head = asObject(document.find("head"));
    const std::string* text = head != nullptr ? head->getString("date") : nullptr;
    *date = text != nullptr ? *text : "";
  }
  const JsonArray* paths = asArray(document.find("paths"));
  EXPECT_NE(paths, nullptr) << path;
  if (paths == nullptr)
    return files;
  for (JsonCursor folders = paths->members(); folders.hasNext();) {
    JsonMember folder = folders.next();
    if (keys != nullptr)
      *keys += "[" + folder.key + "]";
    const JsonArray* list = asArray(folder.value);
    if (list == nullptr)
      continue;
    for (JsonCursor cursor = list->members(); cursor.hasNext();) {
      JsonMember member = cursor.next();
      const JsonObject* object = asObject(member.value);
      if (object == nullptr)
        continue;
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
