#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The tray icon of a window that has one: its frame, advanced a step per chunk of data from the
// first chunk of the process on (130, 131, 132, 130...), and its tip of at most 63 bytes: "正在自动
// 更新" (in the process's language) until data arrives, the run's percentage while files arrive,
// empty otherwise. The text of a percentage is made only when it changes, so that a chunk costs
// little. Toolkit-free; window's thread.
class TrayAnimation {
 public:
  static constexpr int kFirstFrame = 130;
  static constexpr int kFrames = 3;
  static constexpr size_t kTipMax = 63;

  TrayAnimation();

  // copies chunks arrived; runPercent as UpdateView::ChunksArrived gives it. True when the tip
  // changed (the frame changes with every call).
  bool Advance(size_t copies, int64_t runPercent);
  int Icon() const { return kFirstFrame + static_cast<int>(frame_ % kFrames); }
  const std::string& Tip() const { return tip_; }

 private:
  uint32_t frame_ = 0;  // wraps as one step per chunk would
  std::string tip_;
  int64_t tipPercent_ = -1;  // the percentage tip_ shows; -1 when it shows none
};
