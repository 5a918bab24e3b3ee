#include "ui/wx/window_message_target.h"

#include <utility>

WindowMessageTarget::WindowMessageTarget(Sink sink)
    : MessageQueue(kEventQueuePollAfter), sink_(std::move(sink)), pollTimer_(this) {
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { DeliverNow(); });
}

WindowMessageTarget::~WindowMessageTarget() {
  Close();
  pollTimer_.Stop();
}

void WindowMessageTarget::Wake(const PostedMessage&) {
  CallAfter([this] { DeliverNow(); });
}

void WindowMessageTarget::DeliverNow() {
  const DeliveryEnd end = Deliver(
      [this](const PostedMessage& message, size_t copies) {
        sink_(message, copies);
        return true;
      },
      kDeliverySlice);
  if (end == DeliveryEnd::kMore) {
    CallAfter([this] { DeliverNow(); });
  } else if (end == DeliveryEnd::kPolling && !pollTimer_.IsRunning()) {
    pollTimer_.StartOnce(static_cast<int>(kPollInterval.count()));
  }
}
