#pragma once

#include <wx/event.h>

#include <chrono>
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
  // Hands queued messages to the sink; after a slice of time it yields to the event loop so that
  // a fast stream of progress messages cannot starve painting and input.
  void Deliver();

  static constexpr std::chrono::milliseconds kSlice{20};

  Sink sink_;
  mutable std::mutex mutex_;
  std::deque<PostedMessage> queue_;
  bool closed_ = false;
  bool deliveryQueued_ = false;  // one toolkit event stands for the whole queue
};
