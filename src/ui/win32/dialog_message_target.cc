#include "ui/win32/dialog_message_target.h"

#include <utility>

DialogMessageTarget::DialogMessageTarget(Sink sink)
    : MessageQueue(kEventQueuePollAfter), sink_(std::move(sink)) {}

DialogMessageTarget::~DialogMessageTarget() {
  Close();
}

void DialogMessageTarget::Attach(HWND dialog) {
  const HWND previous = dialog_.exchange(dialog);
  if (previous != nullptr && dialog == nullptr) {
    KillTimer(previous, kPollTimerId);
  }
}

void DialogMessageTarget::Wake(const PostedMessage& posted) {
  const HWND dialog = dialog_.load();
  if (dialog != nullptr) {
    // The queue holds the message itself; the dialog's copy only wakes it, so that messages keep
    // their order and a stream of progress is handled in bulk.
    PostMessageW(dialog, posted.message, posted.wParam, reinterpret_cast<LPARAM>(posted.lParam));
  }
}

bool DialogMessageTarget::HandleMessage(UINT message, WPARAM wParam) {
  if (message == WM_TIMER && wParam == kPollTimerId) {
    KillTimer(dialog_.load(), kPollTimerId);
  } else if (message != WM_TRANSFER_PROGRESS && message != WM_TRANSFER_DONE) {
    return false;
  }
  DeliverNow();
  return true;
}

void DialogMessageTarget::DeliverNow() {
  const DeliveryEnd end = Deliver(
      [this](const PostedMessage& message, size_t copies) {
        sink_(message, copies);
        return true;
      },
      kDeliverySlice);
  const HWND dialog = dialog_.load();
  if (dialog != nullptr && (end == DeliveryEnd::kMore || end == DeliveryEnd::kPolling)) {
    SetTimer(dialog, kPollTimerId, static_cast<UINT>(kPollInterval.count()), nullptr);
  }
}
