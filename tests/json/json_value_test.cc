#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "json/json_value.h"
#include "json_test_text.h"

using namespace std::string_literals;

namespace {

// A text value that counts its destructions.
struct CountedString : JsonString {
  CountedString(const char* text, int& destroyed) : JsonString(text), destroyed(destroyed) {}
  ~CountedString() override { ++destroyed; }
  int& destroyed;
};

TEST(JsonValueLookup, GetStringAndGetIntReadOnlyTextMembers) {
  JsonObject doc;
  ASSERT_TRUE(
      doc.parse("a:12abc,b: 7,c:abc,list:[x:1],obj:{y:2},big:99999999999,"
                "small:-99999999999,nul:\"4\\\0\""s,
                false));
  int out = -1;
  EXPECT_EQ(doc.getString("list"), nullptr);
  EXPECT_FALSE(doc.getInt("obj", out));
  EXPECT_FALSE(doc.getInt("missing", out));
  EXPECT_EQ(out, -1) << "a failed getInt leaves out alone";
  ASSERT_NE(doc.find("list"), nullptr);
  EXPECT_NE(asArray(doc.find("list")), nullptr);
  EXPECT_EQ(asObject(doc.find("list")), nullptr);
  EXPECT_EQ(asArray(static_cast<JsonValue*>(nullptr)), nullptr);

  const std::pair<const char*, int> numbers[] = {{"a", 12},        {"b", 7},           {"c", 0},
                                                 {"big", INT_MAX}, {"small", INT_MIN}, {"nul", 4}};
  for (const auto& [key, expected] : numbers) {
    EXPECT_TRUE(doc.getInt(key, out)) << key;
    EXPECT_EQ(out, expected) << key;
  }
  EXPECT_EQ(AsciiToInt64("\t-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(AsciiToInt64("+92233720368547758070"), INT64_MAX);
  EXPECT_EQ(AsciiToInt64("133456789012345678"), 133456789012345678);
  EXPECT_EQ(AsciiToInt("- 5"), 0);
}

TEST(JsonValueOwnership, ObjectReplacesAndDestroysArrayKeepsBoth) {
  int destroyed = 0;
  JsonObject object;
  object.add("k", std::make_unique<CountedString>("first", destroyed));
  object.add("k", std::make_unique<CountedString>("second", destroyed));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(object.size(), 1);
  EXPECT_EQ(*object.getString("k"), "second");

  JsonArray array;
  array.add("k", std::make_unique<CountedString>("first", destroyed));
  array.add("k", std::make_unique<CountedString>("second", destroyed));
  EXPECT_EQ(Text(array), R"("k":"first","k":"second")");
  array.clear();
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(array.size(), 0);
  object.clear();
  EXPECT_EQ(destroyed, 4);
}

TEST(JsonValueOwnership, ObjectIteratesInByteOrder) {
  JsonObject object;
  for (const char* key : {"ab", "\xff", "a", "B", ""}) {
    object.add(JsonPair(key, 1));
  }
  EXPECT_EQ(Text(object), "\"\":\"1\",\"B\":\"1\",\"a\":\"1\",\"ab\":\"1\",\"\xff\":\"1\"");
}

// Objects of any size and any key order end up in byte order with the value added last for each
// key; the replaced values are destroyed, none twice.
TEST(JsonValueOwnership, LargeObjectsInAnyOrderKeepTheLastValuePerKey) {
  int destroyed = 0;
  JsonObject object;
  constexpr int kKeys = 20000;
  auto key = [](int i) {
    std::string text = std::to_string(i);
    return std::string(6 - text.size(), '0') + text;
  };
  for (int i = kKeys; i-- > 0;) {
    object.add(key(i), std::make_unique<CountedString>("old", destroyed));
  }
  for (int i = 0; i < kKeys; i += 2) {
    object.add(key(i), std::make_unique<CountedString>("new", destroyed));
  }
  EXPECT_EQ(object.size(), kKeys);
  EXPECT_EQ(destroyed, kKeys / 2);
  const JsonObjectMembers& members = object.memberMap();
  ASSERT_EQ(members.size(), static_cast<size_t>(kKeys));
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(members[i].first, key(i));
    ASSERT_EQ(static_cast<const JsonString*>(members[i].second.get())->text,
              i % 2 == 0 ? "new" : "old");
  }
  // Out of order again after reading, then a lookup: still one member per key.
  object.add(key(5), std::make_unique<CountedString>("newest", destroyed));
  object.add("", std::make_unique<CountedString>("first", destroyed));
  EXPECT_EQ(*object.getString(key(5)), "newest");
  EXPECT_EQ(object.size(), kKeys + 1);
  EXPECT_EQ(object.memberMap().front().first, "");
  object.clear();
  EXPECT_EQ(destroyed, kKeys + kKeys / 2 + 2);

  // The reader fills a document whose keys run backwards just as well.
  std::string text;
  for (int i = kKeys; i-- > 0;) {
    text += key(i) + ":" + std::to_string(i) + (i > 0 ? "," : "");
  }
  JsonObject document;
  ASSERT_TRUE(document.parse(text, false));
  EXPECT_EQ(document.size(), kKeys);
  int value = -1;
  EXPECT_TRUE(document.getInt(key(1234), value));
  EXPECT_EQ(value, 1234);
}

TEST(JsonValueOwnership, DetachHandsBackTheFirstHolderOnly) {
  JsonArray array;
  auto owned = std::make_unique<JsonString>("v");
  JsonValue* value = owned.get();
  array.add("a", std::make_unique<JsonString>("v"));
  array.add("b", std::move(owned));
  JsonString stranger("v");
  EXPECT_EQ(array.detach(&stranger), nullptr);
  EXPECT_EQ(array.size(), 2) << "contents are not compared, pointers are";

  std::unique_ptr<JsonValue> back = array.detach(value);
  ASSERT_EQ(back.get(), value);
  EXPECT_EQ(array.size(), 1);
  EXPECT_EQ(static_cast<JsonString*>(back.get())->text, "v");
  EXPECT_EQ(Text(array), R"("a":"v")");

  JsonObject object;
  object.add("x", std::move(back));
  back = object.detach(object.find("x"));
  EXPECT_EQ(back.get(), value);
  EXPECT_EQ(object.size(), 0);
}

TEST(JsonValueOwnership, CloneIsDeepAndKeepsOrderAndDuplicates) {
  JsonObject doc;
  ASSERT_TRUE(doc.parse("paths:[d:[f:{l:1,v:2},f:{l:3}],d:[]],s:\"x\\\0y\""s, false));
  std::unique_ptr<JsonValue> copy = doc.clone();
  ASSERT_NE(asObject(copy.get()), nullptr);
  EXPECT_EQ(Text(*copy), Text(doc));
  EXPECT_EQ(asObject(copy.get())->getString("s")->size(), 3u) << "a NUL does not cut the text";

  JsonArray* copiedPaths = asArray(asObject(copy.get())->find("paths"));
  ASSERT_NE(copiedPaths, nullptr);
  EXPECT_NE(copiedPaths, doc.find("paths"));
  copiedPaths->clear();
  doc.clear();
  EXPECT_EQ(Text(*copy), R"("paths":[],"s":"x)" + std::string(1, '\0') + "y\"");
}

TEST(JsonValueCursor, WalksMembersInOrder) {
  JsonArray empty;
  EXPECT_FALSE(empty.members().hasNext());

  JsonArray array;
  array.add(JsonPair("a", "1")).add(JsonPair("b", std::make_unique<JsonArray>()));
  JsonCursor cursor = array.members();
  ASSERT_TRUE(cursor.hasNext());
  JsonMember first = cursor.next();
  EXPECT_EQ(first.key, "a");
  EXPECT_EQ(first.value->kind(), kJsonString);
  ASSERT_TRUE(cursor.hasNext());
  EXPECT_EQ(cursor.next().value->kind(), kJsonArray);
  EXPECT_FALSE(cursor.hasNext());
}

TEST(JsonValuePair, MakesTextOnceAndOnlyOnce) {
  JsonObject object;
  object.add(JsonPair("zero", 0))
      .add(JsonPair("neg", -42))
      .add(JsonPair("i64", static_cast<int64_t>(INT64_MIN)))
      .add(JsonPair("u64", static_cast<uint64_t>(UINT64_MAX)))
      .add(JsonPair("text", "t"));
  EXPECT_EQ(Text(object),
            R"("i64":"-9223372036854775808","neg":"-42","text":"t","u64":"18446744073709551615",)"
            R"("zero":"0")");

  JsonPair pair("p", "v");
  object.add(pair);
  EXPECT_EQ(pair.tag, JsonPair::kTaken);
  object.add(pair);  // nothing left to add: the member stays as it was
  EXPECT_EQ(*object.getString("p"), "v");
  EXPECT_EQ(object.size(), 6);
}

}  // namespace
