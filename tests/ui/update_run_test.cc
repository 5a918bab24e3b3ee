#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "catalogue/minisign.h"
#include "dialog_harness.h"
#include "platform/crypto.h"
#include "publish/signing/minisign_signing.h"
#include "support/test_platform.h"
#include "transfer/inet_file.h"

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

const char kFailedRun[] = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";

class UpdateRun : public DialogHarness {
 protected:
  // One server "S1" publishing files; the local manifest as given ("" = none).
  std::string SetUpServer(const std::vector<PublishedFile>& files,
                          const std::string& extraMembers = "") {
    std::string manifest = Publish("/s1", files, extraMembers);
    SetServerList("S1|" + server_.Url("/s1") + "\n");
    return manifest;
  }
};

TEST_F(UpdateRun, UpToDateFinishesWithoutDownloadingOrRewritingTheManifest) {
  std::vector<PublishedFile> files = {{"", "a.txt", "abc"}, {"sub", "b.bin", "hello", 2}};
  SetUpServer(files);
  std::filesystem::create_directory(AppFile("sub"));
  WriteFileBytes(AppFile("a.txt"), "abc");
  WriteFileBytes(AppFile("sub/b.bin"), "HELLO");  // other content, same size: not fetched
  std::string local = ManifestText(files, "\"head\":{\"date\":\"2020-01-01 00:00:00\"}");
  WriteFileBytes(AppFile("version.txt"), local);

  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器"));
  EXPECT_EQ(view_.log[0].text, "01:02:03 正在连接获取服务器列表");
  EXPECT_TRUE(view_.choiceEnabled);

  dialog_->OnUpdateNow();
  EXPECT_FALSE(view_.choiceEnabled);
  ASSERT_TRUE(PumpUntilIdle());

  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：S1", "获取更新文件列表成功：S1", "你当前的版本是最新的"));
  EXPECT_TRUE(view_.ended);
  EXPECT_TRUE(dialog_->RunFinished());
  EXPECT_THAT(launcher_.launches,
              ElementsAre(Pair(moduleDirectory_ + "/start.sh", "--mode 'full run'")));
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), local);
  EXPECT_EQ(ReadFileBytes(AppFile("sub/b.bin")), "HELLO");
  EXPECT_EQ(server_.RequestCount(), 2u);  // the list and the manifest
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(UpdateRun, SecondOfThreeFilesFailsThenUpdateNowStartsAgain) {
  fake_ = true;
  std::string manifest = SetUpServer(
      {{"", "one.txt", "first"}, {"", "two.txt", "second"}, {"", "three.txt", "third"}});
  std::string published = ServedPath("/s1", "two.txt.txt");
  std::string hidden = published + ".hidden";
  ASSERT_EQ(std::rename(published.c_str(), hidden.c_str()), 0);  // the server answers 404
  WriteFileBytes(AppFile("version.txt"), "\"paths\":[]\n");
  WriteFileBytes(AppFile("one.txt"), "old one");

  OpenAndUpdate(Settings());
  EXPECT_THAT(
      view_.LogTexts(),
      ElementsAre("正在连接：S1", "获取更新文件列表成功：S1", "需更新文件总数: 3, 文件总长度: 0 KB",
                  "下载文件失败 [two.txt], 错误代码 [6]", HasSubstr("/two.txt.txt："), kFailedRun));
  EXPECT_EQ(view_.log[3].code, 6u);
  EXPECT_THAT(
      view_.statusHistory,
      ElementsAre("", "正在更新文件：one.txt", "下载文件成功 [one.txt]", "正在更新文件：two.txt",
                  "正在更新文件：three.txt", "下载文件成功 [three.txt]", kFailedRun));
  // Nothing is put in place: the old files stay, what arrived waits under its ".update" name.
  EXPECT_EQ(ReadFileBytes(AppFile("one.txt")), "old one");
  EXPECT_FALSE(FileExists(AppFile("three.txt")));
  EXPECT_EQ(ReadFileBytes(AppFile("one.txt.update")), "first");
  EXPECT_EQ(ReadFileBytes(AppFile("three.txt.update")), "third");
  EXPECT_FALSE(FileExists(AppFile("two.txt")));
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), "\"paths\":[]\n");
  EXPECT_FALSE(FileExists(AppFile("version.txt.commit")));
  EXPECT_FALSE(view_.ended);
  EXPECT_THAT(launcher_.launches, IsEmpty());
  EXPECT_TRUE(view_.choiceEnabled);
  EXPECT_TRUE(dialog_->WaitingForUser());

  ASSERT_EQ(std::rename(hidden.c_str(), published.c_str()), 0);
  int clears = view_.logClears;
  dialog_->OnUpdateNow();
  EXPECT_EQ(view_.logClears, clears + 1);
  EXPECT_EQ(view_.status, "");
  ASSERT_TRUE(PumpUntilIdle());
  // The real transfer takes a whole verified ".update" without asking (the fake fetches it).
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                                            "需更新文件总数: 3, 文件总长度: 0 KB", "更新完毕"));
  EXPECT_EQ(view_.status, "更新完毕");
  for (const auto& [name, content] :
       {std::pair{"one.txt", "first"}, {"two.txt", "second"}, {"three.txt", "third"}}) {
    EXPECT_EQ(ReadFileBytes(AppFile(name)), content);
    EXPECT_FALSE(FileExists(AppFile(std::string(name) + ".update")));
  }
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), manifest);
  EXPECT_FALSE(FileExists(AppFile("version.txt.commit")));
  EXPECT_TRUE(view_.ended);
  EXPECT_EQ(launcher_.launches.size(), 1u);
}

