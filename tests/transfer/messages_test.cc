#include "transfer/messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "transfer/transfer_error.h"

namespace {

using std::chrono::milliseconds;

TEST(TransferMessages, WParamCarriesKindHighAndValueLow) {
  EXPECT_EQ(WM_TRANSFER_PROGRESS, 1124u);
  EXPECT_EQ(WM_TRANSFER_DONE, 1125u);
  EXPECT_EQ(WM_TRAY_NOTIFY, 1126u);
  uint32_t wParam = MakeTransferWParam(2, 1024);
  EXPECT_EQ(wParam, 0x20400u);
  EXPECT_EQ(HighWord(wParam), 2u);
  EXPECT_EQ(LowWord(wParam), 1024u);
  // Only the low 16 bits of the value travel.
  EXPECT_EQ(LowWord(MakeTransferWParam(1, 0x12345)), 0x2345u);
  EXPECT_EQ(HighWord(MakeTransferWParam(1, 0x12345)), 1u);
}

TEST(MessageQueue, DeliversInOrderAndTimesOutWhenEmpty) {
  MessageQueue queue;
  PostedMessage message;
  EXPECT_FALSE(queue.TryTake(message));
  EXPECT_FALSE(queue.Wait(message, milliseconds(1)));
  queue.Post(WM_TRANSFER_PROGRESS, 1, nullptr);
  queue.Post(WM_TRANSFER_DONE, 2, nullptr);
  EXPECT_EQ(queue.Pending(), 2u);
  ASSERT_TRUE(queue.Wait(message, milliseconds(1)));
  EXPECT_EQ(message.message, WM_TRANSFER_PROGRESS);
  EXPECT_EQ(message.wParam, 1u);
  ASSERT_TRUE(queue.TryTake(message));
  EXPECT_EQ(message.message, WM_TRANSFER_DONE);
  EXPECT_EQ(queue.Pending(), 0u);
}

TEST(MessageQueue, ClosedQueueDropsQueuedAndLaterMessages) {
  MessageQueue queue;
  queue.Post(WM_TRANSFER_PROGRESS, 1, nullptr);
  queue.Close();
  queue.Post(WM_TRANSFER_DONE, 2, nullptr);
  PostedMessage message;
  EXPECT_FALSE(queue.TryTake(message));
  EXPECT_FALSE(queue.Wait(message, milliseconds(1)));
}

TEST(MessageQueue, PostsFromManyThreadsAllArrive) {
  MessageQueue queue;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        queue.Post(WM_TRANSFER_PROGRESS, t * kEach + i, nullptr);
      }
    });
  }
  std::set<uint32_t> seen;
  PostedMessage message;
  while (seen.size() < kThreads * kEach && queue.Wait(message, std::chrono::seconds(10))) {
    seen.insert(message.wParam);
  }
  for (auto& poster : posters) {
    poster.join();
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
}

