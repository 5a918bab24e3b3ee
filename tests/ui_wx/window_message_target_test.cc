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
  WindowMessageTarget target([&](const PostedMessage& message, size_t copies) {
    allOnWindowThread = allOnWindowThread && std::this_thread::get_id() == windowThread;
    received.insert(received.end(), copies, message);
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

// A large file's stream of equal progress messages reaches the sink copy for copy, and
// whatever follows it (the end, the next transfer's messages) still arrives, also after a pause.
TEST(WindowMessageTargetTest, StreamsOfProgressArriveWholeAndWhatFollowsStillArrives) {
  std::vector<PostedMessage> received;
  WindowMessageTarget target([&](const PostedMessage& message, size_t copies) {
    received.insert(received.end(), copies, message);
  });
  auto postStream = [&target](uint32_t chunks, uint32_t code) {
    std::thread worker([&target, chunks, code] {
      for (uint32_t i = 0; i < chunks; ++i) {
        target.Post(WM_TRANSFER_PROGRESS, 1024, nullptr);
      }
      target.Post(WM_TRANSFER_PROGRESS, 7, nullptr);
      target.Post(WM_TRANSFER_DONE, code, nullptr);
    });
    worker.join();
  };
  size_t expected = 0;
  for (uint32_t round = 0; round < 3; ++round) {
    const uint32_t chunks = round == 1 ? 3 : 20000;
    postStream(chunks, round);
    expected += chunks + 2;
    ASSERT_TRUE(RunEventsUntil([&] { return received.size() == expected; }, milliseconds(10000)))
        << round << ": " << received.size() << " of " << expected;
    EXPECT_EQ(received[expected - 2].wParam, 7u);
    EXPECT_EQ(received[expected - 1].message, WM_TRANSFER_DONE);
    EXPECT_EQ(received[expected - 1].wParam, round);
    RunEventsFor(milliseconds(50));  // the stream has stopped for a while
    EXPECT_EQ(received.size(), expected);
  }
  for (size_t i = 0; i < 20000; ++i) {
    ASSERT_EQ(received[i].wParam, 1024u) << i;
  }
}

TEST(WindowMessageTargetTest, DropsWhatIsQueuedOrPostedOnceClosed) {
  size_t received = 0;
  WindowMessageTarget target([&](const PostedMessage&, size_t copies) { received += copies; });
  target.Post(1124, 1, nullptr);
  target.Close();
  std::thread late([&target] { target.Post(1125, 0, nullptr); });
  late.join();
  RunEventsFor(milliseconds(100));
  EXPECT_EQ(received, 0u);
}

}  // namespace