// Ways in which a downloaded "sub/a.txt" cannot be put in place.
enum class Fault { kFolderInTheWay, kReadOnlyFolder, kReadOnlyFolderNoOldFile, kDownloadGone };

std::string FaultName(const ::testing::TestParamInfo<std::pair<Fault, const char*>>& info) {
  const char* names[] = {"FolderInTheWay", "ReadOnlyFolder", "NoOldFile", "DownloadGone"};
  return names[static_cast<int>(info.param.first)];
}

class FailedInstall : public UpdateRun,
                      public ::testing::WithParamInterface<std::pair<Fault, const char*>> {};

TEST_P(FailedInstall, IsAFailedFileAndTheRunEndsWithoutFinishing) {
  const auto [fault, line] = GetParam();
  fake_ = true;
  const bool readOnlyFolder =
      fault == Fault::kReadOnlyFolder || fault == Fault::kReadOnlyFolderNoOldFile;
  const bool oldFile = fault == Fault::kReadOnlyFolder || fault == Fault::kDownloadGone;
  SetUpServer({{"sub", "a.txt", "new"}});
  WriteFileBytes(AppFile("version.txt"), "\"paths\":[]\n");
  std::filesystem::create_directory(AppFile("sub"));
  if (fault == Fault::kFolderInTheWay) {
    std::filesystem::create_directory(AppFile("sub/a.txt"));
  } else if (oldFile) {
    WriteFileBytes(AppFile("sub/a.txt"), "old");
  }
  bool readOnly = false;  // once the download is there, before it is put in place
  beforeDispatch_ = [&](const PostedMessage& message, size_t) {
    if (message.message == WM_TRANSFER_DONE && HighWord(message.wParam) == KindFile) {
      readOnly = readOnlyFolder && SetFolderReadOnly(AppFile("sub"), true);
      if (fault == Fault::kDownloadGone) {
        std::remove(AppFile("sub/a.txt.update").c_str());
      }
    }
  };

  OpenAndUpdate(Settings());
  if (readOnly) {
    SetFolderReadOnly(AppFile("sub"), false);
  } else if (readOnlyFolder) {
    GTEST_SKIP() << "this file system cannot make a folder read-only";
  }
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                          "需更新文件总数: 1, 文件总长度: 0 KB", line, kFailedRun));
  EXPECT_EQ(view_.status, kFailedRun);
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), "\"paths\":[]\n");
  EXPECT_FALSE(view_.ended);
  EXPECT_THAT(launcher_.launches, IsEmpty());
  EXPECT_EQ(ReadFileBytes(AppFile("sub/a.txt.update")), fault == Fault::kDownloadGone ? "" : "new");
  if (fault == Fault::kFolderInTheWay) {
    EXPECT_TRUE(std::filesystem::is_directory(AppFile("sub/a.txt")));
  } else {
    EXPECT_EQ(ReadFileBytes(AppFile("sub/a.txt")), oldFile ? "old" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    UpdateRun, FailedInstall,
    ::testing::Values(std::make_pair(Fault::kFolderInTheWay, "删除文件失败 [a.txt]"),
                      std::make_pair(Fault::kReadOnlyFolder, "删除文件失败 [a.txt]"),
                      std::make_pair(Fault::kReadOnlyFolderNoOldFile, "重命名文件失败 [a.txt]"),
                      std::make_pair(Fault::kDownloadGone, "重命名文件失败 [a.txt]")),
    FaultName);

// A rename that fails once the journal is written cannot be undone: the journal stays, the run
// fails, and the next "立即更新" completes it before anything else (start-up does the same).
TEST_F(UpdateRun, CommitThatCannotRenameIsCompletedBeforeTheNextRun) {
  fake_ = true;
  std::string manifest = SetUpServer({{"", "a.txt", "new a"}, {"", "b.txt", "new b"}});
  WriteFileBytes(AppFile("version.txt"), "\"paths\":[]\n");
  WriteFileBytes(AppFile("b.txt"), "old b");
  disk_.failInstall = "b.txt";
  OpenAndUpdate(Settings());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                                            "需更新文件总数: 2, 文件总长度: 0 KB",
                                            "删除文件失败 [b.txt]", kFailedRun));
  EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), "new a");
  EXPECT_EQ(ReadFileBytes(AppFile("b.txt.update")), "new b");
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), "\"paths\":[]\n");
  EXPECT_TRUE(FileExists(AppFile("version.txt.commit")));
  EXPECT_TRUE(dialog_->WaitingForUser());

  // Still failing: no new run starts over the mix.
  const size_t requests = server_.RequestCount();
  dialog_->OnUpdateNow();
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("删除文件失败 [b.txt]", kFailedRun));
  EXPECT_EQ(server_.RequestCount(), requests);

  disk_.failInstall = "";
  dialog_->OnUpdateNow();
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：S1", "获取更新文件列表成功：S1", "你当前的版本是最新的"));
  EXPECT_EQ(ReadFileBytes(AppFile("b.txt")), "new b");
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), manifest);
  EXPECT_FALSE(FileExists(AppFile("version.txt.commit")));
  EXPECT_TRUE(view_.ended);
}

