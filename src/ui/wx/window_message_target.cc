#include "ui/wx/window_message_target.h"

#include <utility>

WindowMessageTarget::WindowMessageTarget(Sink sink) : sink_(std::move(sink)), pollTimer_(this) {
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      polling_ = false;
    }
    Deliver();
  });
}

WindowMessageTarget::~WindowMessageTarget() {
  Close();
}

void WindowMessageTarget::Post(unsigned message, uint32_t wParam, CInetFile* lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    return;
  }
  const bool progress = message == WM_TRANSFER_PROGRESS;
  if (progress && !queue_.empty() && queue_.back().message.message == message &&
      queue_.back().message.wParam == wParam && queue_.back().message.lParam == lParam) {
    ++queue_.back().count;
  } else {
    queue_.push_back(Entry{PostedMessage{message, wParam, lParam}, 1});
  }
  if (!delivering_ && !(progress && polling_)) {
    WakeLocked();
  }
}

void WindowMessageTarget::WakeLocked() {
  if (wakeQueued_) {
    return;
  }
  wakeQueued_ = true;
  CallAfter([this] {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wakeQueued_ = false;
    }
    Deliver();
  });
}

void WindowMessageTarget::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
    polling_ = false;
  }
  sinkClosed_ = true;
  pollTimer_.Stop();
}

bool WindowMessageTarget::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void WindowMessageTarget::Deliver() {
  const auto start = std::chrono::steady_clock::now();
  size_t progressDelivered = 0;
  bool lastWasProgress = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delivering_) {
      return;  // called from a nested loop inside the sink: the outer call goes on afterwards
    }
    delivering_ = true;
  }
  for (;;) {
    PostedMessage message;
    size_t copies = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        delivering_ = false;
        return;
      }
      if (queue_.empty()) {
        delivering_ = false;
        // A large file is streaming in: look again shortly rather than be woken for every few
        // messages. Once a look finds little, the stream has stopped and posts wake us again.
        if (lastWasProgress && progressDelivered >= kProgressBurst) {
          polling_ = true;
          pollTimer_.StartOnce(kProgressPollMs);
        }
        return;
      }
      if (std::chrono::steady_clock::now() - start >= kSlice) {
        delivering_ = false;
        WakeLocked();
        return;  // the rest after the loop's own work
      }
      Entry& front = queue_.front();
      message = front.message;
      copies = front.count;
      queue_.pop_front();
    }
    lastWasProgress = message.message == WM_TRANSFER_PROGRESS;
    if (lastWasProgress) {
      progressDelivered += copies;
    }
    // Outside the lock: a handler may run a nested loop (a message box); what is posted meanwhile
    // waits in order behind the message being handled.
    for (size_t i = 0; i < copies && !sinkClosed_; ++i) {
      sink_(message);
    }
  }
}
