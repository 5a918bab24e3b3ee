#include <memory>
#include <string>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "json/json_value.h"

namespace {

std::string Written(const JsonValue& value, bool pretty) {
  std::string out;
  value.write(out, pretty, 0);
  return out;
}

// What the writer makes of a parsed document must read back as the same document.
template <typename Root>
void CheckRoundTrip(const Root& root) {
  const std::string compact = Written(root, false);
  const std::string pretty = Written(root, true);
  for (const std::string* text : {&compact, &pretty}) {
    if (text->empty()) {
      FUZZ_CHECK(root.size() == 0);
      continue;
    }
    Root again;
    FUZZ_CHECK(again.parse(*text, false));
    FUZZ_CHECK(Written(again, false) == compact);
  }
}

// Parses text into a fresh root; checks the reported position of a failure.
template <typename Root>
bool ParseFresh(Root& root, const std::string& text) {
  int line = -1;
  int column = -1;
  size_t stoppedAt = text.size() + 1;
  const bool ok = root.parse(text, false, &line, &column, &stoppedAt);
  if (!ok) {
    FUZZ_CHECK(line >= 1);
    FUZZ_CHECK(column >= 0);
    FUZZ_CHECK(stoppedAt <= text.size());
  }
  return ok;
}

void FuzzObjectRoot(const std::string& text, const std::string& first, const std::string& second) {
  JsonObject whole;
  if (ParseFresh(whole, text)) {
    CheckRoundTrip(whole);
  }

  // A merge keeps the members of the first document that the second does not name, and takes
  // the second's value for every key it does name.
  JsonObject merged;
  ParseFresh(merged, first);
  const std::unique_ptr<JsonValue> copy = merged.clone();
  const JsonObject& before = *asObject(copy.get());
  const bool mergedOk = merged.parse(second, true);
  JsonObject alone;
  const bool aloneOk = !second.empty() && alone.parse(second, false);
  FUZZ_CHECK(mergedOk == aloneOk);
  if (aloneOk) {
    for (const auto& member : alone.memberMap()) {
      const JsonValue* value = merged.find(member.first);
      FUZZ_CHECK(value != nullptr);
      FUZZ_CHECK(Written(*value, false) == Written(*member.second, false));
    }
    for (const auto& member : before.memberMap()) {
      if (alone.find(member.first) == nullptr) {
        const JsonValue* value = merged.find(member.first);
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(Written(*value, false) == Written(*member.second, false));
      }
    }
  }
}

void FuzzArrayRoot(const std::string& text, const std::string& first, const std::string& second) {
  JsonArray whole;
  if (ParseFresh(whole, text)) {
    CheckRoundTrip(whole);
  }

  // A merge into an array appends.
  JsonArray merged;
  const bool firstOk = ParseFresh(merged, first);
  const int firstSize = merged.size();
  const bool mergedOk = merged.parse(second, true);
  JsonArray alone;
  const bool aloneOk = !second.empty() && alone.parse(second, false);
  FUZZ_CHECK(mergedOk == aloneOk);
  if (firstOk && aloneOk) {
    FUZZ_CHECK(merged.size() == firstSize + alone.size());
  }
}

}  // namespace

int FuzzJsonParse(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The input's first half is parsed first, its second half merged into it. The length's parity
  // picks the root: one byte more or less reaches the other, and each input is parsed half as
  // often as it would be under both.
  const std::string first = text.substr(0, size / 2);
  const std::string second = text.substr(size / 2);
  if (size % 2 == 0) {
    FuzzObjectRoot(text, first, second);
  } else {
    FuzzArrayRoot(text, first, second);
  }
  return 0;
}