// A journal that cannot be written puts nothing in place.
TEST_F(UpdateRun, CommitThatCannotBeginLeavesEveryOldFile) {
  fake_ = true;
  SetUpServer({{"", "a.txt", "new a"}, {"", "b.txt", "new b"}});
  WriteFileBytes(AppFile("a.txt"), "old a");
  disk_.failReplace = "version.txt.commit";
  OpenAndUpdate(Settings());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                                            "需更新文件总数: 2, 文件总长度: 0 KB",
                                            "保存下载进度遇到异常!", kFailedRun));
  EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), "old a");
  EXPECT_FALSE(FileExists(AppFile("b.txt")));
  EXPECT_FALSE(FileExists(AppFile("version.txt")));
}

TEST_F(UpdateRun, UnwritableLocalManifestLeavesTheWindowOpen) {
  fake_ = true;
  SetUpServer({{"", "a.txt", "new"}});
  std::filesystem::create_directory(AppFile("version.txt"));

  OpenAndUpdate(Settings());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                                            "需更新文件总数: 1, 文件总长度: 0 KB", "更新完毕",
                                            "保存下载进度遇到异常!"));
  EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), "new");
  EXPECT_FALSE(view_.ended);
  EXPECT_FALSE(dialog_->RunFinished());
  EXPECT_THAT(launcher_.launches, IsEmpty());
  EXPECT_TRUE(dialog_->WaitingForUser());
}

TEST_F(UpdateRun, UnloadableManifestShowsTheMessageBoxAndCleansUp) {
  fake_ = true;
  SetUpServer({});
  WriteFileBytes(ServedPath("/s1", "version.txt"), "{\"paths\":[]}");

  OpenAndUpdate(Settings());
  EXPECT_THAT(view_.messageBoxes, ElementsAre("装载远程版本信息失败!"));
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                          "  " + server_.Url("/s1/version.txt") + "：不是有效的更新文件列表"));
  EXPECT_FALSE(view_.ended);
  EXPECT_TRUE(dialog_->WaitingForUser());
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(UpdateRun, FailedManifestFetchesNameTheServerAndLeaveNoTemporaryFile) {
  SetServerList("Gone|" + server_.Url("/nothing") + "\nRefused|http://127.0.0.1:" +
                std::to_string(LoopbackHttpServer::UnusedPort()) + "\n");
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  ASSERT_EQ(view_.servers.size(), 2u);

  dialog_->OnServerChosen(0);  // "Gone": its manifest is a 404
  dialog_->OnUpdateNow();
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：Gone", "取得服务器文件失败, 请选择其他服务器进行尝试：Gone",
                          EndsWith("/nothing/version.txt：服务器返回 HTTP 404")));
  EXPECT_EQ(view_.log[1].code, 6u);

  dialog_->OnServerChosen(1);  // "Refused"
  dialog_->OnUpdateNow();
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接：Refused", "连接服务器失败, 请选择其他服务器进行尝试：Refused",
                          HasSubstr("/version.txt：传输失败 (")));
  EXPECT_EQ(view_.log[1].code, 2u);
  EXPECT_TRUE(dialog_->WaitingForUser());
  EXPECT_EQ(TempFilesLeft(), 0u);
}

// Closing the window cancels the transfer in progress; the temporary file it was filling goes.
TEST_F(UpdateRun, ClosingWhileTheListOrTheManifestArrivesLeavesNoTemporaryFile) {
  SetUpServer({{"", "a.txt", "new"}});
  server_.SetStalled("/s1/version.txt", "\"paths\":[", 3);
  UpdateSettings settings = Settings();
  settings.automatic = true;
  ASSERT_TRUE(Open(settings));
  // The text's file is made anew when the answer begins: wait until it stands.
  ASSERT_TRUE(PumpUntil([this] {
    return server_.WaitForStalls(1, std::chrono::milliseconds(0)) && TempFilesLeft() == 1;
  }));
  dialog_.reset();
  EXPECT_EQ(TempFilesLeft(), 0u);
  PostedMessage stale;  // the cancelled task's last word, meant for the window just closed
  while (queue_.TryTake(stale)) {
  }

  server_.SetStalled("/servers.txt", "S1|" + server_.Url("/s1") + "\n", 3);
  ASSERT_TRUE(Open(settings));
  ASSERT_TRUE(PumpUntil([this] {
    return server_.WaitForStalls(2, std::chrono::milliseconds(0)) && TempFilesLeft() == 1;
  }));
  dialog_.reset();
  EXPECT_EQ(TempFilesLeft(), 0u);
  server_.ReleaseStalls();
}

