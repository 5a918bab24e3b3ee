#include "transfer/messages.h"

#include <algorithm>

namespace {

// How late a progress message may be seen while a transfer is reporting. Completion and every
// other message wake the waiter at once.
constexpr std::chrono::milliseconds kProgressSlice(10);

}  // namespace

void MessageQueue::Post(unsigned message, uint32_t wParam, CInetFile* lParam) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_)
      return;
    // A progress message wakes nobody while a waiter looks in short slices anyway, and a waiter
    // sleeping until woken does so only on an empty queue. Every other message (a transfer's end)
    // wakes at once, also a waiter that sleeps a slice over unannounced progress.
    if (message == WM_TRANSFER_PROGRESS)
      wake = queue_.empty() && pollingWaiters_ == 0;
    else
      wake = queue_.empty() || pollingWaiters_ > 0;
    if (message == WM_TRANSFER_PROGRESS && !queue_.empty() &&
        queue_.back().message.message == message && queue_.back().message.wParam == wParam &&
        queue_.back().message.lParam == lParam) {
      ++queue_.back().count;
    } else {
      queue_.push_back(Entry{PostedMessage{message, wParam, lParam}, 1});
    }
    ++pending_;
  }
  if (wake)
    arrived_.notify_all();
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

bool MessageQueue::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

bool MessageQueue::Wait(PostedMessage& out, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.empty() && !closed_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      return false;
    if (progressFlowing_) {
      ++pollingWaiters_;
      arrived_.wait_until(lock, std::min(deadline, now + kProgressSlice));
      --pollingWaiters_;
      // A whole slice without anything: the flow has stopped, so sleep until woken from now on.
      if (queue_.empty() && std::chrono::steady_clock::now() >= now + kProgressSlice)
        progressFlowing_ = false;
    } else {
      arrived_.wait_until(lock, deadline);
    }
  }
  if (queue_.empty())
    return false;  // closed
  TakeFront(out, 1);
  return true;
}

bool MessageQueue::TryTake(PostedMessage& out) {
  return TryTakeRepeated(out, 1) == 1;
}

size_t MessageQueue::TryTakeRepeated(PostedMessage& out, size_t most) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty() || most == 0)
    return 0;
  return TakeFront(out, most);
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

size_t MessageQueue::TakeFront(PostedMessage& out, size_t most) {
  Entry& front = queue_.front();
  out = front.message;
  const size_t taken = std::min(most, front.count);
  front.count -= taken;
  if (front.count == 0)
    queue_.pop_front();
  pending_ -= taken;
  progressFlowing_ = out.message == WM_TRANSFER_PROGRESS;
  return taken;
}
