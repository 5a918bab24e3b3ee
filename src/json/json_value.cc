#include "json/json_value.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <utility>

#include "json/json_reader.h"

namespace {

// Inside double quotes the reader takes every byte as it is except the quote and the backslash,
// so a backslash before those two is all the quoting any text needs.
void WriteQuoted(std::string& out, const std::string& text) {
  out += '"';
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"' || text[i] == '\\') {
      out.append(text, start, i - start);
      out += '\\';
      start = i;
    }
  }
  out.append(text, start, std::string::npos);
  out += '"';
}

// Keys and values are always quoted: a bare empty member would vanish before a closing bracket.
// Pretty output breaks the line before each member and closes brackets right after the last one,
// since blanks before a closing bracket would join an empty value.
template <typename Members>
void WriteMembers(std::string& out, const Members& members, char open, char close, bool pretty,
                  int depth) {
  const bool root = depth <= 0;
  if (!root) {
    out += open;
  }
  bool first = true;
  for (const auto& member : members) {
    if (!first) {
      out += ',';
    }
    if (pretty && !(root && first)) {
      out += '\n';
      out.append(static_cast<size_t>(root ? 0 : depth) * 2, ' ');
    }
    first = false;
    WriteQuoted(out, member.first);
    out += ':';
    if (member.second) {
      member.second->write(out, pretty, (root ? 0 : depth) + 1);
    } else {
      out += "\"\"";
    }
  }
  if (!root) {
    out += close;
  } else if (pretty) {
    out += '\n';
  }
}

// Members of a JsonObject are ordered by their keys, byte by byte (unsigned).
struct KeyBefore {
  bool operator()(const JsonObjectMembers::value_type& member, const std::string& key) const {
    return member.first < key;
  }
};

// Room reserved when an object gets its first member: a manifest's file objects hold 3 or 4.
constexpr size_t kSmallObject = 4;

template <typename Container, typename Members>
std::unique_ptr<JsonValue> CloneMembers(const Members& members) {
  auto copy = std::make_unique<Container>();
  for (const auto& member : members) {
    copy->add(member.first, member.second ? member.second->clone() : nullptr);
  }
  return copy;
}

template <typename Int>
Int AsciiToSigned(const std::string& text) {
  const char* p = text.c_str();
  const char* end = p + text.size();
  while (p != end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) {
    ++p;
  }
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Accumulate towards the sign's side so that the most negative value fits.
  const Int limit = negative ? std::numeric_limits<Int>::min() : std::numeric_limits<Int>::max();
  Int value = 0;
  for (; p != end && *p >= '0' && *p <= '9'; ++p) {
    const int digit = *p - '0';
    if (negative) {
      if (value < (limit + digit) / 10) {
        return limit;
      }
      value = value * 10 - digit;
    } else {
      if (value > (limit - digit) / 10) {
        return limit;
      }
      value = value * 10 + digit;
    }
  }
  return value;
}

// Takes the first member holding this very value out of members; null when none does.
template <typename Members>
std::unique_ptr<JsonValue> DetachMember(Members& members, const JsonValue* value) {
  for (auto it = members.begin(); it != members.end(); ++it) {
    if (it->second.get() == value && value != nullptr) {
      std::unique_ptr<JsonValue> held = std::move(it->second);
      members.erase(it);
      return held;
    }
  }
  return nullptr;
}

}  // namespace

void JsonString::write(std::string& out, bool, int) const {
  WriteQuoted(out, text);
}

std::unique_ptr<JsonValue> JsonString::clone() const {
  return std::make_unique<JsonString>(text);
}

JsonContainer& JsonContainer::add(JsonPair& pair) {
  std::unique_ptr<JsonValue> value = pair.take();
  if (value) {
    add(std::string(pair.name ? pair.name : ""), std::move(value));
  }
  return *this;
}

bool JsonContainer::parse(const std::string& text, bool merge, int* line, int* column,
                          size_t* offset) {
  return JsonReaderRegistry::instance().current()->parse(*this, text, merge, line, column, offset);
}

void JsonContainer::destroyAll(std::vector<std::unique_ptr<JsonValue>>& values) {
  while (!values.empty()) {
    std::unique_ptr<JsonValue> value = std::move(values.back());
    values.pop_back();
    if (value && (value->kind() == kJsonArray || value->kind() == kJsonObject)) {
      static_cast<JsonContainer*>(value.get())->moveValuesTo(values);
    }
  }
}

JsonMember JsonCursor::next() {
  const auto& member = *current_;
  ++current_;
  return JsonMember{member.first, member.second.get()};
}

JsonArray::~JsonArray() {
  clear();
}

void JsonArray::write(std::string& out, bool pretty, int depth) const {
  WriteMembers(out, members_, '[', ']', pretty, depth);
}

std::unique_ptr<JsonValue> JsonArray::clone() const {
  return CloneMembers<JsonArray>(members_);
}

void JsonArray::add(const std::string& key, std::unique_ptr<JsonValue> value) {
  members_.emplace_back(key, std::move(value));
}

std::unique_ptr<JsonValue> JsonArray::detach(const JsonValue* value) {
  return DetachMember(members_, value);
}

void JsonArray::clear() {
  std::vector<std::unique_ptr<JsonValue>> values;
  moveValuesTo(values);
  destroyAll(values);
}

int JsonArray::size() const {
  return static_cast<int>(members_.size());
}

void JsonArray::moveValuesTo(std::vector<std::unique_ptr<JsonValue>>& out) {
  for (auto& member : members_) {
    if (member.second) {
      out.push_back(std::move(member.second));
    }
  }
  members_.clear();
}