TEST_F(UpdateRun, EmptyExecFinishesWithoutLaunching) {
  fake_ = true;
  SetUpServer({{"", "a.txt", "new"}});
  UpdateSettings settings = Settings();
  settings.exec = "";

  OpenAndUpdate(settings);
  EXPECT_TRUE(view_.ended);
  EXPECT_TRUE(dialog_->RunFinished());
  EXPECT_THAT(launcher_.launches, IsEmpty());
}

TEST_F(UpdateRun, TotalsLineCountsWholeKilobytes) {
  fake_ = true;
  SetUpServer({{"", "a.bin", std::string(1000, 'a')}, {"", "b.bin", std::string(535, 'b')}});
  OpenAndUpdate(Settings());
  ASSERT_GE(view_.log.size(), 3u);
  EXPECT_EQ(view_.LogTexts()[2], "需更新文件总数: 2, 文件总长度: 1 KB");
  EXPECT_TRUE(view_.ended);
}

TEST_F(UpdateRun, TotalsLineHoldsSixGiB) {
  fake_ = true;
  // The manifest claims more than the server sends: the run still ends, the totals stay exact.
  PublishedFile big{"", "big.bin", "small"};
  big.length = "6442450944";
  SetUpServer({big});
  OpenAndUpdate(Settings());
  ASSERT_GE(view_.log.size(), 3u);
  EXPECT_EQ(view_.LogTexts()[2], "需更新文件总数: 1, 文件总长度: 6291456 KB");
}

TEST_F(UpdateRun, NewFilesKeepTheOldPermissionsAndGainExecuteBits) {
  if (!kFilesHavePermissionBits) {
    GTEST_SKIP() << "files have no permission bits here";
  }
  PublishedFile tool{"bin", "tool.sh", "#!/bin/sh\n", 2, "", true};
  PublishedFile data{"", "data.cfg", "cfg", 2};
  PublishedFile script{"", "run.sh", "#!/bin/sh\necho\n", 2, "", true};
  SetUpServer({tool, data, script});
  std::filesystem::create_directory(AppFile("bin"));
  WriteFileBytes(AppFile("bin/tool.sh"), "old");
  ::chmod(AppFile("bin/tool.sh").c_str(), 0640);
  WriteFileBytes(AppFile("data.cfg"), "old!");
  ::chmod(AppFile("data.cfg").c_str(), 0600);

  OpenAndUpdate(Settings());
  ASSERT_TRUE(view_.ended);
  struct stat info;
  ASSERT_EQ(::stat(AppFile("bin/tool.sh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0750u);
  ASSERT_EQ(::stat(AppFile("data.cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(AppFile("run.sh").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & 0100, 0u);
  EXPECT_EQ(ReadFileBytes(AppFile("bin/tool.sh")), "#!/bin/sh\n");
}

TEST_F(UpdateRun, ManifestOfSeveralMegabytesIsSavedByteForByte) {
  fake_ = true;
  std::string padding(6 * 1024 * 1024, 'p');
  std::string manifest =
      SetUpServer({{"", "a.txt", "new"}}, "\"head\":{\"pad\":\"" + padding + "\"}");
  OpenAndUpdate(Settings());
  ASSERT_TRUE(view_.ended);
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), manifest);
}

// Where names are bytes the file takes the server's bytes; where they are UTF-16 text, the
// name those bytes spell in the server's code page.
TEST_F(UpdateRun, NamesInTheServersCodePageAreShownReadableAndWrittenAsGiven) {
  const std::string name = "\xB2\xE2\xCA\xD4.txt";  // "测试.txt" in GB18030
  SetUpServer({{"", name, "gb"}});
  OpenAndUpdate(Settings());
  EXPECT_THAT(view_.statusHistory, ::testing::Contains("下载文件成功 [测试.txt]"));
  EXPECT_EQ(ReadFileBytes(AppFile(kFileNamesAreBytes ? name : "测试.txt")), "gb");
  EXPECT_TRUE(view_.ended);
}

TEST_F(UpdateRun, TaskThatCannotStartFailsWithCodeTwoAndTheQueueMovesOn) {
  SetUpServer({{"", "one.txt", "1"}, {"", "two.txt", "2"}, {"", "three.txt", "3"}});
  fake_ = true;
  fakes_.refuse = [](const CInetFile& transfer) { return transfer.displayName == "two.txt"; };
  OpenAndUpdate(Settings());

  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                                            "需更新文件总数: 3, 文件总长度: 0 KB",
                                            "下载文件失败 [two.txt], 错误代码 [2]",
                                            HasSubstr("/two.txt.txt：传输失败 ("), kFailedRun));
  EXPECT_EQ(ReadFileBytes(AppFile("three.txt.update")), "3");
  EXPECT_TRUE(dialog_->WaitingForUser());
}

// A queued task starts without waiting for a tick, and a finished one hands over to the next at
// once: the whole run, list, manifest and every file, goes on messages alone, one transfer at a
// time in queue order with one connection.
TEST_F(UpdateRun, EachEndedTaskStartsTheNextWithoutATick) {
  std::vector<PublishedFile> files = {
      {"", "one.txt", "1"}, {"sub", "two.txt", std::string(5000, '2')}, {"", "three.txt", "3"}};
  std::string manifest = SetUpServer(files);
  UpdateSettings settings = Settings();
  settings.automatic = true;
  settings.connections = 1;
  ASSERT_TRUE(Open(settings));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  PostedMessage message;
  while (!view_.ended && std::chrono::steady_clock::now() < deadline) {
    if (queue_.Wait(message, std::chrono::milliseconds(50))) {
      dialog_->Dispatch(message);
    }
  }
  ASSERT_TRUE(view_.ended);
  EXPECT_EQ(ReadFileBytes(AppFile("sub/two.txt")), std::string(5000, '2'));
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), manifest);
  std::vector<std::string> paths;
  for (const LoopbackHttpServer::Request& request : server_.Requests()) {
    paths.push_back(request.path);
  }
  EXPECT_THAT(paths, ElementsAre("/servers.txt", "/s1/version.txt", "/s1//one.txt.txt",
                                 "/s1//three.txt.txt", "/s1/sub/two.txt.txt"));
  EXPECT_THAT(view_.statusHistory,
              ElementsAre("正在更新文件：one.txt", "下载文件成功 [one.txt]",
                          "正在更新文件：three.txt", "下载文件成功 [three.txt]",
                          "正在更新文件：two.txt", "下载文件成功 [two.txt]", "更新完毕"));
}

