#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "json/json_value.h"
#include "json_test_text.h"

using namespace std::string_literals;

namespace {

bool Equal(const JsonValue* a, const JsonValue* b);

template <typename Members>
bool EqualMembers(const Members& a, const Members& b) {
  if (a.size() != b.size()) {
    return false;
  }
  auto it = b.begin();
  for (const auto& member : a) {
    if (member.first != it->first || !Equal(member.second.get(), it->second.get())) {
      return false;
    }
    ++it;
  }
  return true;
}

bool Equal(const JsonValue* a, const JsonValue* b) {
  if (a == nullptr || b == nullptr || a->kind() != b->kind()) {
    return false;
  }
  if (const JsonArray* array = asArray(a)) {
    return EqualMembers(array->memberList(), asArray(b)->memberList());
  }
  if (const JsonObject* object = asObject(a)) {
    return EqualMembers(object->memberMap(), asObject(b)->memberMap());
  }
  return static_cast<const JsonString*>(a)->text == static_cast<const JsonString*>(b)->text;
}

// Writes root and reads the text back into a fresh root of the same kind.
void ExpectRoundTrip(const JsonContainer& root, bool pretty) {
  std::string text;
  root.write(text, pretty, 0);
  std::unique_ptr<JsonContainer> back;
  if (root.kind() == kJsonArray) {
    back = std::make_unique<JsonArray>();
  } else {
    back = std::make_unique<JsonObject>();
  }
  int line = 0;
  int column = 0;
  const bool ok = back->parse(text, false, &line, &column);
  // Only the empty text fails, and it reads as the empty document it came from.
  EXPECT_TRUE(ok || (text.empty() && root.size() == 0))
      << "line " << line << " column " << column << " of:\n"
      << text;
  EXPECT_TRUE(Equal(&root, back.get())) << "wrote:\n" << text << "\nread back:\n" << Text(*back);
}

TEST(JsonWrite, ManifestLooksLikeWhatServersPublish) {
  JsonObject manifest;
  ASSERT_TRUE(manifest.parse(
      "\"paths\":[\n\"\":[\"Lodestar._exe\":{\"l\":\"900\",\"v\":\"12\"}],\n"
      "\"plugins/net\":[\"net.dll\":{\"l\":\"640\",\"v\":\"3\"},\"readme.txt\":{\"l\":\"512\","
      "\"v\":\"1\"}]]",
      false));
  std::string text;
  manifest.write(text, false, 0);
  EXPECT_EQ(text, R"("paths":["":["Lodestar._exe":{"l":"900","v":"12"}],"plugins/net":["net.dll":)"
                  R"({"l":"640","v":"3"},"readme.txt":{"l":"512","v":"1"}]])");
  text.clear();
  manifest.write(text, true, 0);
  EXPECT_EQ(text,
            "\"paths\":[\n"
            "  \"\":[\n"
            "    \"Lodestar._exe\":{\n"
            "      \"l\":\"900\",\n"
            "      \"v\":\"12\"}],\n"
            "  \"plugins/net\":[\n"
            "    \"net.dll\":{\n"
            "      \"l\":\"640\",\n"
            "      \"v\":\"3\"},\n"
            "    \"readme.txt\":{\n"
            "      \"l\":\"512\",\n"
            "      \"v\":\"1\"}]]\n");
}

TEST(JsonWrite, EveryByteAndEveryEmptyPositionReadsBack) {
  const std::string hard[] = {"",
                              " ",
                              "\t",
                              " x\t",
                              "\"",
                              "'",
                              "\\",
                              "\\\"",
                              ":",
                              ",",
                              "[",
                              "]",
                              "{",
                              "}",
                              "\r\n",
                              "\n",
                              "\0"s,
                              "a\0b"s,
                              "\x80\xff\xe4\xb8\xad",
                              "k:v,",
                              "\\n",
                              "  'q' \"q\"  "};
  JsonObject object;
  JsonArray array;
  auto nested = std::make_unique<JsonArray>();
  for (const std::string& key : hard) {
    for (const std::string& value : hard) {
      object.add(key + "|" + value, std::make_unique<JsonString>(value));
      array.add(key, std::make_unique<JsonString>(value));
    }
    nested->add(key, std::make_unique<JsonObject>());
    nested->add(key, std::make_unique<JsonArray>());
  }
  object.add("", std::move(nested));
  for (bool pretty : {false, true}) {
    ExpectRoundTrip(object, pretty);
    ExpectRoundTrip(array, pretty);
  }

  // Lone empty members, where a bare writing would vanish before the closing bracket.
  JsonArray lone;
  lone.add("", std::make_unique<JsonString>(""));
  auto inner = std::make_unique<JsonArray>();
  inner->add("", std::make_unique<JsonString>(""));
  lone.add("", std::move(inner));
  for (bool pretty : {false, true}) {
    ExpectRoundTrip(lone, pretty);
    ExpectRoundTrip(JsonObject(), pretty);
  }
}

// Random documents over an alphabet heavy in the bytes the dialect treats specially.
class DocumentMaker {
 public:
  explicit DocumentMaker(unsigned seed) : random_(seed) {}

  std::string text() {
    static const char kAlphabet[] =
        " \t\r\n\"'\\:,[]{}\0\x80\xff"
        "ab";
    std::string out;
    for (int n = pick(5); n > 0; --n) {
      out += kAlphabet[pick(sizeof kAlphabet - 1)];
    }
    return out;
  }

  void fill(JsonContainer& container, int depth) {
    for (int n = pick(6); n > 0; --n) {
      const int what = depth >= 4 ? 0 : pick(4);
      std::unique_ptr<JsonValue> value;
      if (what < 2) {
        value = std::make_unique<JsonString>(text());
      } else {
        std::unique_ptr<JsonContainer> child;
        if (what == 2) {
          child = std::make_unique<JsonArray>();
        } else {
          child = std::make_unique<JsonObject>();
        }
        fill(*child, depth + 1);
        value = std::move(child);
      }
      // Few distinct keys, so arrays carry duplicates and objects replace.
      container.add(pick(3) == 0 ? text() : std::string(1, "xy"[pick(2)]), std::move(value));
    }
  }

 private:
  int pick(size_t below) { return static_cast<int>(random_() % below); }
  std::mt19937 random_;
};

TEST(JsonWrite, RandomDocumentsReadBack) {
  DocumentMaker maker(20240607);
  for (int i = 0; i < 1500; ++i) {
    std::unique_ptr<JsonContainer> root;
    if (i % 3 == 0) {
      root = std::make_unique<JsonArray>();
    } else {
      root = std::make_unique<JsonObject>();
    }
    maker.fill(*root, 0);
    ExpectRoundTrip(*root, i % 2 == 0);
    if (HasFailure()) {
      break;
    }
  }
}

}  // namespace
