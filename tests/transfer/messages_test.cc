#include "transfer/messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
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
  EXPECT_TRUE(queue.IsClosed());
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
      for (int i = 0; i < kEach; ++i)
        queue.Post(WM_TRANSFER_PROGRESS, t * kEach + i, nullptr);
    });
  }
  std::set<uint32_t> seen;
  PostedMessage message;
  while (seen.size() < kThreads * kEach && queue.Wait(message, std::chrono::seconds(10))) {
    seen.insert(message.wParam);
  }
  for (auto& poster : posters)
    poster.join();
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
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
  for (int code : {0, 10, -1, 65535})
    EXPECT_STREQ(ErrorTextFor(code), kDefault) << code;
}

}  // namespace