// The first file takes longest and the second fails while the others run: with any number of
// connections the log, the status line and the renames follow the queue as with one, and the
// server sees at most that many requests, and connections, at once.
TEST_F(UpdateRun, TransfersEndingOutOfOrderAreActedOnInQueueOrder) {
  for (unsigned connections : {1u, 2u, 5u}) {
    SCOPED_TRACE("connections " + std::to_string(connections));
    SetUpServer({{"", "one.txt", "1"},
                 {"", "two.txt", "2"},
                 {"", "three.txt", "3"},
                 {"", "four.txt", "4"}});
    WriteFileBytes(AppFile("version.txt"), "\"paths\":[]\n");
    WriteFileBytes(AppFile("one.txt"), "old");
    std::atomic<int> inFlight{0};
    std::atomic<int> most{0};
    auto answer = [&](int delayMs, int status, std::string body) {
      return [&, delayMs, status, body](const LoopbackHttpServer::Request&) {
        int now = ++inFlight;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        --inFlight;
        LoopbackHttpServer::Response response;
        response.status = status;
        response.body = body;
        return response;
      };
    };
    server_.SetHook("/s1//one.txt.txt", answer(400, 200, "1"));
    server_.SetHook("/s1//two.txt.txt", answer(200, 404, ""));
    server_.SetHook("/s1//three.txt.txt", answer(0, 200, "3"));
    server_.SetHook("/s1//four.txt.txt", answer(0, 200, "4"));
    view_.statusHistory.clear();
    UpdateSettings settings = Settings();
    settings.connections = connections;
    const size_t connectionsBefore = server_.ConnectionCount();

    OpenAndUpdate(settings);
    EXPECT_THAT(
        view_.LogTexts(),
        ElementsAre("正在连接：S1", "获取更新文件列表成功：S1",
                    "需更新文件总数: 4, 文件总长度: 0 KB", "下载文件失败 [two.txt], 错误代码 [6]",
                    EndsWith("/two.txt.txt：服务器返回 HTTP 404"), kFailedRun));
    EXPECT_THAT(
        view_.statusHistory,
        ElementsAre("", "正在更新文件：one.txt", "下载文件成功 [one.txt]", "正在更新文件：two.txt",
                    "正在更新文件：three.txt", "下载文件成功 [three.txt]", "正在更新文件：four.txt",
                    "下载文件成功 [four.txt]", kFailedRun));
    EXPECT_EQ(ReadFileBytes(AppFile("one.txt.update")), "1");
    EXPECT_EQ(ReadFileBytes(AppFile("four.txt.update")), "4");
    EXPECT_LE(most.load(), static_cast<int>(connections));
    EXPECT_EQ(most.load() > 1, connections > 1);
    // Kept connections are reused; no more are opened than may be in use at once, and one more
    // for the one dropped with the refused file's response.
    EXPECT_LE(server_.ConnectionCount() - connectionsBefore, connections + 1);
    dialog_.reset();
    server_.ClearRoutes();
    for (const char* name : {"one.txt.update", "three.txt.update", "four.txt.update"}) {
      std::remove(AppFile(name).c_str());
    }
  }
}

