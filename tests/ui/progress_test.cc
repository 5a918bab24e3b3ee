#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "dialog_harness.h"
#include "platform/crypto.h"
#include "transfer/inet_file.h"

using ::testing::ElementsAre;

namespace {

std::string Sha256Hex(const std::string& content) {
  Sha256 hash;
  hash.Update(content.data(), content.size());
  return hash.HexDigest();
}

class Progress : public DialogHarness {};

TEST_F(Progress, BarsTrayFramesAndTipFollowTheRun) {
  Publish("/s1", {{"", "a.bin", std::string(2500, 'x')}});
  SetServerList("S1|" + server_.Url("/s1") + "\n");
  UpdateSettings settings = Settings();
  settings.automatic = true;
  size_t chunks = 0;
  beforeDispatch_ = [&chunks](const PostedMessage& message, size_t copies) {
    chunks += message.message == WM_TRANSFER_PROGRESS ? copies : 0;
  };
  ASSERT_TRUE(Open(settings));
  EXPECT_EQ(view_.timerPeriod, 100u);
  EXPECT_THAT(view_.trayIcons, ElementsAre(130));
  EXPECT_THAT(view_.tips, ElementsAre("正在自动更新"));

  // The server list moves no bar and empties the tip.
  ASSERT_TRUE(PumpUntil([this] { return view_.trayIcons.size() > 1; }));
  EXPECT_EQ(view_.trayIcons[1], 131);
  EXPECT_THAT(view_.tips, ElementsAre("正在自动更新", ""));
  ASSERT_TRUE(PumpUntilIdle());
  ASSERT_TRUE(view_.ended);

  // Frames run 131, 132, 130, ... a step per chunk from the first progress message on.
  ASSERT_GE(chunks, 5u);  // list, manifest, three chunks of the file
  EXPECT_EQ(view_.trayIcons.back(), 130 + static_cast<int>(chunks % 3));
  for (int icon : view_.trayIcons) {
    EXPECT_TRUE(icon >= 130 && icon <= 132) << icon;
  }
  // The tip is set only when it changes, and ends on the run's whole percentage.
  for (size_t i = 1; i < view_.tips.size(); ++i) {
    EXPECT_NE(view_.tips[i], view_.tips[i - 1]);
  }
  EXPECT_EQ(view_.tips.back(), "100%");
  EXPECT_EQ(view_.fileBar.back(), 100);
  EXPECT_EQ(view_.totalBar.back(), 100);
  // Bars reset to 0 at the list and at the manifest, then only file chunks move them.
  EXPECT_THAT(std::vector<int>(view_.fileBar.begin(), view_.fileBar.begin() + 2),
              ElementsAre(0, 0));
  for (size_t i = 3; i < view_.fileBar.size(); ++i) {
    EXPECT_GE(view_.fileBar[i], view_.fileBar[i - 1]);
  }
}

TEST_F(Progress, PercentagesAreExactForLargeCounts) {
  ASSERT_TRUE(Open(Settings()));
  CInetFile task;
  task.kind = KindFile;

  task.expectedSize = 50000000;
  task.bytesReceived = 25000000;
  dialog_->OnTransferProgress(MakeTransferWParam(KindManifest, 1024), &task);
  EXPECT_EQ(view_.fileBar.back(), 50);

  task.expectedSize = 6ull << 30;  // 6 GiB: 32-bit arithmetic would be far off
  task.bytesReceived = (6ull << 30) / 4 * 3;
  dialog_->OnTransferProgress(MakeTransferWParam(KindManifest, 1024), &task);
  EXPECT_EQ(view_.fileBar.back(), 75);

  // Copies of a message count as that many messages, shown once.
  const size_t before = view_.trayIcons.size();
  const int first = view_.trayIcons.back() - 130;
  for (size_t copies : {1, 2, 3, 4}) {
    dialog_->OnTransferProgress(MakeTransferWParam(KindManifest, 1024), &task, copies);
  }
  EXPECT_THAT(std::vector<int>(view_.trayIcons.begin() + before, view_.trayIcons.end()),
              ElementsAre(130 + (first + 1) % 3, 130 + (first + 3) % 3, 130 + (first + 6) % 3,
                          130 + (first + 10) % 3));

  // A null task changes nothing.
  size_t frames = view_.trayIcons.size();
  dialog_->OnTransferProgress(MakeTransferWParam(KindFile, 1024), nullptr);
  EXPECT_EQ(view_.trayIcons.size(), frames);
}

// What earlier runs left counts as arrived: a part continued with a Range request and a whole
// verified ".update" taken without a request. The total bar and the tip reach 100% by the last
// file's end, and never pass it.
TEST_F(Progress, KeptPartsAndWholeKeptFilesCountTowardsTheTotal) {
  PublishedFile a{"", "a.bin", std::string(40000, 'a')}, b{"", "b.bin", std::string(20000, 'b')};
  a.hash = Sha256Hex(a.content);
  b.hash = Sha256Hex(b.content);
  Publish("/s1", {a, b});
  SetServerList("S1|" + server_.Url("/s1") + "\n");
  WriteFileBytes(AppFile("a.bin.update"), a.content.substr(0, 30000));
  WriteFileBytes(AppFile("b.bin.update"), b.content);
  int atLastEnd = -1;
  beforeDispatch_ = [&](const PostedMessage& message, size_t) {
    if (message.message == WM_TRANSFER_DONE && HighWord(message.wParam) == KindFile) {
      atLastEnd = view_.totalBar.empty() ? -1 : view_.totalBar.back();
    }
  };
  UpdateSettings settings = Settings();
  settings.automatic = true;
  ASSERT_TRUE(Open(settings));
  ASSERT_TRUE(PumpUntilIdle());
  ASSERT_TRUE(view_.ended);
  EXPECT_EQ(ReadFileBytes(AppFile("a.bin")), a.content);
  std::vector<std::string> fileRequests;
  for (const LoopbackHttpServer::Request& request : server_.Requests()) {
    if (request.path.find(".bin") != std::string::npos) {
      fileRequests.push_back(request.path + " " + request.Header("Range"));
    }
  }
  EXPECT_THAT(fileRequests, ElementsAre("/s1//a.bin.txt bytes=30000-"));
  EXPECT_EQ(atLastEnd, 100);
  EXPECT_EQ(view_.totalBar.back(), 100);
  EXPECT_LE(*std::max_element(view_.totalBar.begin(), view_.totalBar.end()), 100);
  EXPECT_EQ(view_.tips.back(), "100%");
}

// A file that outgrows its manifest is refused (code 2) before it passes its length, so no bar
// or tip goes beyond 100.
TEST_F(Progress, AFileThatOutgrowsTheManifestFailsAtAHundred) {
  PublishedFile file{"", "a.bin", std::string(4000, 'x')};
  file.length = "2000";
  Publish("/s1", {file});
  SetServerList("S1|" + server_.Url("/s1") + "\n");
  UpdateSettings settings = Settings();
  settings.automatic = true;
  ASSERT_TRUE(Open(settings));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_FALSE(view_.ended);
  EXPECT_LE(*std::max_element(view_.totalBar.begin(), view_.totalBar.end()), 100);
  EXPECT_LE(*std::max_element(view_.fileBar.begin(), view_.fileBar.end()), 100);
  EXPECT_EQ(std::find(view_.tips.begin(), view_.tips.end(), "200%"), view_.tips.end());
  EXPECT_TRUE(std::any_of(view_.log.begin(), view_.log.end(),
                          [](const RecordingView::Line& line) { return line.code == 2; }));
}

}  // namespace
