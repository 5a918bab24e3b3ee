#pragma once

// What the window hands on to the update logic: its timer and the "立即更新" button.
// Called on the window's thread.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void OnTimer(unsigned id) = 0;
  virtual void OnUpdateNow() = 0;
};
