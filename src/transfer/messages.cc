#include "transfer/messages.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

bool SameMessage(const PostedMessage& a, const PostedMessage& b) {
  return a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam;
}

}  // namespace

MessageQueue::MessageQueue(size_t pollAfter) : pollAfter_(std::max<size_t>(pollAfter, 1)) {}

void MessageQueue::Post(unsigned message, uint32_t wParam, CInetFile* lParam, size_t copies) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || copies == 0) {
      return;
    }
    const PostedMessage posted{message, wParam, lParam};
    const bool progress = message == WM_TRANSFER_PROGRESS;
    if (progress && !queue_.empty() && SameMessage(queue_.back().message, posted)) {
      queue_.back().count += copies;
    } else if (progress) {
      queue_.push_back(Entry{posted, copies});
    } else {
      // Only progress is kept as a count; any other message stays one entry each.
      for (size_t i = 0; i < copies; ++i) {
        queue_.push_back(Entry{posted, 1});
      }
    }
    pending_ += copies;
    // An owner that looks every poll interval finds progress by itself; anything else (a
    // transfer's end) wakes it at once.
    if (!awake_ && !(progress && polling_)) {
      awake_ = true;
      wake = true;
      Wake(posted);
    }
  }
  if (wake) {
    arrived_.notify_all();
  }
}

void MessageQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
    pending_ = 0;
  }
  arrived_.notify_all();
}

bool MessageQueue::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  return WaitLocked(lock, deadline);
}

bool MessageQueue::Wait(PostedMessage& out, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!WaitLocked(lock, deadline)) {
    return false;
  }
  TakeFront(out, 1);
  return true;
}

bool MessageQueue::TryTake(PostedMessage& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) {
    return false;
  }
  TakeFront(out, 1);
  return true;
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

DeliveryEnd MessageQueue::Deliver(const Handler& handler, std::chrono::milliseconds slice) {
  const auto start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delivering_) {
      return DeliveryEnd::kBusy;
    }
    delivering_ = true;
    awake_ = true;
  }
  bool tookAny = false;
  for (;;) {
    PostedMessage message;
    size_t copies = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        delivering_ = false;
        Asleep(false);
        return DeliveryEnd::kStopped;
      }
      if (queue_.empty()) {
        delivering_ = false;
        if (!tookAny) {
          progressRun_ = 0;  // a look that found nothing: the stream has stopped
        }
        const bool polling = progressRun_ >= pollAfter_;
        Asleep(polling);
        return polling ? DeliveryEnd::kPolling : DeliveryEnd::kEmpty;
      }
      if (tookAny && Clock::now() - start >= slice) {
        delivering_ = false;
        return DeliveryEnd::kMore;  // the rest after the loop's own work
      }
      copies = TakeFront(message, SIZE_MAX);
      tookAny = true;
    }
    // Outside the lock: a handler may run a nested loop (a message box); what is posted meanwhile
    // waits in order behind the message being handled.
    if (!handler(message, copies)) {
      std::lock_guard<std::mutex> lock(mutex_);
      delivering_ = false;
      Asleep(false);
      return DeliveryEnd::kStopped;
    }
  }
}

bool MessageQueue::WaitLocked(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
  while (queue_.empty() && !closed_) {
    const auto now = Clock::now();
    if (now >= deadline) {
      return false;
    }
    const bool polling = progressRun_ >= pollAfter_;
    Asleep(polling);
    if (polling) {
      arrived_.wait_until(lock, std::min(deadline, now + kPollInterval));
      // A whole interval without anything: the stream has stopped, so sleep until woken.
      if (queue_.empty() && Clock::now() >= now + kPollInterval) {
        progressRun_ = 0;
      }
    } else {
      arrived_.wait_until(lock, deadline);
    }
  }
  if (queue_.empty()) {
    return false;  // closed
  }
  awake_ = true;
  return true;
}

size_t MessageQueue::TakeFront(PostedMessage& out, size_t most) {
  Entry& front = queue_.front();
  out = front.message;
  const size_t taken = std::min(most, front.count);
  front.count -= taken;
  if (front.count == 0) {
    queue_.pop_front();
  }
  pending_ -= taken;
  if (out.message == WM_TRANSFER_PROGRESS) {
    progressRun_ += taken;
  } else {
    progressRun_ = 0;
  }
  return taken;
}

void MessageQueue::Asleep(bool polling) {
  awake_ = false;
  polling_ = polling;
}
