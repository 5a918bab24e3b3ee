#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "json/json_value.h"

// A stack that keeps up to kSpareNodes popped nodes, with their storage, for later pushes, so a
// reader reused across parses stops allocating for its stacks. Used by one reader's thread.
template <typename T>
class NodeStack {
 public:
  static constexpr size_t kSpareNodes = 100;

  // The new top node; it may hold what a cached node held before.
  T& push() {
    if (depth_ == nodes_.size()) {
      nodes_.emplace_back();
    }
    return nodes_[depth_++];
  }
  void pop() {
    --depth_;
    if (nodes_.size() - depth_ > kSpareNodes) {
      nodes_.pop_back();
    }
  }
  T& top() { return nodes_[depth_ - 1]; }
  size_t size() const { return depth_; }
  bool empty() const { return depth_ == 0; }
  size_t spare() const { return nodes_.size() - depth_; }
  void clear() {
    depth_ = 0;
    if (nodes_.size() > kSpareNodes) {
      nodes_.resize(kSpareNodes);
    }
    if (nodes_.capacity() > 4 * kSpareNodes) {
      nodes_.shrink_to_fit();
    }
  }
  T& at(size_t index) { return nodes_[index]; }

 private:
  std::vector<T> nodes_;
  size_t depth_ = 0;
};

// Reads the document dialect into a caller's container, byte by byte, with explicit stacks. One
// per thread, reused by every parse on that thread (see JsonReaderRegistry).
class JsonReader {
 public:
  enum ReaderState : unsigned char {
    kNoState = 0,  // the state stack is empty
    kInArray = 1,
    kAfterArray = 2,
    kInObject = 3,
    kAfterObject = 4,
    kValue = 5,
    kKey = 6,
    kSingleQuoted = 7,
    kDoubleQuoted = 8,
    kEscape = 9,
  };

  JsonReader() = default;
  ~JsonReader();
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // Fills root from text (exactly text.size() bytes). With merge false root is cleared first.
  // False when the text is empty or breaks the dialect; then line and column, when not null,
  // receive the position of the failure, and offset that of the byte the reader stopped at
  // (text.size() when the text ended too soon). Members completed before a failure stay in root.
  bool parse(JsonContainer& root, const std::string& text, bool merge, int* line, int* column,
             size_t* offset = nullptr);

  // Spare stack nodes kept for the next parse.
  size_t spareKeyNodes() const { return keys_.spare(); }
  size_t spareContainerNodes() const { return containers_.spare(); }

 private:
  bool read(const std::string& text);
  bool finishToken(char delimiter);
  void putChar(char ch, unsigned char state);
  bool openContainer(char bracket);
  bool closeContainer(char bracket);
  void addToTop(const std::string& key, std::unique_ptr<JsonValue> value);
  // Ends the token: the cursor goes back to the start of the buffer.
  void endToken() {
    cursor_ = tokenStart_;
    lineBreakInToken_ = false;
  }
  size_t tokenLength() const { return static_cast<size_t>(cursor_ - tokenStart_); }
  // Empties the stacks; containers still open after a failure are destroyed, the root is not.
  void reset();

  std::string token_;  // raw storage; only [tokenStart_, cursor_) is meaningful
  char* tokenStart_ = nullptr;
  char* cursor_ = nullptr;
  // Bottom entry is a kNoState sentinel so the top can be read without a test.
  std::vector<unsigned char> states_;
  NodeStack<std::string> keys_;
  NodeStack<JsonContainer*> containers_;  // bottom: the root; above it: owned open containers
  JsonContainer* root_ = nullptr;
  bool rootReceived_ = false;  // whether this parse added a member to the root
  int line_ = 1;
  int column_ = 0;
  size_t stoppedAt_ = 0;  // the byte a failed read stopped at
  bool lineBreakInToken_ = false;
};

// Hands every thread its own reader. One per process; any thread. The table is touched only under
// the lock, when a thread gets its first reader and when the thread ends.
class JsonReaderRegistry {
 public:
  // The process's registry. Never destroyed: threads that end during process exit still find it.
  static JsonReaderRegistry& instance();

  // The calling thread's reader, created on the thread's first call.
  JsonReader* current();

  // Readers currently held, one per thread that has parsed and not yet ended.
  size_t readerCount();

 private:
  JsonReaderRegistry() = default;
  friend struct JsonReaderThreadExit;
  // Destroys the calling thread's reader; runs when the thread ends.
  void release();

  std::mutex lock_;
  std::map<std::thread::id, std::unique_ptr<JsonReader>> readers_;
};
