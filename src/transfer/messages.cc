#include "transfer/messages.h"

void MessageQueue::Post(unsigned message, uint32_t wParam, CInetFile* lParam) {
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_)
      return;
    wasEmpty = queue_.empty();
    queue_.push_back(PostedMessage{message, wParam, lParam});
  }
  // Waiters only sleep on an empty queue, so only the first message after one needs to wake
  // them; a transfer posts a message per KiB and must not pay a wake-up for each.
  if (wasEmpty)
    arrived_.notify_all();
}

void MessageQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
  }
  arrived_.notify_all();
}

bool MessageQueue::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

bool MessageQueue::Wait(PostedMessage& out, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return closed_ || !queue_.empty(); }) ||
      queue_.empty()) {
    return false;
  }
  out = queue_.front();
  queue_.pop_front();
  return true;
}

bool MessageQueue::TryTake(PostedMessage& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty())
    return false;
  out = queue_.front();
  queue_.pop_front();
  return true;
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}
