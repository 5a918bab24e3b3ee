#pragma once

#include <chrono>
#include <functional>
#include <string>

// The progress display: the two bars, the tray frame and the tray tip.
struct DisplayState {
  int fileProgress = 0;   // bar 1000
  int totalProgress = 0;  // bar 1001
  int trayIcon = 0;       // 130..132; 0 while there is no tray icon
  std::string trayTip;
};

// Keeps the latest values of the progress display and lets the window draw them at most once per
// interval, however often they change: every progress message moves the values, only the
// drawing is rate-limited. Toolkit-free; window's thread.
class DisplayThrottle {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit DisplayThrottle(std::chrono::milliseconds interval,
                           Clock clock = &std::chrono::steady_clock::now);

  // The values the window should show now.
  DisplayState& Latest() { return latest_; }
  const DisplayState& Latest() const { return latest_; }
  // The values last drawn.
  const DisplayState& Shown() const { return shown_; }

  // True when the latest values differ from the shown ones.
  bool Pending() const;
  // Time left until pending values may be drawn; zero when due or nothing is pending.
  std::chrono::milliseconds Wait() const;
  // Time left of the interval begun by the last draw, whether or not anything is pending.
  std::chrono::milliseconds Remaining() const;
  // Records that the latest values have been drawn now.
  void MarkShown();
  // Records a tray icon the window added (or, with 0 and no tip, removed) outside the throttle:
  // shown and latest alike, without starting a new interval.
  void SetTray(int iconId, const std::string& tip);

 private:
  std::chrono::milliseconds interval_;
  Clock clock_;
  DisplayState latest_;
  DisplayState shown_;
  bool everShown_ = false;
  std::chrono::steady_clock::time_point lastShown_;
};

// The progress display of a window: takes its new values, draws them through the window's hook at
// once when the throttle allows, and otherwise has the window start its display timer, whose
// handler calls Flush. The window keeps only the drawing and the timer. Window's thread.
class ThrottledDisplay {
 public:
  struct Hooks {
    // Draws what differs between latest and shown.
    std::function<void(const DisplayState& latest, const DisplayState& shown)> draw;
    // Starts the one-shot display timer.
    std::function<void(unsigned ms)> startTimer;
    // True while the display timer runs, or while the window cannot draw at all.
    std::function<bool()> timerRunning;
  };

  ThrottledDisplay(std::chrono::milliseconds interval, Hooks hooks,
                   DisplayThrottle::Clock clock = &std::chrono::steady_clock::now);

  // Bar positions are clamped to 0..100.
  void SetFileProgress(int position);
  void SetTotalProgress(int position);
  void SetTrayIcon(int iconId);
  void SetTrayTip(const std::string& tip);
  // A tray icon the window added or removed itself; see DisplayThrottle::SetTray.
  void SetTray(int iconId, const std::string& tip) { throttle_.SetTray(iconId, tip); }
  // Draws whatever is still owed, at once; the window has stopped its display timer.
  void Flush();
  const DisplayState& Shown() const { return throttle_.Shown(); }

 private:
  void Changed();
  void Draw();

  DisplayThrottle throttle_;
  Hooks hooks_;
};
