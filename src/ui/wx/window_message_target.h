#pragma once

#include <wx/event.h>
#include <wx/timer.h>

#include <cstddef>
#include <functional>

#include "transfer/messages.h"

// The window's message queue woken through the toolkit's event queue: Post runs on any thread;
// the messages reach the sink on the window's thread, in posting order. Close (window's thread)
// before the window and its update logic go away: from then on nothing reaches the sink and later
// posts are dropped.
class WindowMessageTarget : public wxEvtHandler, public MessageQueue {
 public:
  // Gets copies of one message posted in a row, to be handled as if each had come alone.
  using Sink = std::function<void(const PostedMessage&, size_t copies)>;

  explicit WindowMessageTarget(Sink sink);
  ~WindowMessageTarget() override;

 protected:
  void Wake(const PostedMessage& posted) override;

 private:
  // Hands queued messages to the sink; after a slice of time it yields to the event loop so that
  // a fast stream of progress messages cannot starve painting and input. Window's thread.
  void DeliverNow();

  Sink sink_;
  wxTimer pollTimer_;  // window's thread only
};
