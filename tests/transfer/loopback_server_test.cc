// The shared loopback server, seen through the download task that the other suites rely on.
#include <gtest/gtest.h>

#include <filesystem>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "support/loopback_http_server.h"
#include "support/temp_dir.h"
#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"

namespace {

int Fetch(const std::string& url, const std::string& localPath) {
  CInetFile task;
  task.kind = KindManifest;
  task.url = url;
  task.localPath = localPath;
  MessageQueue window;
  task.notifyWindow = &window;
  if (!task.StartTransfer()) {
    return -1;
  }
  PostedMessage message;
  while (window.Wait(message, std::chrono::seconds(60))) {
    if (message.message == WM_TRANSFER_DONE) {
      task.Join();
      return static_cast<int>(LowWord(message.wParam));
    }
  }
  return -1;
}

TEST(LoopbackHttpServer, ServesFilesBelowADirectoryOnly) {
  TempDir root;
  TempDir out;
  ASSERT_TRUE(WriteFileBytes(root.File("top.txt"), "top"));
  std::filesystem::create_directory(root.File("sub"));
  ASSERT_TRUE(WriteFileBytes(root.File("sub/文件 1.txt"), "nested"));
  LoopbackHttpServer server;
  server.ServeDirectory("/pub/", root.path());

  EXPECT_EQ(Fetch(server.Url("/pub/top.txt"), out.File("a")), TransferOk);
  EXPECT_EQ(ReadFileBytes(out.File("a")), "top");
  EXPECT_EQ(Fetch(server.Url("/pub/sub/文件 1.txt"), out.File("b")), TransferOk);
  EXPECT_EQ(ReadFileBytes(out.File("b")), "nested");
  EXPECT_EQ(Fetch(server.Url("/pub/missing.txt"), out.File("c")), FileRequestFailed);
  EXPECT_EQ(Fetch(server.Url("/pub/sub"), out.File("d")), FileRequestFailed);
  EXPECT_EQ(Fetch(server.Url("/pub/sub/%2E%2E/top.txt"), out.File("e")), FileRequestFailed);
}

TEST(LoopbackHttpServer, HooksAnswerEachRequestAndRoutesWin) {
  LoopbackHttpServer server;
  TempDir out;
  std::atomic<int> calls{0};
  server.SetFallbackHook([&](const LoopbackHttpServer::Request& request) {
    LoopbackHttpServer::Response response;
    response.body = request.path + " #" + std::to_string(++calls);
    return response;
  });
  server.SetHook("/boom", [](const LoopbackHttpServer::Request&) -> LoopbackHttpServer::Response {
    throw std::runtime_error("boom");
  });
  server.SetBody("/fixed", "fixed");
  EXPECT_EQ(Fetch(server.Url("/any"), out.File("a")), TransferOk);
  EXPECT_EQ(ReadFileBytes(out.File("a")), "/any #1");
  EXPECT_EQ(Fetch(server.Url("/any"), out.File("a")), TransferOk);
  EXPECT_EQ(ReadFileBytes(out.File("a")), "/any #2");
  EXPECT_EQ(Fetch(server.Url("/fixed"), out.File("b")), TransferOk);
  EXPECT_EQ(ReadFileBytes(out.File("b")), "fixed");
  EXPECT_EQ(Fetch(server.Url("/boom"), out.File("c")), FileRequestFailed);
  EXPECT_EQ(calls, 2);
}

TEST(LoopbackHttpServer, StopEndsStalledResponsesAndIsIdempotent) {
  auto server = std::make_unique<LoopbackHttpServer>();
  TempDir out;
  server->SetStalled("/stall", "abcdef", 3);
  CInetFile task;
  task.kind = KindManifest;
  task.url = server->Url("/stall");
  task.localPath = out.File("s");
  ASSERT_TRUE(task.StartTransfer());
  ASSERT_TRUE(server->WaitForStalls(1, std::chrono::seconds(60)));
  server->Stop();
  server->Stop();
  task.Join();  // the dropped connection ends the run
  EXPECT_EQ(task.bytesReceived, 3u);
  server.reset();
}

}  // namespace
