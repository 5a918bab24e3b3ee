#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The document model: every scalar is text; two containers, a keyed list and a sorted map.
// Documents take no locks: one thread at a time builds, reads and destroys a document.

enum JsonKind : int {
  kJsonNone = 0,  // never a value; the reader's empty state stack
  kJsonArray = 1,
  kJsonObject = 2,
  kJsonString = 3,
};

class JsonArray;
class JsonObject;
class JsonValue;
struct JsonPair;

// A JsonArray's members in order: key and owned value.
using JsonArrayMembers = std::vector<std::pair<std::string, std::unique_ptr<JsonValue>>>;
// A JsonObject's members in key order, one per key.
using JsonObjectMembers = std::vector<std::pair<std::string, std::unique_ptr<JsonValue>>>;

// Base of every value. Owned by exactly one container, or by whoever made the root.
class JsonValue {
 public:
  virtual ~JsonValue() = default;
  // Appends this value as text to out. A container at depth 0 is a root: its members are written
  // without enclosing brackets, as the reader expects. Keys and values are always quoted, so that
  // parsing the text gives back this very document. Pretty breaks lines and indents.
  virtual void write(std::string& out, bool pretty, int depth) const = 0;
  virtual int kind() const = 0;
  // Deep copy; the caller owns it.
  virtual std::unique_ptr<JsonValue> clone() const = 0;
};

// One text value; any bytes, NUL included.
class JsonString : public JsonValue {
 public:
  explicit JsonString(std::string value) : text(std::move(value)) {}
  void write(std::string& out, bool pretty, int depth) const override;
  int kind() const override { return kJsonString; }
  std::unique_ptr<JsonValue> clone() const override;

  std::string text;
};

// What the reader and the pair form of add see of both containers.
class JsonContainer : public JsonValue {
 public:
  // Stores a member; the container takes ownership of value.
  virtual void add(const std::string& key, std::unique_ptr<JsonValue> value) = 0;
  // Removes the first member (in iteration order) holding this very object and hands it back;
  // null when no member holds it.
  virtual std::unique_ptr<JsonValue> detach(const JsonValue* value) = 0;
  virtual void clear() = 0;
  virtual int size() const = 0;
  // True without members; cheaper than size() for a container being filled.
  virtual bool empty() const { return size() == 0; }

  // Adds the pair's member (nothing when the pair was already taken); returns *this so calls chain.
  JsonContainer& add(JsonPair& pair);
  JsonContainer& add(JsonPair&& pair) { return add(pair); }

  // Fills this container (the root) from text in the reader's dialect. With merge false the
  // container is cleared first. On failure returns false and, when asked, the reader's line and
  // column and the offset of the byte it stopped at (the text's size when it ended too soon);
  // members completed before the failure stay.
  bool parse(const std::string& text, bool merge, int* line = nullptr, int* column = nullptr,
             size_t* offset = nullptr);

 protected:
  // Moves every member's value into out and removes all members.
  virtual void moveValuesTo(std::vector<std::unique_ptr<JsonValue>>& out) = 0;
  // Destroys values one level at a time, so that no nesting depth can exhaust the stack.
  static void destroyAll(std::vector<std::unique_ptr<JsonValue>>& values);
};

// One member of a JsonArray as the cursor yields it; the value stays owned by the array.
struct JsonMember {
  const std::string& key;
  JsonValue* value;
};

// Iteration over a JsonArray's members in order.
class JsonCursor {
 public:
  using Position = JsonArrayMembers::const_iterator;
  JsonCursor(Position first, Position last) : first_(first), current_(first), last_(last) {}
  bool hasNext() const { return current_ != last_; }
  JsonMember next();

 private:
  Position first_;
  Position current_;
  Position last_;
};

// Members in insertion order; a key may occur many times.
class JsonArray : public JsonContainer {
 public:
  JsonArray() = default;
  ~JsonArray() override;
  JsonArray(const JsonArray&) = delete;
  JsonArray& operator=(const JsonArray&) = delete;

