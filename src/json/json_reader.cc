#include "json/json_reader.h"

#include <utility>

namespace {

// A token buffer up to this size is kept for the thread's next parse (a large manifest reread
// is then spared a fresh allocation); a larger one is released.
constexpr size_t kKeptTokenBytes = 16 << 20;
constexpr size_t kKeptKeyBytes = 4096;

// Where the calling thread's reader lives. Plain data, so it stays usable even after the thread's
// exit hook has run (a parse from a static destructor at process exit).
struct ReaderSlot {
  JsonReader* reader = nullptr;
  bool exitHookArmed = false;
  bool exited = false;
};
thread_local ReaderSlot tSlot;

}  // namespace

// Gives the registry back the reader of a thread that ends, so ended threads leave nothing behind.
struct JsonReaderThreadExit {
  ~JsonReaderThreadExit() { JsonReaderRegistry::instance().release(); }
};

JsonReader::~JsonReader() {
  reset();
}

bool JsonReader::parse(JsonContainer& root, const std::string& text, bool merge, int* line,
                       int* column, size_t* offset) {
  // Whatever happens (a failure, or an allocation failure thrown), open containers are destroyed.
  struct ResetOnExit {
    JsonReader* reader;
    ~ResetOnExit() { reader->reset(); }
  } resetOnExit{this};

  reset();
  root_ = &root;
  if (!merge) {
    root.clear();
  }
  line_ = 1;
  column_ = 0;
  stoppedAt_ = 0;
  lineBreakInToken_ = false;
  const bool ok = !text.empty() && read(text);
  if (!ok) {
    if (offset != nullptr) {
      *offset = stoppedAt_;
    }
    if (line != nullptr) {
      *line = line_;
    }
    if (column != nullptr) {
      *column = column_;
    }
  }
  return ok;
}

bool JsonReader::read(const std::string& text) {
  // No token can outgrow the text, so appends need no bounds check.
  if (token_.size() < text.size()) {
    token_.resize(text.size());
  }
  tokenStart_ = &token_[0];
  endToken();
  const bool arrayRoot = root_->kind() == kJsonArray;
  states_.push_back(kNoState);
  states_.push_back(arrayRoot ? kInArray : kInObject);
  states_.push_back(kKey);
  containers_.push() = root_;
  rootReceived_ = false;

  const char* p = text.data();
  const char* const end = p + text.size();
  // The reader stops at the byte p points at.
  auto stop = [&] {
    stoppedAt_ = static_cast<size_t>(p - text.data());
    return false;
  };
  for (; p != end; ++p) {
    unsigned char state = states_.back();
    if (state == kSingleQuoted || state == kDoubleQuoted) {
      // Copy the run up to the closing quote or a backslash in one go; LFs in it are no line
      // breaks, so only the column moves.
      const char quote = state == kDoubleQuoted ? '"' : '\'';
      const char* run = p;
      char* out = cursor_;
      while (run != end) {
        const char c = *run;
        if (c == quote || c == '\\') {
          break;
        }
        *out++ = c;
        ++run;
      }
      cursor_ = out;
      column_ += static_cast<int>(run - p);
      p = run;
      if (p == end) {
        break;
      }
      ++column_;
      if (*p == quote) {
        states_.pop_back();
      } else {
        states_.push_back(kEscape);
      }
      continue;
    }
    const char ch = *p;
    ++column_;
    if (state == kEscape) {
      states_.pop_back();
      *cursor_++ = ch;
      continue;
    }
    // Outside quotes from here on.
    switch (ch) {
      case '"':
      case '\'':
        if (state == kValue || state == kKey) {
          states_.push_back(ch == '"' ? kDoubleQuoted : kSingleQuoted);
        } else {
          return stop();
        }
        break;
      case '\\':
        if (state == kValue || state == kKey) {
          states_.push_back(kEscape);
        } else {
          return stop();
        }
        break;
      case ',':
        if (state == kValue || state == kKey) {
          if (!finishToken(',')) {
            return stop();
          }
          states_.push_back(kKey);
        } else if (state == kAfterArray || state == kAfterObject) {
          // The token is not ended: bytes after the closing bracket start the next key.
          states_.back() = kKey;
        } else {
          return stop();
        }
        break;
      case ':':
        if (state == kKey) {
          keys_.push().assign(tokenStart_, tokenLength());
          endToken();
          states_.back() = kValue;
        } else {
          return stop();
        }
        break;
      case '[':
      case '{':
        if (state != kValue || !openContainer(ch)) {
          return stop();
        }
        break;
      case ']':
      case '}':
        if (!closeContainer(ch)) {
          return stop();
        }
        break;
      default:
        putChar(ch, state);
        break;
    }
  }

  // A text that ends too soon stops the reader at its end.
  stoppedAt_ = text.size();
  if (!finishToken(arrayRoot ? ']' : '}')) {
    return false;
  }
  return states_.back() == (arrayRoot ? kInArray : kInObject) && containers_.size() == 1;
}

