#include "ui/display_throttle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using std::chrono::milliseconds;

class DisplayThrottleTest : public testing::Test {
 protected:
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
  DisplayThrottle throttle{milliseconds(50), [this] { return now; }};
  // Pending values may be drawn now.
  bool Due() const { return throttle.Pending() && throttle.Wait() == milliseconds(0); }
};

TEST_F(DisplayThrottleTest, DrawsTheFirstChangeAtOnceAndLaterOnesAfterTheInterval) {
  EXPECT_FALSE(throttle.Pending());
  EXPECT_FALSE(Due());

  throttle.Latest().fileProgress = 10;
  EXPECT_TRUE(Due());
  throttle.MarkShown();
  EXPECT_EQ(throttle.Shown().fileProgress, 10);

  now += milliseconds(20);
  throttle.Latest().fileProgress = 11;
  throttle.Latest().trayIcon = 131;
  EXPECT_TRUE(throttle.Pending());
  EXPECT_FALSE(Due());
  EXPECT_EQ(throttle.Wait(), milliseconds(30));

  now += milliseconds(30);
  EXPECT_TRUE(Due());
  EXPECT_EQ(throttle.Wait(), milliseconds(0));
  throttle.MarkShown();
  EXPECT_EQ(throttle.Shown().fileProgress, 11);
  EXPECT_EQ(throttle.Shown().trayIcon, 131);
}

TEST_F(DisplayThrottleTest, ValuesThatReturnToWhatIsShownOweNothing) {
  throttle.Latest().trayTip = "5%";
  throttle.MarkShown();
  now += milliseconds(1);
  throttle.Latest().trayTip = "6%";
  throttle.Latest().trayTip = "5%";
  EXPECT_FALSE(throttle.Pending());
  EXPECT_EQ(throttle.Wait(), milliseconds(0));
}

TEST_F(DisplayThrottleTest, WaitRoundsUpSoATimerNeverFiresEarly) {
  throttle.Latest().totalProgress = 1;
  throttle.MarkShown();
  now += std::chrono::microseconds(49'500);
  throttle.Latest().totalProgress = 2;
  EXPECT_EQ(throttle.Wait(), milliseconds(1));
}

TEST_F(DisplayThrottleTest, ValuesShownOutsideTheThrottleStartNoInterval) {
  throttle.SetTray(130, "正在自动更新");
  EXPECT_FALSE(throttle.Pending());

  throttle.Latest().trayIcon = 131;
  EXPECT_TRUE(Due());
}

}  // namespace

TEST_F(DisplayThrottleTest, ThrottledDisplayDrawsAtOnceOrByOneTimerAndFlushDrawsTheLatest) {
  std::vector<DisplayState> drawn;
  std::vector<unsigned> timers;
  bool running = false;
  ThrottledDisplay display(
      milliseconds(50),
      {[&](const DisplayState& latest, const DisplayState&) { drawn.push_back(latest); },
       [&](unsigned ms) {
         timers.push_back(ms);
         running = true;
       },
       [&] { return running; }},
      [this] { return now; });

  display.SetFileProgress(150);  // clamped, and drawn at once
  now += milliseconds(20);
  display.SetTotalProgress(7);  // must wait 30 ms
  display.SetTrayTip("7%");     // the timer runs already
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].fileProgress, 100);
  EXPECT_EQ(timers, std::vector<unsigned>{30});

  running = false;
  display.Flush();
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[1].totalProgress, 7);
  EXPECT_EQ(display.Shown().trayTip, "7%");
  display.Flush();  // nothing owed
  EXPECT_EQ(drawn.size(), 2u);
}
