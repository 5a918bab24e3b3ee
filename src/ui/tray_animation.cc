#include "ui/tray_animation.h"

#include "texts/texts.h"
#include "ui/display_text.h"
#include "ui/format_text.h"

TrayAnimation::TrayAnimation() : tip_(CutAtCharBoundary(Text(TextId::kTrayTip), kTipMax)) {}

bool TrayAnimation::Advance(size_t copies, int64_t runPercent) {
  frame_ += static_cast<uint32_t>(copies);
  if (runPercent >= 0) {
    if (runPercent == tipPercent_) {
      return false;
    }
    tipPercent_ = runPercent;
    tip_ = CutAtCharBoundary(FormatText("%lld%%", static_cast<long long>(runPercent)), kTipMax);
    return true;
  }
  tipPercent_ = -1;
  if (tip_.empty()) {
    return false;
  }
  tip_.clear();
  return true;
}