JsonObject::~JsonObject() {
  clear();
}

void JsonObject::write(std::string& out, bool pretty, int depth) const {
  Sort();
  WriteMembers(out, members_, '{', '}', pretty, depth);
}

std::unique_ptr<JsonValue> JsonObject::clone() const {
  Sort();
  return CloneMembers<JsonObject>(members_);
}

void JsonObject::add(const std::string& key, std::unique_ptr<JsonValue> value) {
  if (!unsorted_ && (members_.empty() || members_.back().first < key)) {
    if (members_.empty()) {
      members_.reserve(kSmallObject);
    }
    members_.emplace_back(key, std::move(value));
    return;
  }
  if (unsorted_ || members_.size() > kSmallObject * 8) {
    members_.emplace_back(key, std::move(value));
    unsorted_ = true;
    return;
  }
  auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyBefore());
  if (it != members_.end() && it->first == key) {
    std::vector<std::unique_ptr<JsonValue>> values;
    values.push_back(std::move(it->second));
    it->second = std::move(value);
    destroyAll(values);
  } else {
    members_.emplace(it, key, std::move(value));
  }
}

void JsonObject::SortMembers() const {
  std::stable_sort(members_.begin(), members_.end(),
                   [](const JsonObjectMembers::value_type& a,
                      const JsonObjectMembers::value_type& b) { return a.first < b.first; });
  // Of equal keys, stable sorting leaves the one added last at the end of its run.
  std::vector<std::unique_ptr<JsonValue>> replaced;
  auto out = members_.begin();
  for (auto it = members_.begin(); it != members_.end(); ++it) {
    auto next = it + 1;
    if (next != members_.end() && next->first == it->first) {
      replaced.push_back(std::move(it->second));
      continue;
    }
    if (out != it) {
      *out = std::move(*it);
    }
    ++out;
  }
  members_.erase(out, members_.end());
  unsorted_ = false;
  destroyAll(replaced);
}

const JsonObjectMembers::value_type* JsonObject::Find(const std::string& key) const {
  Sort();
  auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyBefore());
  return it != members_.end() && it->first == key ? &*it : nullptr;
}

std::unique_ptr<JsonValue> JsonObject::detach(const JsonValue* value) {
  Sort();
  return DetachMember(members_, value);
}

void JsonObject::clear() {
  std::vector<std::unique_ptr<JsonValue>> values;
  moveValuesTo(values);
  destroyAll(values);
}

int JsonObject::size() const {
  Sort();
  return static_cast<int>(members_.size());
}

void JsonObject::moveValuesTo(std::vector<std::unique_ptr<JsonValue>>& out) {
  for (auto& member : members_) {
    if (member.second) {
      out.push_back(std::move(member.second));
    }
  }
  members_.clear();
  unsorted_ = false;
}

JsonValue* JsonObject::find(const std::string& key) const {
  const auto* member = Find(key);
  return member == nullptr ? nullptr : member->second.get();
}

const std::string* JsonObject::getString(const std::string& key) const {
  const JsonValue* value = find(key);
  if (value == nullptr || value->kind() != kJsonString) {
    return nullptr;
  }
  return &static_cast<const JsonString*>(value)->text;
}

bool JsonObject::getInt(const std::string& key, int& out) const {
  const std::string* text = getString(key);
  if (text == nullptr) {
    return false;
  }
  out = AsciiToInt(*text);
  return true;
}

JsonArray* asArray(JsonValue* value) {
  return value != nullptr && value->kind() == kJsonArray ? static_cast<JsonArray*>(value) : nullptr;
}

JsonObject* asObject(JsonValue* value) {
  return value != nullptr && value->kind() == kJsonObject ? static_cast<JsonObject*>(value)
                                                          : nullptr;
}

const JsonArray* asArray(const JsonValue* value) {
  return asArray(const_cast<JsonValue*>(value));
}

const JsonObject* asObject(const JsonValue* value) {
  return asObject(const_cast<JsonValue*>(value));
}

JsonPair::JsonPair(const char* name, int n)
    : name(name), value(std::make_unique<JsonString>(std::to_string(n))), tag(kValue) {}
JsonPair::JsonPair(const char* name, long n)
    : name(name), value(std::make_unique<JsonString>(std::to_string(n))), tag(kValue) {}
JsonPair::JsonPair(const char* name, long long n)
    : name(name), value(std::make_unique<JsonString>(std::to_string(n))), tag(kValue) {}
JsonPair::JsonPair(const char* name, unsigned long n)
    : name(name), value(std::make_unique<JsonString>(std::to_string(n))), tag(kValue) {}
JsonPair::JsonPair(const char* name, unsigned long long n)
    : name(name), value(std::make_unique<JsonString>(std::to_string(n))), tag(kValue) {}
JsonPair::JsonPair(const char* name, const char* text) : name(name), text(text), tag(kText) {}
JsonPair::JsonPair(const char* name, std::unique_ptr<JsonValue> value)
    : name(name), value(std::move(value)), tag(kValue) {}

std::unique_ptr<JsonValue> JsonPair::take() {
  std::unique_ptr<JsonValue> result;
  if (tag == kText) {
    result = std::make_unique<JsonString>(text ? text : "");
  } else if (tag == kValue) {
    result = std::move(value);
  }
  tag = kTaken;
  return result;
}

int AsciiToInt(const std::string& text) {
  return AsciiToSigned<int>(text);
}

int64_t AsciiToInt64(const std::string& text) {
  return AsciiToSigned<int64_t>(text);
}
