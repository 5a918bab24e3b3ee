#include "ui/display_throttle.h"

#include <utility>

namespace {

bool SameDisplay(const DisplayState& a, const DisplayState& b) {
  return a.fileProgress == b.fileProgress && a.totalProgress == b.totalProgress &&
         a.trayIcon == b.trayIcon && a.trayTip == b.trayTip;
}

}  // namespace

DisplayThrottle::DisplayThrottle(std::chrono::milliseconds interval, Clock clock)
    : interval_(interval), clock_(std::move(clock)) {}

bool DisplayThrottle::Pending() const {
  return !SameDisplay(latest_, shown_);
}

bool DisplayThrottle::Due() const {
  return Pending() && Wait().count() == 0;
}

std::chrono::milliseconds DisplayThrottle::Wait() const {
  if (!Pending() || !everShown_) {
    return std::chrono::milliseconds(0);
  }
  const auto elapsed = clock_() - lastShown_;
  if (elapsed >= interval_) {
    return std::chrono::milliseconds(0);
  }
  // Round up so that a timer of this length lands at or after the due time.
  return std::chrono::ceil<std::chrono::milliseconds>(interval_ - elapsed);
}

void DisplayThrottle::MarkShown() {
  shown_ = latest_;
  everShown_ = true;
  lastShown_ = clock_();
}

void DisplayThrottle::SetTray(int iconId, const std::string& tip) {
  for (DisplayState* state : {&shown_, &latest_}) {
    state->trayIcon = iconId;
    state->trayTip = tip;
  }
}