// Closing the window while several files arrive cancels and joins every transfer; what they
// wrote stays as their ".update" files, the old files and the manifest as they were.
TEST_F(UpdateRun, ClosingWithSeveralTransfersRunningCancelsThemAll) {
  SetUpServer({{"", "one.txt", "1111"}, {"", "two.txt", "2222"}, {"", "three.txt", "3333"}});
  WriteFileBytes(AppFile("version.txt"), "\"paths\":[]\n");
  WriteFileBytes(AppFile("two.txt"), "old");
  for (const char* name : {"one", "two", "three"}) {
    server_.SetStalled("/s1//" + std::string(name) + ".txt.txt", "xxxx", 2);
  }
  UpdateSettings settings = Settings();
  settings.automatic = true;
  ASSERT_TRUE(Open(settings));
  // The server stalls once it has sent the first bytes; the client has them when it made the file.
  ASSERT_TRUE(PumpUntil([this] {
    return server_.WaitForStalls(3, std::chrono::milliseconds(0)) &&
           FileExists(AppFile("one.txt.update")) && FileExists(AppFile("two.txt.update")) &&
           FileExists(AppFile("three.txt.update"));
  }));
  dialog_.reset();
  server_.ReleaseStalls();
  for (const char* name : {"one.txt.update", "two.txt.update", "three.txt.update"}) {
    EXPECT_TRUE(FileExists(AppFile(name))) << name;
  }
  EXPECT_EQ(ReadFileBytes(AppFile("two.txt")), "old");
  EXPECT_FALSE(FileExists(AppFile("one.txt")));
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), "\"paths\":[]\n");
  EXPECT_EQ(TempFilesLeft(), 0u);
  PostedMessage stale;
  while (queue_.TryTake(stale)) {
  }
}

TEST_F(UpdateRun, EmptyServerListAddressEndsAtOnce) {
  UpdateSettings settings = Settings();
  settings.serverlist = "";
  EXPECT_FALSE(Open(settings));
  EXPECT_EQ(view_.timerPeriod, 0u);
  EXPECT_THAT(view_.trayIcons, IsEmpty());
  EXPECT_THAT(view_.log, IsEmpty());
  dialog_->OnTimer(UpdateDialog::kTimerId);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_FALSE(dialog_->RunFinished());
}

TEST_F(UpdateRun, MessagesForTasksThatAreNotRunningAreIgnored) {
  SetUpServer({});
  ASSERT_TRUE(Open(Settings()));
  CInetFile stranger;
  dialog_->Dispatch(PostedMessage{WM_TRANSFER_DONE, MakeTransferWParam(KindFile, 0), &stranger});
  dialog_->Dispatch(
      PostedMessage{WM_TRANSFER_PROGRESS, MakeTransferWParam(KindFile, 5), &stranger});
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接获取服务器列表"));
  EXPECT_THAT(view_.trayIcons, ElementsAre(130));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_EQ(view_.servers.size(), 1u);
}

// A publisher's key pair; the client holds the public key and asks for signed manifests.
class SignedRun : public UpdateRun {
 protected:
  using Signer = std::function<std::string(const std::string&)>;

  void SetUp() override {
    UpdateRun::SetUp();
    settings_ = Settings();
    key_ = NewKey(settings_.pubkey);
  }
  static MinisignSecretKey NewKey(std::string& publicLine) {
    std::string publicFile, secretFile, error;
    SealedMinisignKey sealed;
    MinisignSecretKey key;
    EXPECT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error) &&
                ParseMinisignSecretKeyFile(secretFile, sealed, error) &&
                UnsealMinisignSecretKey(sealed, "", key, error));
    publicLine = publicFile.substr(publicFile.find('\n') + 1, 56);
    return key;
  }
  static std::string Sign(const MinisignSecretKey& key, const std::string& manifest,
                          const std::string& timestamp = "1000") {
    return SignWithMinisignKey(key, manifest, "timestamp:" + timestamp + "\tfile:version.txt");
  }
  static std::string KeyId(const std::string& publicLine) {
    MinisignPublicKey key;
    EXPECT_TRUE(ParseMinisignPublicKey(publicLine, key));
    return MinisignKeyIdText(key.keyId);
  }
  static std::string Hash(const std::string& content) {
    Sha256 hash;
    hash.Update(content.data(), content.size());
    return hash.HexDigest();
  }
  // Publishes a.txt (hashed unless told) and b.txt with the signature sign makes ("-": none)
  // over the old release.
  void Prepare(bool hashA, const Signer& sign) {
    server_.ClearRoutes();
    PublishedFile a{"", "a.txt", "new", 2}, b{"", "b.txt", "bee", 2, "", false};
    a.hash = hashA ? Hash("new") : "";
    b.hash = Hash("bee");
    std::string signature = sign(SetUpServer({a, b}));
    if (signature != "-") {
      WriteFileBytes(ServedPath("/s1", "version.txt.minisig"), signature);
    }
    WriteFileBytes(AppFile("version.txt"), local_);
    WriteFileBytes(AppFile("a.txt"), "old");
  }
  MinisignSecretKey key_;
  UpdateSettings settings_;
  const std::string local_ = ManifestText({{"", "a.txt", "old", 1}});
};