// Progress messages don't wake a waiter that is looking in short slices; once the flow pauses the
// waiter must sleep until woken again, and every later message must still wake it.
TEST(MessageQueue, MessagesAfterAPauseInProgressStillArrive) {
  MessageQueue queue;
  PostedMessage message;
  queue.Post(WM_TRANSFER_PROGRESS, 1, nullptr);
  ASSERT_TRUE(queue.Wait(message, milliseconds(1)));
  for (unsigned kind : {WM_TRANSFER_PROGRESS, WM_TRANSFER_DONE}) {
    std::thread poster([&] {
      std::this_thread::sleep_for(milliseconds(200));
      queue.Post(kind, 2, nullptr);
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(queue.Wait(message, std::chrono::seconds(60)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(message.message, kind);
    poster.join();
  }
}

// Counts the wake-ups a front end whose loop cannot sleep in Wait would get.
class CountingQueue : public MessageQueue {
 public:
  using MessageQueue::MessageQueue;
  int wakes = 0;
  unsigned woken = 0;  // the message of the last wake-up

 protected:
  void Wake(const PostedMessage& posted) override {
    ++wakes;
    woken = posted.message;
  }
};

// Deliver hands equal progress posted in a row over in one call with its count, anything else one
// by one in order; a handler that stops leaves the rest queued, and a nested call leaves the
// work to the outer one.
TEST(MessageQueue, DeliverHandsOverCopiesTogetherAndKeepsWhatAStoppedHandlerLeft) {
  MessageQueue queue;
  CInetFile* task = reinterpret_cast<CInetFile*>(&queue);  // only compared, never used
  queue.Post(WM_TRANSFER_PROGRESS, 1024, task, 3);
  queue.Post(WM_TRANSFER_PROGRESS, 1024, task);
  queue.Post(WM_TRANSFER_PROGRESS, 1024, task, 0);
  queue.Post(WM_TRANSFER_PROGRESS, 1024, nullptr);
  queue.Post(WM_TRANSFER_PROGRESS, 452, task);
  queue.Post(WM_TRANSFER_DONE, 0, task, 2);
  EXPECT_EQ(queue.Pending(), 8u);
  std::vector<std::pair<uint32_t, size_t>> seen;
  DeliveryEnd nested = DeliveryEnd::kEmpty;
  auto handler = [&](const PostedMessage& message, size_t copies) {
    nested = queue.Deliver([](const PostedMessage&, size_t) { return true; }, milliseconds(100));
    seen.emplace_back(message.lParam == task ? message.wParam : 1, copies);
    return seen.size() != 1;
  };
  EXPECT_EQ(queue.Deliver(handler, milliseconds(100)), DeliveryEnd::kStopped);
  EXPECT_EQ(nested, DeliveryEnd::kBusy);
  EXPECT_EQ(queue.Pending(), 4u);
  // A slice already used up still hands over one take, then leaves the rest for later.
  EXPECT_EQ(queue.Deliver(handler, milliseconds(0)), DeliveryEnd::kMore);
  EXPECT_EQ(queue.Pending(), 3u);
  EXPECT_EQ(queue.Deliver(handler, milliseconds(100)), DeliveryEnd::kEmpty);
  using Seen = std::vector<std::pair<uint32_t, size_t>>;
  EXPECT_EQ(seen, (Seen{{1024, 4}, {1, 1}, {452, 1}, {0, 1}, {0, 1}}));
  queue.Post(WM_TRANSFER_PROGRESS, 1024, task, 5);
  queue.Close();
  EXPECT_EQ(queue.Pending(), 0u);
  EXPECT_EQ(queue.Deliver(handler, milliseconds(100)), DeliveryEnd::kStopped);
  EXPECT_EQ(seen.size(), 5u);
}

// The owner is woken once until it looks again; once a stream of progress has been taken it
// polls, so only a transfer's end wakes it, until a look finds nothing.
TEST(MessageQueue, WakesTheOwnerOnceUntilItLooksAndNotForStreamingProgress) {
  CountingQueue queue(3);
  auto deliver = [&queue] {
    return queue.Deliver([](const PostedMessage&, size_t) { return true; }, milliseconds(100));
  };
  struct Step {
    unsigned message;
    int posts;
    int wakes;        // counted after the posts
    DeliveryEnd end;  // of the delivery after them
  };
  const Step steps[] = {
      {WM_TRANSFER_PROGRESS, 2, 1, DeliveryEnd::kEmpty},
      {WM_TRANSFER_PROGRESS, 2, 2, DeliveryEnd::kPolling},
      {WM_TRANSFER_PROGRESS, 5, 2, DeliveryEnd::kPolling},
      {WM_TRANSFER_DONE, 1, 3, DeliveryEnd::kEmpty},
      {WM_TRANSFER_PROGRESS, 1, 4, DeliveryEnd::kEmpty},
      {WM_TRANSFER_PROGRESS, 2, 5, DeliveryEnd::kPolling},
      {WM_TRANSFER_PROGRESS, 0, 5, DeliveryEnd::kEmpty},  // a look that finds nothing ends polling
      {WM_TRANSFER_PROGRESS, 1, 6, DeliveryEnd::kEmpty},
  };
  for (const Step& step : steps) {
    for (int i = 0; i < step.posts; ++i) {
      queue.Post(step.message, 1024, nullptr);
    }
    EXPECT_EQ(queue.wakes, step.wakes) << step.message << " x" << step.posts;
    if (step.posts > 0) {
      EXPECT_EQ(queue.woken, step.message);
    }
    EXPECT_EQ(deliver(), step.end) << step.message << " x" << step.posts;
  }
}

TEST(ErrorTextFor, EachCodeHasItsTextAndOthersTheDefault) {
  const char* kDefault = "连接服务器失败, 请选择其他服务器进行尝试";
  EXPECT_STREQ(ErrorTextFor(UrlParseFailed), "URL解析错误, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(ServerRefused), "服务器拒绝连接, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(RedirectFailed), "重定向失败, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(RedirectUrlParseFailed), "重定向URL解析错误, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(NotHttp), "不是HTTP连接, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(FileRequestFailed), "取得服务器文件失败, 请选择其他服务器进行尝试");
  EXPECT_STREQ(ErrorTextFor(LocalFileCreateFailed), "创建本地文件失败");
  EXPECT_STREQ(ErrorTextFor(Cancelled), "主动取消连接");
  EXPECT_STREQ(ErrorTextFor(BadUrl), "URL不正确");
  EXPECT_STREQ(ErrorTextFor(FileVerifyFailed), "文件校验失败");
  EXPECT_STREQ(ErrorTextFor(TlsFailed), "服务器证书无效, 请选择其他服务器进行尝试");
  for (int code : {0, 12, -1, 65535}) {
    EXPECT_STREQ(ErrorTextFor(code), kDefault) << code;
  }
}

}  // namespace
