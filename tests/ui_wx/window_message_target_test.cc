#include "ui/wx/window_message_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "wx_test_loop.h"

namespace {

using std::chrono::milliseconds;

TEST(WindowMessageTargetTest, DeliversEveryPostOnTheWindowsThreadInOrder) {
  const std::thread::id windowThread = std::this_thread::get_id();
  std::vector<PostedMessage> received;
  bool allOnWindowThread = true;
  WindowMessageTarget target([&](const PostedMessage& message) {
    allOnWindowThread = allOnWindowThread && std::this_thread::get_id() == windowThread;
    received.push_back(message);
  });

  constexpr int kThreads = 4;
  constexpr uint32_t kEach = 5000;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&target, t] {
      for (uint32_t i = 0; i < kEach; ++i) {
        target.Post(1124 + static_cast<unsigned>(t), i, nullptr);
      }
    });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  ASSERT_TRUE(
      RunEventsUntil([&] { return received.size() == kThreads * kEach; }, milliseconds(10000)));
  EXPECT_TRUE(allOnWindowThread);
  std::map<unsigned, uint32_t> next;
  for (const PostedMessage& message : received) {
    EXPECT_EQ(message.wParam, next[message.message]++) << message.message;
  }
}

TEST(WindowMessageTargetTest, DropsWhatIsQueuedOrPostedOnceClosed) {
  int received = 0;
  WindowMessageTarget target([&](const PostedMessage&) { ++received; });
  target.Post(1124, 1, nullptr);
  target.Close();
  std::thread late([&target] { target.Post(1125, 0, nullptr); });
  late.join();
  RunEventsFor(milliseconds(100));
  EXPECT_EQ(received, 0);
  EXPECT_TRUE(target.IsClosed());
}

}  // namespace
