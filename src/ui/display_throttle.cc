#include "ui/display_throttle.h"

#include <algorithm>
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

std::chrono::milliseconds DisplayThrottle::Wait() const {
  return Pending() ? Remaining() : std::chrono::milliseconds(0);
}

std::chrono::milliseconds DisplayThrottle::Remaining() const {
  if (!everShown_) {
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

ThrottledDisplay::ThrottledDisplay(std::chrono::milliseconds interval, Hooks hooks,
                                   DisplayThrottle::Clock clock)
    : throttle_(interval, std::move(clock)), hooks_(std::move(hooks)) {}

void ThrottledDisplay::SetFileProgress(int position) {
  throttle_.Latest().fileProgress = std::clamp(position, 0, 100);
  Changed();
}

void ThrottledDisplay::SetTotalProgress(int position) {
  throttle_.Latest().totalProgress = std::clamp(position, 0, 100);
  Changed();
}

void ThrottledDisplay::SetTrayIcon(int iconId) {
  throttle_.Latest().trayIcon = iconId;
  Changed();
}

void ThrottledDisplay::SetTrayTip(const std::string& tip) {
  throttle_.Latest().trayTip = tip;
  Changed();
}

void ThrottledDisplay::Flush() {
  if (throttle_.Pending()) {
    Draw();
  }
}

void ThrottledDisplay::Changed() {
  if (hooks_.timerRunning()) {
    return;  // a draw is already owed; it shows whatever is latest then
  }
  if (!throttle_.Pending()) {
    return;
  }
  const auto wait = throttle_.Remaining();
  if (wait.count() == 0) {
    Draw();
  } else {
    hooks_.startTimer(static_cast<unsigned>(std::max<long long>(wait.count(), 1)));
  }
}

void ThrottledDisplay::Draw() {
  hooks_.draw(throttle_.Latest(), throttle_.Shown());
  throttle_.MarkShown();
}
