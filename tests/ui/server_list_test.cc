#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialog_harness.h"
#include "ui/server_rotation.h"

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;

namespace {

class ServerListStep : public DialogHarness {
 protected:
  // Each listed server as "name@url", the URL as the manifest's fetch reveals it: the server is
  // chosen and "立即更新" pressed, and its manifest is missing.
  std::vector<std::string> Chosen() {
    std::vector<std::string> chosen;
    for (size_t i = 0; i < view_.servers.size(); ++i) {
      dialog_->OnServerChosen(i);
      dialog_->OnUpdateNow();
      const std::string url = fakes_.running.empty() ? "none" : fakes_.running.back()->url;
      chosen.push_back(view_.servers[i] + "@" + url);
      EXPECT_TRUE(PumpUntilIdle());
    }
    return chosen;
  }
};

TEST_F(ServerListStep, LinesAreTrimmedAndMalformedOnesSkipped) {
  fake_ = true;
  SetServerList(
      "  Alpha  \t|  http://a  \r\n"
      "|http://nobody\n"
      "no bar here\n"
      "Empty URL |   \n"
      "   | empty name\n"
      "\n"
      "Gamma|http://g|more\n"
      "Last|http://l");  // no line end
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());

  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 3 个可选服务器"));
  EXPECT_EQ(view_.log[1].code, 0u);
  EXPECT_EQ(view_.selected, 2);
  EXPECT_TRUE(dialog_->WaitingForUser());
  EXPECT_EQ(TempFilesLeft(), 0u);
  EXPECT_THAT(Chosen(), ElementsAre("Alpha@http://a/version.txt", "Gamma@http://g|more/version.txt",
                                    "Last@http://l/version.txt"));
}

TEST_F(ServerListStep, OnlyTheLastThousandServersOfAHugeListAreTaken) {
  fake_ = true;
  std::string list;
  for (int i = 0; i < 2500; ++i) {
    list += "S" + std::to_string(i) + "|http://s/" + std::to_string(i) + "\nbroken line\n";
  }
  SetServerList(list);
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());

  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1000 个可选服务器"));
  ASSERT_EQ(view_.servers.size(), 1000u);
  for (size_t i = 0; i < view_.servers.size(); ++i) {
    EXPECT_EQ(view_.servers[i], "S" + std::to_string(1500 + i));
  }
  EXPECT_EQ(view_.selected, 999);
}

// Listed in file order, the last line chosen; how a box sorts them is the front end's business.
TEST_F(ServerListStep, ServersAreListedInFileOrderWithTheLastLineChosen) {
  fake_ = true;
  SetServerList("B|http://b\nA|http://a\n");
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.servers, ElementsAre("B", "A"));
  EXPECT_EQ(view_.selected, 1);
}

TEST_F(ServerListStep, AutomaticModeRunsFromTheLastTakenServerWithoutTheUser) {
  std::string manifest = Publish("/a", {{"", "app.dat", "data"}});
  SetServerList("B|" + server_.Url("/b") + "\nA|" + server_.Url("/a") + "\n");
  UpdateSettings settings = Settings();
  settings.automatic = true;
  ASSERT_TRUE(Open(settings));
  ASSERT_TRUE(PumpUntilIdle());

  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 2 个可选服务器",
                          "正在连接：A", "获取更新文件列表成功：A",
                          "需更新文件总数: 1, 文件总长度: 0 KB", "更新完毕"));
  EXPECT_TRUE(view_.ended);
  EXPECT_EQ(ReadFileBytes(AppFile("app.dat")), "data");
  EXPECT_EQ(ReadFileBytes(AppFile("version.txt")), manifest);
  EXPECT_EQ(launcher_.launches.size(), 1u);
  for (const LoopbackHttpServer::Request& request : server_.Requests()) {
    EXPECT_NE(request.path.rfind("/b", 0), 0u) << request.path;
  }
}

TEST_F(ServerListStep, NoUsableLineLeavesNothingToChoose) {
  SetServerList("garbage\n|http://x\n");
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                          "  " + server_.Url("/servers.txt") + "：没有 \"名称|地址\" 形式的行"));
  EXPECT_THAT(view_.servers, IsEmpty());

  dialog_->OnUpdateNow();  // no selection: nothing starts
  EXPECT_TRUE(dialog_->WaitingForUser());
  EXPECT_THAT(view_.log, IsEmpty());
  EXPECT_EQ(server_.RequestCount(), 1u);
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(ServerListStep, CutShortListUsesTheLinesThatArrivedWhole) {
  // Cut inside the second URL: "B|http:" must not become a server.
  server_.SetCutShort("/servers.txt", "A|http://a\nB|http://b\n", 18);
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(),
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器"));
  EXPECT_EQ(view_.log[1].code, 2u);  // the transfer's code goes with the line
  EXPECT_EQ(view_.servers.size(), 1u);
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(ServerListStep, MissingListGivesNoServers) {
  server_.SetStatus("/servers.txt", 404, "A|http://a\n");
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                                            EndsWith("/servers.txt：服务器返回 HTTP 404")));
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(ServerListStep, ListThatFindsNoTemporaryFileSaysSo) {
  SetServerList("A|http://a\n");
  SetEnvironmentValue(kTempFolderVariable, work_.File("missing"));
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                                            "  无法在存放临时文件的文件夹中创建文件"));
  EXPECT_TRUE(dialog_->WaitingForUser());
}

TEST_F(ServerListStep, LongLinesAndNamesInTheServersCodePage) {
  std::string longUrl = "http://h/" + std::string(200000, 'u');
  SetServerList("\xB2\xE2\xCA\xD4|" + longUrl + "\nPlain|http://p\n");
  ASSERT_TRUE(Open(Settings()));
  ASSERT_TRUE(PumpUntilIdle());

  EXPECT_THAT(view_.servers, ElementsAre("测试", "Plain"));

  dialog_->OnServerChosen(0);
  dialog_->OnUpdateNow();
  EXPECT_THAT(view_.LogTexts(), ElementsAre("正在连接：测试"));
}

// After the server tried first, the others in the list's order, wrapping round, each once; a URL
// listed twice is one server.
TEST(ServerRotation, TakesEachOtherServerOnceFromTheOneAfterTheFirst) {
  const struct {
    std::vector<std::string> urls;
    size_t first;
    std::vector<size_t> order;
  } cases[] = {
      {{"a", "b", "c", "d"}, 1, {2, 3, 0}},
      {{"a", "b", "c", "d"}, 3, {0, 1, 2}},
      {{"a", "b", "c"}, 0, {1, 2}},
      {{"a"}, 0, {}},
      {{"a", "b", "a", "c"}, 3, {0, 1}},
      {{"a", "b", "a"}, 0, {1}},
      {{"a", "b"}, 2, {}},
      {{}, 0, {}},
  };
  for (const auto& c : cases) {
    ServerRotation rotation(c.urls, c.first);
    std::vector<size_t> order;
    size_t next = 0;
    while (rotation.Next(next) && order.size() <= c.urls.size()) {
      order.push_back(next);
    }
    EXPECT_EQ(order, c.order) << ::testing::PrintToString(c.urls) << " from " << c.first;
    EXPECT_FALSE(rotation.Next(next)) << "once done, done for good";
  }
  size_t next = 0;
  EXPECT_FALSE(ServerRotation().Next(next));
}

}  // namespace
