#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

class CInetFile;

constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_TRANSFER_PROGRESS = WM_USER + 100;  // 1124
constexpr unsigned WM_TRANSFER_DONE = WM_USER + 101;      // 1125
constexpr unsigned WM_TRAY_NOTIFY = WM_USER + 102;        // 1126

// wParam: high word the task's kind, low word the chunk size or the result code.
inline uint32_t MakeTransferWParam(int kind, uint32_t low) {
  return (static_cast<uint32_t>(kind) << 16) | (low & 0xFFFFu);
}
inline uint32_t LowWord(uint32_t wParam) {
  return wParam & 0xFFFFu;
}
inline uint32_t HighWord(uint32_t wParam) {
  return (wParam >> 16) & 0xFFFFu;
}

// A message as the window's thread receives it; lParam is the task, still owned by the queue.
struct PostedMessage {
  unsigned message = 0;
  uint32_t wParam = 0;
  CInetFile* lParam = nullptr;
};

// Where workers post: queues a message for the window's thread. Post is safe from any thread and
// never blocks on the window; once the target is closed it drops what it is given.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Post(unsigned message, uint32_t wParam, CInetFile* lParam) = 0;
};

// A message target with its own queue, drained by the loop of the thread that owns it
// (the terminal front end, tests). Post from any thread; Wait and TryTake on the owner's thread.
class MessageQueue : public MessageTarget {
 public:
  void Post(unsigned message, uint32_t wParam, CInetFile* lParam) override;
  // Drops every queued message and every later Post.
  void Close();
  bool IsClosed() const;
  // Takes the oldest message, waiting up to timeout; false when none came.
  bool Wait(PostedMessage& out, std::chrono::milliseconds timeout);
  bool TryTake(PostedMessage& out);
  // Takes the oldest message together with the copies of it that were posted right after it, at
  // most most in all; returns how many were taken (0 when the queue is empty). The caller
  // handles each copy as a message of its own.
  size_t TryTakeRepeated(PostedMessage& out, size_t most);
  size_t Pending() const;

 private:
  // Equal progress messages posted in a row are kept as one entry with a count: a fast transfer
  // costs no memory per message while the loop catches up.
  struct Entry {
    PostedMessage message;
    size_t count = 1;
  };

  // Takes up to most copies of the front message; the caller holds mutex_ and the queue is not
  // empty.
  size_t TakeFront(PostedMessage& out, size_t most);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Entry> queue_;
  size_t pending_ = 0;  // messages in all, copies counted
  bool closed_ = false;
  // A transfer is reporting: waiters look for progress in short slices instead of being woken
  // for every message (a wake-up per KiB would cost more than the download itself).
  bool progressFlowing_ = false;
  int pollingWaiters_ = 0;
};
