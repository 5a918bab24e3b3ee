#pragma once

#include <wx/event.h>
#include <wx/timer.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

#include "transfer/messages.h"

// Carries the workers' messages to the window's thread through the toolkit's event queue.
// Post runs on any thread; the messages reach the sink on the window's thread, in posting order.
// Close (window's thread) before the window and its update logic go away: from then on nothing
// reaches the sink and later posts are dropped.
class WindowMessageTarget : public wxEvtHandler, public MessageTarget {
 public:
  using Sink = std::function<void(const PostedMessage&)>;

  explicit WindowMessageTarget(Sink sink);
  ~WindowMessageTarget() override;
  WindowMessageTarget(const WindowMessageTarget&) = delete;
  WindowMessageTarget& operator=(const WindowMessageTarget&) = delete;

  void Post(unsigned message, uint32_t wParam, CInetFile* lParam) override;
  void Close();
  bool IsClosed() const;

 private:
  // Equal progress messages posted in a row wait as one entry with a count.
  struct Entry {
    PostedMessage message;
    size_t count = 1;
  };

  // Hands queued messages to the sink; after a slice of time it yields to the event loop so that
  // a fast stream of progress messages cannot starve painting and input. Window's thread.
  void Deliver();
  // Queues a call of Deliver on the window's thread unless one is queued; mutex_ is held.
  void WakeLocked();

  static constexpr std::chrono::milliseconds kSlice{20};
  // While a large file streams in (a delivery found at least kProgressBurst progress messages),
  // the window's thread looks for progress this often instead of being woken for every few
  // messages; any other message still wakes it at once.
  static constexpr int kProgressPollMs = 10;
  static constexpr size_t kProgressBurst = 256;

  Sink sink_;
  mutable std::mutex mutex_;
  std::deque<Entry> queue_;
  bool closed_ = false;
  bool wakeQueued_ = false;  // a toolkit event will call Deliver
  bool delivering_ = false;  // Deliver runs: it takes what is posted meanwhile
  bool polling_ = false;     // pollTimer_ will call Deliver: progress needs no wake-up
  bool sinkClosed_ = false;  // closed, as the window's thread sees it without the lock
  wxTimer pollTimer_;        // window's thread only
};
