#include "publish/manifest_document.h"

#include <memory>

#include "json/json_value.h"

namespace {

std::unique_ptr<JsonValue> Text(const std::string& text) {
  return std::make_unique<JsonString>(text);
}

std::unique_ptr<JsonValue> FileObject(const ReleaseFile& file) {
  auto object = std::make_unique<JsonObject>();
  object->add("l", Text(std::to_string(file.length)));
  object->add("v", Text(std::to_string(file.version)));
  object->add("d", Text(std::to_string(file.fileTime)));
  if (!file.hash.empty()) {
    object->add("h", Text(file.hash));
  }
  if (file.executable) {
    object->add("x", Text("1"));
  }
  if (file.compressedLength >= 0) {
    object->add("z", Text(std::to_string(file.compressedLength)));
  }
  if (!file.patches.empty()) {
    auto patches = std::make_unique<JsonArray>();
    for (const auto& [source, length] : file.patches) {
      patches->add(source, Text(std::to_string(length)));
    }
    object->add("p", std::move(patches));
  }
  return object;
}

}  // namespace

std::string ManifestText(const ReleaseTree& release, const std::string& date,
                         const std::map<std::string, int>& retired, std::optional<int64_t> signedAt,
                         const std::string& earlier) {
  auto head = std::make_unique<JsonObject>();
  head->add("date", Text(date));
  if (!earlier.empty()) {
    head->add("earlier", Text(earlier));
  }
  if (!retired.empty()) {
    auto list = std::make_unique<JsonArray>();
    for (const auto& [path, version] : retired) {
      list->add(path, Text(std::to_string(version)));
    }
    head->add("retired", std::move(list));
  }
  if (signedAt) {
    head->add("timestamp", Text(std::to_string(*signedAt)));
  }

  auto paths = std::make_unique<JsonArray>();
  for (const ReleaseDirectory& directory : release.directories) {
    auto files = std::make_unique<JsonArray>();
    for (const ReleaseFile& file : directory.files) {
      files->add(file.name, FileObject(file));
    }
    paths->add(directory.key, std::move(files));
  }

  JsonObject root;
  root.add("head", std::move(head));
  root.add("paths", std::move(paths));
  std::string text;
  root.write(text, false, 0);
  text += '\n';
  return text;
}
