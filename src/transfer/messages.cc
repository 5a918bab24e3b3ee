#include "transfer/messages.h"

void MessageQueue::Post(unsigned message, uint32_t wParam, CInetFile* lParam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    queue_.push_back(PostedMessage{message, wParam, lParam});
  }
  arrived_.notify_one();
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
  if (queue_.empty()) return false;
  out = queue_.front();
  queue_.pop_front();
  return true;
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}
