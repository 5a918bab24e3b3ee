#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

class CInetFile;

// The first message number a window may give its own messages (Windows' WM_USER).
constexpr unsigned kFirstUserMessage = 0x0400;
constexpr unsigned WM_TRANSFER_PROGRESS = kFirstUserMessage + 100;  // 1124
constexpr unsigned WM_TRANSFER_DONE = kFirstUserMessage + 101;      // 1125
constexpr unsigned WM_TRAY_NOTIFY = kFirstUserMessage + 102;        // 1126

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
// never blocks on the window; once the target is closed it drops what it is given. copies posts
// the same message that many times in a row at the cost of one.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Post(unsigned message, uint32_t wParam, CInetFile* lParam, size_t copies = 1) = 0;
};

// How a Deliver call ended.
enum class DeliveryEnd {
  kEmpty,    // everything was handed over; the next post wakes the owner
  kPolling,  // everything was handed over while progress streams in: the owner looks again
             // within kPollInterval by itself, and only other messages wake it
  kMore,     // the time slice is used up: the owner calls Deliver again after its own work
  kStopped,  // the handler asked to stop, or the queue was closed; the next post wakes the owner
  kBusy,     // called from inside a running Deliver (a nested loop); the outer call goes on
};

// The window's message queue, shared by every front end: Post from any thread; the owner's thread
// (the window's) takes the messages in posting order by Wait, TryTake or Deliver. A front end
// whose loop cannot sleep in Wait overrides Wake to have its loop call Deliver.
class MessageQueue : public MessageTarget {
 public:
  // Handles copies of one message posted in a row, as if each had come alone, on the owner's
  // thread; false stops the delivery after them.
  using Handler = std::function<bool(const PostedMessage&, size_t copies)>;

  // How late the owner may look for progress while a transfer streams; every other message
  // wakes it at once.
  static constexpr std::chrono::milliseconds kPollInterval{10};
  // How long a window's loop hands messages over in one turn before painting, input and its
  // timers get theirs.
  static constexpr std::chrono::milliseconds kDeliverySlice{20};
  // pollAfter for an owner woken through its window system's event queue: a wake-up there costs
  // more than a look, so only a large file's stream of progress starts polling.
  static constexpr size_t kEventQueuePollAfter = 256;

  // pollAfter: progress messages taken in a row after which the owner looks for more every
  // kPollInterval instead of being woken for each (a wake-up per KiB would cost more than the
  // download itself). 1 for an owner that looks by a timed wait; more where each look is an event
  // of its own, so that a small file's few messages start no polling.
  explicit MessageQueue(size_t pollAfter = 1);
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  void Post(unsigned message, uint32_t wParam, CInetFile* lParam, size_t copies = 1) override;
  // Drops every queued message and every later Post; a running Deliver hands over no more.
  void Close();
  // Waits up to timeout until a message is queued; false when none came or the queue is closed.
  bool Wait(std::chrono::milliseconds timeout);
  // Takes the oldest message, waiting up to timeout; false when none came.
  bool Wait(PostedMessage& out, std::chrono::milliseconds timeout);
  bool TryTake(PostedMessage& out);
  size_t Pending() const;
  // Hands the queued messages to handler, oldest first, a run of equal copies in one call, until
  // the queue is empty, the handler returns false or slice has passed. What a stopped handler
  // leaves stays queued. Owner's thread; the handler may run a nested loop that calls Deliver
  // again.
  DeliveryEnd Deliver(const Handler& handler, std::chrono::milliseconds slice);

 protected:
  // Tells the owner's loop that messages wait, for a loop that does not sleep in Wait; posted is
  // the message whose post wakes it. Called by Post on the posting thread with the queue's lock
  // held, once until the owner has looked again: it must not block nor call into the queue.
  virtual void Wake(const PostedMessage& /*posted*/) {}

 private:
  // Equal progress messages of one task posted in a row are kept as one entry with a count: a
  // fast transfer costs no memory per message while the owner catches up.
  struct Entry {
    PostedMessage message;
    size_t count = 1;
  };

  // Waits until a message is queued or the deadline passes; the caller holds lock.
  bool WaitLocked(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline);
  // Takes up to most copies of the front message; mutex_ is held and the queue is not empty.
  size_t TakeFront(PostedMessage& out, size_t most);
  // The owner stops looking: the next post wakes it, or only a non-progress post when it polls;
  // mutex_ is held.
  void Asleep(bool polling);

  const size_t pollAfter_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Entry> queue_;
  size_t pending_ = 0;               // messages in all, copies counted
  std::atomic<bool> closed_{false};  // written under mutex_; Deliver reads it between copies
  bool awake_ = false;      // the owner will look without being woken (it is looking, or was woken)
  bool polling_ = false;    // the owner looks every kPollInterval: progress needs no wake-up
  size_t progressRun_ = 0;  // progress messages taken since another message was taken
  bool delivering_ = false;
};