bool JsonReader::finishToken(char delimiter) {
  switch (states_.back()) {
    case kAfterArray:
    case kAfterObject:
      // Bytes collected after a closing bracket are dropped.
      states_.pop_back();
      endToken();
      return true;
    case kValue: {
      states_.pop_back();
      auto value = std::make_unique<JsonString>(std::string(tokenStart_, tokenLength()));
      endToken();
      addToTop(keys_.top(), std::move(value));
      keys_.pop();
      return true;
    }
    case kKey: {
      states_.pop_back();
      JsonContainer* top = containers_.top();
      const bool hasMembers = top == root_ ? rootReceived_ : !top->empty();
      // This is how {}, [] and a blank document come out empty.
      const bool nothing = delimiter != ',' && tokenLength() == 0 && !hasMembers;
      if (!nothing) {
        std::string key(tokenStart_, tokenLength());
        endToken();
        addToTop(key, std::make_unique<JsonString>(std::string()));
      } else {
        endToken();
      }
      return true;
    }
    default:
      return false;
  }
}

void JsonReader::putChar(char ch, unsigned char state) {
  if (ch == ' ' || ch == '\t') {
    // Blanks count in a value, and inside a key once it has begun.
    if (!(state == kValue || (state == kKey && cursor_ != tokenStart_))) {
      return;
    }
  } else if (ch == '\n') {
    ++line_;
    column_ = 0;
    if (cursor_ != tokenStart_) {
      lineBreakInToken_ = true;
    }
    return;
  } else if (ch == '\r') {
    return;
  }
  // A line break ends the token: unquoted bytes after it up to the next delimiter are dropped.
  if (lineBreakInToken_) {
    return;
  }
  *cursor_++ = ch;
}

bool JsonReader::openContainer(char bracket) {
  states_.pop_back();
  JsonContainer*& slot = containers_.push();
  slot = nullptr;
  if (bracket == '[') {
    slot = new JsonArray();
  } else {
    slot = new JsonObject();
  }
  states_.push_back(bracket == '[' ? kInArray : kInObject);
  // The token is not ended: bytes collected before the bracket start the first key inside.
  states_.push_back(kKey);
  return true;
}

bool JsonReader::closeContainer(char bracket) {
  if (!finishToken(bracket)) {
    return false;
  }
  const unsigned char open = bracket == ']' ? kInArray : kInObject;
  if (states_.back() != open) {
    return false;
  }
  states_.pop_back();
  JsonContainer* closed = containers_.top();
  containers_.pop();
  if (closed == root_) {
    return false;  // a closing bracket at the top level
  }
  // A nested container becomes a member of its parent only once it is closed.
  addToTop(keys_.top(), std::unique_ptr<JsonValue>(closed));
  keys_.pop();
  states_.push_back(bracket == ']' ? kAfterArray : kAfterObject);
  return true;
}

void JsonReader::addToTop(const std::string& key, std::unique_ptr<JsonValue> value) {
  JsonContainer* top = containers_.top();
  if (top == root_) {
    rootReceived_ = true;
  }
  top->add(key, std::move(value));
}

void JsonReader::reset() {
  tokenStart_ = nullptr;
  cursor_ = nullptr;
  lineBreakInToken_ = false;
  if (token_.size() > kKeptTokenBytes) {
    std::string().swap(token_);
  }
  states_.clear();
  if (states_.capacity() > kKeptTokenBytes) {
    std::vector<unsigned char>().swap(states_);
  }
  keys_.clear();
  for (size_t i = 0; i < keys_.spare(); ++i) {
    if (keys_.at(i).capacity() > kKeptKeyBytes) {
      std::string().swap(keys_.at(i));
    }
  }
  while (containers_.size() > 1) {
    delete containers_.top();
    containers_.pop();
  }
  containers_.clear();  // the root belongs to the caller
  root_ = nullptr;
}

JsonReaderRegistry& JsonReaderRegistry::instance() {
  static JsonReaderRegistry* registry = new JsonReaderRegistry();
  return *registry;
}

JsonReader* JsonReaderRegistry::current() {
  if (tSlot.reader != nullptr) {
    return tSlot.reader;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    // An entry already under this id belongs to an ended thread whose id the system reused:
    // this thread gets a reader of its own and the stale one goes.
    std::unique_ptr<JsonReader>& entry = readers_[std::this_thread::get_id()];
    entry = std::make_unique<JsonReader>();
    tSlot.reader = entry.get();
  }
  if (!tSlot.exitHookArmed && !tSlot.exited) {
    tSlot.exitHookArmed = true;
    static thread_local JsonReaderThreadExit exitHook;
    (void)exitHook;
  }
  return tSlot.reader;
}

size_t JsonReaderRegistry::readerCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return readers_.size();
}

void JsonReaderRegistry::release() {
  // Found by the thread's id alone: the entry under a running thread's id is its own, since
  // current() replaces a stale one. The slot is not consulted, as at thread exit it may already
  // read as fresh where the runtime destroys thread-local storage before the exit hooks run.
  std::unique_ptr<JsonReader> reader;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = readers_.find(std::this_thread::get_id());
    if (it != readers_.end()) {
      reader = std::move(it->second);
      readers_.erase(it);
    }
  }
  tSlot.reader = nullptr;
  tSlot.exited = true;
}
