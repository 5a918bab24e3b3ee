#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "transfer/messages.h"
#include "ui/win32/win32_api.h"

// The window's message queue woken through the dialog's own message queue: a post from a worker
// becomes a WM_TRANSFER_PROGRESS or WM_TRANSFER_DONE posted to the dialog, on whose arrival the
// dialog's thread hands the queued messages to the sink in posting order. Post runs on any
// thread; everything else on the dialog's thread. Close before the dialog and its update logic
// go away: from then on nothing reaches the sink and later posts are dropped.
class DialogMessageTarget : public MessageQueue {
 public:
  // Gets copies of one message posted in a row, to be handled as if each had come alone.
  using Sink = std::function<void(const PostedMessage&, size_t copies)>;
  // The dialog's timer by which it looks again while progress streams in.
  static constexpr UINT_PTR kPollTimerId = 1101;

  explicit DialogMessageTarget(Sink sink);
  ~DialogMessageTarget() override;

  // The dialog that wake-ups go to; null stops them.
  void Attach(HWND dialog);
  // Delivers the queue when message is its wake-up or its timer; false for any other message.
  bool HandleMessage(UINT message, WPARAM wParam);

 protected:
  void Wake(const PostedMessage& posted) override;

 private:
  // Hands queued messages to the sink for a slice of time, then leaves the rest to a timer so
  // that a fast stream of progress cannot starve painting and input (posted messages go first).
  void DeliverNow();

  Sink sink_;
  std::atomic<HWND> dialog_{nullptr};
};