// What a signing client refuses: nothing is fetched, nothing changes.
// What a signing client refuses: nothing is fetched, nothing changes; the line under the refusal
// says which check failed.
TEST_F(SignedRun, ForgedReplayedOrUnsignedManifestsAreRefused) {
  const std::string invalid = "更新文件列表签名无效, 请选择其他服务器进行尝试：S1";
  std::string other;
  const MinisignSecretKey otherKey = NewKey(other);
  const std::string ours = "  签名 (密钥 ID " + KeyId(settings_.pubkey) +
                           ") 与此更新文件列表不符: 文件被改动过, 或签名属于另一个版本";
  const struct {
    Signer sign;
    std::string line, detail;
  } cases[] = {
      {[&](const std::string& m) { return Sign(otherKey, m); }, invalid,
       "  签名使用的密钥 ID 为 " + KeyId(other) + ", 而 Lodestar.cfg 中 pubkey 的密钥 ID 为 " +
           KeyId(settings_.pubkey)},
      {[&](const std::string&) { return std::string("-"); }, invalid,
       "  " + server_.Url("/s1/version.txt.minisig") + "：没有签名文件 (HTTP 404)"},
      {[&](const std::string& m) { return Sign(key_, m + " "); }, invalid, ours},
      {[&](const std::string& m) {
         WriteFileBytes(ServedPath("/s1", "version.txt"), m + " ");  // an altered byte
         return Sign(key_, m);
       },
       invalid, ours},
      {[&](const std::string& m) { return SignWithMinisignKey(key_, m, "file:version.txt"); },
       invalid, "  签名中没有时间戳 (请用 lodestar-publish --sign 签名)"},
      {[&](const std::string& m) {
         WriteFileBytes(AppFile("version.txt.minisig"), Sign(key_, "newer", "1001"));
         return Sign(key_, m);
       },
       "更新文件列表早于当前版本, 请选择其他服务器进行尝试：S1",
       "  此版本签名于 1970-01-01 00:16:40 UTC, 早于已安装版本的 1970-01-01 00:16:41 UTC"},
  };
  for (const auto& [sign, line, detail] : cases) {
    Prepare(true, sign);
    OpenAndUpdate(settings_);
    EXPECT_THAT(view_.LogTexts(),
                ElementsAre("正在连接：S1", "获取更新文件列表成功：S1", line, detail));
    EXPECT_EQ(server_.Requests().back().path, "/s1/version.txt.minisig");
    EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), "old");
    EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), local_);
    EXPECT_TRUE(dialog_->WaitingForUser());
    EXPECT_EQ(TempFilesLeft(), 0u);
    dialog_.reset();
    view_ = RecordingView();
  }
}

// The floor is the higher of the kept signature's timestamp and the local manifest's signed head
// timestamp (all an installation made from a release folder has); maxage refuses signatures older
// than that many days. Each bound lets its equal pass.
TEST_F(SignedRun, TimestampsBelowTheFloorOrPastTheMaximumAgeAreRefused) {
  fake_ = true;
  const char* replay = "更新文件列表早于当前版本, 请选择其他服务器进行尝试：S1";
  const char* accepted = "需更新文件总数: 2, 文件总长度: 0 KB";
  const struct {
    std::string head, kept;  // the local manifest's head and the kept signature's timestamps
    int64_t maxAgeDays, now;
    const char* line;
  } cases[] = {{"1001", "", 0, 0, replay},
               {"1000", "", 0, 0, accepted},
               {"999", "1001", 0, 0, replay},
               {"1e9", "", 0, 0, accepted},
               {"", "", 1, 87400, accepted},
               {"", "", 1, 87401, "更新文件列表已过期, 请选择其他服务器进行尝试：S1"}};
  for (const auto& c : cases) {
    Prepare(true, [&](const std::string& m) { return Sign(key_, m); });
    WriteFileBytes(
        AppFile("version.txt"),
        ManifestText({{"", "a.txt", "old", 1}}, "\"head\":{\"timestamp\":\"" + c.head + "\"}"));
    WriteFileBytes(AppFile("version.txt.minisig"), c.kept.empty() ? "" : Sign(key_, "x", c.kept));
    settings_.maxAgeDays = c.maxAgeDays;
    secondsNow_ = c.now;
    OpenAndUpdate(settings_);
    EXPECT_EQ(view_.LogTexts().at(2), c.line) << c.head << " " << c.kept << " " << c.now;
    EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), c.line == accepted ? "new" : "old");
    dialog_.reset();
    view_ = RecordingView();
  }
}

// A clean run's saves go signature, manifest, journal: at the first that fails it stops, so the
// floor never stands below files in place; the journal stays, and the next "立即更新" saves the
// rest.
TEST_F(SignedRun, SavingStopsAtTheFirstFileThatCannotBeWritten) {
  const struct {
    std::string* call;
    const char* name;
    bool signatureKept, manifestSaved;
  } cases[] = {{&disk_.failReplace, "version.txt.minisig", false, false},
               {&disk_.failReplace, "version.txt", true, false},
               {&disk_.failRemove, "version.txt.commit", true, true}};
  fake_ = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(true, [&](const std::string& m) { return Sign(key_, m); });
    std::remove(AppFile("version.txt.minisig").c_str());
    *c.call = c.name;
    OpenAndUpdate(settings_);
    *c.call = "";
    EXPECT_EQ(view_.LogTexts().back(), "保存下载进度遇到异常!");
    EXPECT_FALSE(view_.ended);
    EXPECT_EQ(ReadFileBytes(AppFile("a.txt")), "new");
    EXPECT_EQ(ReadFileBytes(AppFile("version.txt")) != local_, c.manifestSaved);
    EXPECT_EQ(FileExists(AppFile("version.txt.minisig")), c.signatureKept);
    EXPECT_TRUE(FileExists(AppFile("version.txt.commit")));
    dialog_->OnUpdateNow();
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_TRUE(view_.ended);
    EXPECT_NE(ReadFileBytes(AppFile("version.txt")), local_);
    EXPECT_TRUE(FileExists(AppFile("version.txt.minisig")));
    EXPECT_FALSE(FileExists(AppFile("version.txt.commit")));
    dialog_.reset();
    view_ = RecordingView();
  }
}