  void write(std::string& out, bool pretty, int depth) const override;
  int kind() const override { return kJsonArray; }
  std::unique_ptr<JsonValue> clone() const override;
  using JsonContainer::add;
  void add(const std::string& key, std::unique_ptr<JsonValue> value) override;
  std::unique_ptr<JsonValue> detach(const JsonValue* value) override;
  void clear() override;
  int size() const override;

  JsonCursor members() const { return JsonCursor(members_.begin(), members_.end()); }
  // Members in order, for writers and tests.
  const JsonArrayMembers& memberList() const { return members_; }

 protected:
  void moveValuesTo(std::vector<std::unique_ptr<JsonValue>>& out) override;

 private:
  JsonArrayMembers members_;
};

// Members sorted by key (byte-wise, unsigned); one member per key.
class JsonObject : public JsonContainer {
 public:
  JsonObject() = default;
  ~JsonObject() override;
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  void write(std::string& out, bool pretty, int depth) const override;
  int kind() const override { return kJsonObject; }
  std::unique_ptr<JsonValue> clone() const override;
  using JsonContainer::add;
  // Replaces (and destroys) the value of an existing key.
  void add(const std::string& key, std::unique_ptr<JsonValue> value) override;
  std::unique_ptr<JsonValue> detach(const JsonValue* value) override;
  void clear() override;
  int size() const override;
  bool empty() const override { return members_.empty(); }

  // The member's value of any kind, or null.
  JsonValue* find(const std::string& key) const;
  // The member's text when it is a JsonString; null otherwise. Valid until the member changes.
  const std::string* getString(const std::string& key) const;
  // getString, then out = the text read as atoi reads it; false (out untouched) without text.
  bool getInt(const std::string& key, int& out) const;

  // Members in key order, for writers and tests.
  const JsonObjectMembers& memberMap() const {
    Sort();
    return members_;
  }

 protected:
  void moveValuesTo(std::vector<std::unique_ptr<JsonValue>>& out) override;

 private:
  // Puts members that were added out of order in key order and keeps, of each key, the value
  // added last. Const because readers call it; a document has one user at a time.
  void Sort() const {
    if (unsorted_) {
      SortMembers();
    }
  }
  void SortMembers() const;
  const JsonObjectMembers::value_type* Find(const std::string& key) const;

  // A flat vector: the small objects of a manifest cost one block instead of a node per member.
  // Members added in key order are appended; a small object takes an out-of-order key in place,
  // a large one appends it and sorts once it is read, so no order of keys costs quadratic time.
  mutable JsonObjectMembers members_;
  mutable bool unsorted_ = false;
};

// Null-safe downcasts.
JsonArray* asArray(JsonValue* value);
JsonObject* asObject(JsonValue* value);
const JsonArray* asArray(const JsonValue* value);
const JsonObject* asObject(const JsonValue* value);

// A member being built: a key and either a text not yet made into a value or a held value.
struct JsonPair {
  enum Tag : int { kTaken = 0, kText = 1, kValue = 2 };

  JsonPair(const char* name, int n);
  JsonPair(const char* name, long n);
  JsonPair(const char* name, long long n);
  JsonPair(const char* name, unsigned long n);
  JsonPair(const char* name, unsigned long long n);
  JsonPair(const char* name, const char* text);
  JsonPair(const char* name, std::unique_ptr<JsonValue> value);

  // The member's value, owned by the caller; the pair is taken afterwards.
  std::unique_ptr<JsonValue> take();

  const char* name;  // not copied: must outlive the add
  const char* text = nullptr;
  std::unique_ptr<JsonValue> value;
  int tag = kTaken;
};

// Reads a decimal number as atoi does: leading blanks, an optional sign, digits up to the first
// other byte; no digits give 0. Out-of-range values saturate instead of overflowing.
int AsciiToInt(const std::string& text);
int64_t AsciiToInt64(const std::string& text);
