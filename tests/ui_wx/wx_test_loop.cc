#include "wx_test_loop.h"

#include <wx/app.h>
#include <wx/evtloop.h>

bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  for (;;) {
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    wxTheApp->ProcessPendingEvents();
    loop->DispatchTimeout(5);
  }
}

void RunEventsFor(std::chrono::milliseconds time) {
  RunEventsUntil([] { return false; }, time);
}
