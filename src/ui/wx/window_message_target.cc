#include "ui/wx/window_message_target.h"

#include <utility>

WindowMessageTarget::WindowMessageTarget(Sink sink) : sink_(std::move(sink)) {}

WindowMessageTarget::~WindowMessageTarget() {
  Close();
}

void WindowMessageTarget::Post(unsigned message, uint32_t wParam, CInetFile* lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    return;
  }
  queue_.push_back(PostedMessage{message, wParam, lParam});
  if (!deliveryQueued_) {
    deliveryQueued_ = true;
    CallAfter(&WindowMessageTarget::Deliver);
  }
}

void WindowMessageTarget::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  queue_.clear();
}

bool WindowMessageTarget::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void WindowMessageTarget::Deliver() {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    PostedMessage message;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_ || queue_.empty()) {
        deliveryQueued_ = false;
        return;
      }
      if (std::chrono::steady_clock::now() - start >= kSlice) {
        CallAfter(&WindowMessageTarget::Deliver);  // the rest after the loop's own work
        return;
      }
      message = queue_.front();
      queue_.pop_front();
    }
    // Outside the lock: a handler may run a nested loop (a message box); what is posted meanwhile
    // waits in order behind the message being handled.
    sink_(message);
  }
}