// With failover, a manifest the selected server spoils hands the automatic run to the next
// server (round to the list's first), whose files are fetched: S2's differ, and would show.
TEST_F(SignedRun, FailoverInstallsFromTheNextServerWhenTheManifestIsRefused) {
  fake_ = true;
  std::string unused;
  const MinisignSecretKey stranger = NewKey(unused);
  const struct {
    std::string kept, timestamp;
    bool otherKey, garbage;
    const char* line;  // null: the message box
  } cases[] = {
      {"", "200000", true, false, "更新文件列表签名无效, 请选择其他服务器进行尝试：S2"},
      {"150000", "140000", false, false, "更新文件列表早于当前版本, 请选择其他服务器进行尝试：S2"},
      {"", "100000", false, false, "更新文件列表已过期, 请选择其他服务器进行尝试：S2"},
      {"", "200000", false, true, nullptr},
  };
  settings_.automatic = settings_.failover = true;
  settings_.maxAgeDays = 1;
  secondsNow_ = 200000;
  for (const auto& c : cases) {
    Prepare(true, [&](const std::string& m) { return Sign(key_, m, "200000"); });
    WriteFileBytes(AppFile("version.txt.minisig"), c.kept.empty() ? "" : Sign(key_, "x", c.kept));
    std::string manifest = Publish("/s2", {{"", "a.txt", "NEW", 2}, {"", "b.txt", "BEE", 2}});
    if (c.garbage) {
      WriteFileBytes(ServedPath("/s2", "version.txt"), manifest = "{garbage");
    }
    WriteFileBytes(ServedPath("/s2", "version.txt.minisig"),
                   Sign(c.otherKey ? stranger : key_, manifest, c.timestamp));
    SetServerList("S1|" + server_.Url("/s1") + "\nS2|" + server_.Url("/s2") + "\n");
    ASSERT_TRUE(Open(settings_));
    ASSERT_TRUE(PumpUntilIdle());
    std::vector<std::string> expected = {"正在连接：S2",
                                         "获取更新文件列表成功：S2",
                                         "正在连接：S1",
                                         "获取更新文件列表成功：S1",
                                         "需更新文件总数: 2, 文件总长度: 0 KB",
                                         "更新完毕"};
    if (c.line != nullptr) {
      expected.insert(expected.begin() + 2, c.line);
    }
    std::vector<std::string> log = view_.LogTexts();
    log.erase(std::remove_if(log.begin(), log.end(),
                             [](const std::string& line) { return line.rfind("  ", 0) == 0; }),
              log.end());  // the lines of detail
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.end()), expected);
    EXPECT_EQ(view_.messageBoxes.size(), c.line != nullptr ? 0u : 1u);
    EXPECT_EQ(view_.selected, 0) << "the server in use is shown chosen";
    EXPECT_EQ(ReadFileBytes(AppFile("a.txt")) + ReadFileBytes(AppFile("b.txt")), "newbee");
    dialog_.reset();
    view_ = RecordingView();
  }
}

// Under a valid signature a file that is not what its hash says, or has no hash, fails.
TEST_F(SignedRun, AlteredOrUnhashedFilesFailAndAreNeverInstalled) {
  Prepare(false, [&](const std::string& m) { return Sign(key_, m); });
  WriteFileBytes(ServedPath("/s1", "b.txt.txt"), "BEE");
  OpenAndUpdate(settings_);
  EXPECT_THAT(
      view_.LogTexts(),
      ElementsAre("正在连接：S1", "获取更新文件列表成功：S1", "需更新文件总数: 2, 文件总长度: 0 KB",
                  "下载文件失败 [a.txt], 错误代码 [10]",
                  "  " + server_.Url("/s1//a.txt.txt") +
                      "：更新文件列表没有给出此文件的校验值, 带签名的更新要求每个文件都有",
                  "下载文件失败 [b.txt], 错误代码 [10]",
                  "  " + server_.Url("/s1//b.txt.txt") + "：内容与更新文件列表中的校验值不符",
                  kFailedRun));
  EXPECT_EQ(server_.Requests().back().path, "/s1//b.txt.txt");  // a.txt is not asked for
  EXPECT_FALSE(FileExists(AppFile("b.txt.update")));
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), local_);
}

}  // namespace
