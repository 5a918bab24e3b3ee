#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/tls_test_servers.h"
#include "terminal_run.h"

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

TEST_F(TerminalRun, FirstRunInstallsEverythingAndLaunchesExecThenSecondRunIsUpToDate) {
  std::string manifest = Publish("r1");
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/r1") + "\n");
  Configure(true);

  RunResult first = Run();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                          "正在连接：Main", "获取更新文件列表成功：Main",
                          "需更新文件总数: 3, 文件总长度: 3 KB", "更新完毕"));
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), "read me\n");
  EXPECT_EQ(ReadFileBytes(app_.File("data/deep/core.bin")), std::string(3000, 'c'));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  EXPECT_EQ(WaitForLaunch(), "[--from]\n[the updater]\n");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  EXPECT_THAT(first.err, HasSubstr("下载文件成功 [core.bin]"));

  ::unlink(app_.File("launched.txt").c_str());
  size_t fetched = FileRequests();
  RunResult second = Run();
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_THAT(second.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                          "正在连接：Main", "获取更新文件列表成功：Main", "你当前的版本是最新的"));
  EXPECT_EQ(FileRequests(), fetched);
  EXPECT_EQ(WaitForLaunch(), "[--from]\n[the updater]\n");
}

TEST_F(TerminalRun, FailedFileKeepsTheOldManifestAndARerunCompletes) {
  Publish("broken", {"data/readme.txt"});
  std::string manifest = Publish("good");
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/broken") + "\n");
  Configure(true);
  WriteFileBytes(app_.File("version.txt"), "\"paths\":[]\n");

  RunResult failed = Run();
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(
      failed.log,
      ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器",
                  "正在连接：Main", "获取更新文件列表成功：Main",
                  "需更新文件总数: 3, 文件总长度: 3 KB", "下载文件失败 [readme.txt], 错误代码 [6]",
                  EndsWith("/readme.txt.txt：服务器返回 HTTP 404"), kFailedRun));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), "\"paths\":[]\n");
  EXPECT_FALSE(FileExists(app_.File("launched.txt")));

  server_.SetBody("/servers.txt", "Main|" + server_.Url("/good") + "\n");
  RunResult rerun = Run();
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_THAT(rerun.log, ::testing::Contains("更新完毕"));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), "read me\n");
}

TEST_F(TerminalRun, UserChoosesTheServerOnStandardInput) {
  Publish("good");
  server_.SetBody("/servers.txt",
                  "Good|" + server_.Url("/good") + "\nBad|" + server_.Url("/none") + "\n");
  Configure(false);

  // The last line ("Bad") is selected; "2" picks "Good" (sorted below "Bad"), then Enter.
  RunResult run = Run("2\n\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("* 1. Bad\n  2. Good\n"));
  EXPECT_THAT(run.err, HasSubstr("  1. Bad\n* 2. Good\n"));
  ASSERT_GE(run.log.size(), 3u);
  EXPECT_EQ(run.log[2], "正在连接：Good");
  EXPECT_FALSE(WaitForLaunch().empty());
}

TEST_F(TerminalRun, QuitOrEndOfInputClosesWhileWaiting) {
  Publish("good");
  server_.SetBody("/servers.txt", "Good|" + server_.Url("/good") + "\n");
  Configure(false);

  RunResult quit = Run("q\n\n");
  EXPECT_EQ(quit.status, 1);
  EXPECT_THAT(quit.log,
              ElementsAre("正在连接获取服务器列表", "获取服务器列表成功,共取得 1 个可选服务器"));

  RunResult ended = Run("");
  EXPECT_EQ(ended.status, 1);
  EXPECT_EQ(ended.log.size(), 2u);
  EXPECT_EQ(FileRequests(), 0u);
}

TEST_F(TerminalRun, UnloadableManifestReportsWithoutWaitingForAKey) {
  std::string root = work_.File("junk");
  ::mkdir(root.c_str(), 0755);
  WriteFileBytes(root + "/version.txt", "{garbage");
  server_.ServeDirectory("/junk", root);
  server_.SetBody("/servers.txt", "Junk|" + server_.Url("/junk") + "\n");
  Configure(true);

  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("装载远程版本信息失败!"));
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(TerminalRun, InterruptCancelsTheRunningTransfer) {
  Publish("slow");
  server_.SetStalled("/slow/data/deep/core.bin.txt", std::string(3000, 'c'), 1500);
  server_.SetBody("/servers.txt", "Slow|" + server_.Url("/slow") + "\n");
  Configure(true);

  auto started = std::chrono::steady_clock::now();
  RunResult run = Run("", std::chrono::seconds(30), [this](pid_t pid) {
    ASSERT_TRUE(server_.WaitForStalls(1, std::chrono::seconds(20)));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_THAT(run.log, Not(::testing::Contains("更新完毕")));
  EXPECT_THAT(run.err, HasSubstr("更新已取消, 下次运行时从中断处继续\n"));
  EXPECT_FALSE(FileExists(app_.File("version.txt")));
  server_.ReleaseStalls();
}

// The unquoted ":" in param stops the reader before pubkey: nothing is fetched, installed or
// launched, and the reason is printed without waiting for anyone.
TEST_F(TerminalRun, ConfigurationThatLostItsKeyEndsAtOnceWithTheReason) {
  WriteFileBytes(app_.File("Lodestar.cfg"),
                 "serverlist:\"" + server_.Url("/servers.txt") +
                     "\",auto:1,exec:start.sh,param:a:b,pubkey:\"RWQf6LRCGA9i53mlYecO4IzT51TGP\"");
  RunResult run = Run("", std::chrono::seconds(10));
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.log, ElementsAre("未能读出 Lodestar.cfg 中的 pubkey, 不进行更新",
                                   "含有 \":\" 的值须用引号括起来, 如 param:\"a:b\""));
  EXPECT_THAT(run.err, HasSubstr("Lodestar.cfg 中的 pubkey"));
  EXPECT_EQ(server_.RequestCount(), 0u);
}

// Names that would set the title, clear the screen, move the cursor (C1 CSI) or reverse the text
// reach the terminal with those characters replaced.
TEST_F(TerminalRun, ServerNamesCannotSteerTheTerminal) {
  Publish("r1");
  const std::string url = "|" + server_.Url("/r1") + "\n";
  server_.SetBody("/servers.txt", "\x1b]0;owned\x07Title" + url + "Clear\x1b[2J" + url +
                                      "\xc2\x9b"
                                      "2J\xe2\x80\xaeReversed\xe2\x81\xa6" +
                                      url);
  Configure(true);
  RunResult run = Run();
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* steering : {"\x1b", "\x07", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x81\xa6"}) {
    EXPECT_EQ((run.out + run.err).find(steering), std::string::npos)
        << ::testing::PrintToString(std::string(steering));
  }
  EXPECT_THAT(run.err, HasSubstr("\xEF\xBF\xBD]0;owned\xEF\xBF\xBDTitle"));
}

// The log without its lines of detail.
std::vector<std::string> Headlines(const RunResult& run) {
  std::vector<std::string> lines;
  std::copy_if(run.log.begin(), run.log.end(), std::back_inserter(lines),
               [](const std::string& line) { return line.rfind("  ", 0) != 0; });
  return lines;
}

// failover:1 hands an automatic run whose server is down to the next of the list; with every
// server down the run ends as before, each one's line logged once; without failover it ends at
// the first.
TEST_F(TerminalRun, FailoverTakesTheNextServerUntilEachHasFailedOnce) {
  const std::string manifest = Publish("good");
  const std::string down = "http://127.0.0.1:" + std::to_string(LoopbackHttpServer::UnusedPort());
  const std::string failed = "连接服务器失败, 请选择其他服务器进行尝试：";
  const std::vector<std::string> listed = {"正在连接获取服务器列表",
                                           "获取服务器列表成功,共取得 2 个可选服务器"};
  server_.SetBody("/servers.txt", "Good|" + server_.Url("/good") + "\nDown|" + down + "\n");
  Configure(true, ",failover:1");
  RunResult run = Run();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(Headlines(run), ElementsAre(listed[0], listed[1], "正在连接：Down", failed + "Down",
                                          "正在连接：Good", "获取更新文件列表成功：Good",
                                          "需更新文件总数: 3, 文件总长度: 3 KB", "更新完毕"));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  EXPECT_FALSE(WaitForLaunch().empty());

  server_.SetBody("/servers.txt", "Gone|" + server_.Url("/gone") + "\nDown|" + down + "\n");
  const std::vector<std::string> tried = {"正在连接：Down", failed + "Down", "正在连接：Gone",
                                          "取得服务器文件失败, 请选择其他服务器进行尝试：Gone"};
  for (const bool failover : {true, false}) {
    Configure(true, failover ? ",failover:1" : "");
    RunResult all = Run();
    EXPECT_EQ(all.status, 1);
    std::vector<std::string> expected = listed;
    expected.insert(expected.end(), tried.begin(), tried.begin() + (failover ? 4 : 2));
    EXPECT_EQ(Headlines(all), expected);
  }
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
}

// https end to end. cacert names the test CA: a server whose certificate leads elsewhere fails
// with the certificate's text, and failover installs from the one that leads there. Without
// cacert the system's roots refuse the test CA, for a manifest and for a file (through a redirect
// from http): nothing is installed. A cacert that gives no roots stops the run before any request.
TEST_F(TerminalRun, HttpsInstallsOnlyFromServersTheRootsOfCacertVouchFor) {
  TlsTestServers tls;
  if (!tls.failure().empty()) {
    GTEST_SKIP() << tls.failure();
  }
  const std::string manifest = Publish("r1");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(work_.File("r1"))) {
    if (entry.is_regular_file()) {
      tls.Serve(entry.path().string().substr(work_.path().size() + 1),
                ReadFileBytes(entry.path().string()));
    }
  }
  std::filesystem::create_directory(app_.File("certs"));
  std::filesystem::copy_file(tls.CaFile(), app_.File("certs/ca.pem"));
  const std::string refused = "服务器证书无效, 请选择其他服务器进行尝试：";
  server_.SetBody("/servers.txt", "Secure|" + tls.Url("good", "/r1") + "\nStranger|" +
                                      tls.Url("stranger", "/r1") + "\n");
  Configure(true, ",failover:1,cacert:\"certs/ca.pem\"");
  RunResult trusted = Run();
  EXPECT_EQ(trusted.status, 0) << trusted.err;
  EXPECT_THAT(Headlines(trusted),
              ::testing::IsSupersetOf({refused + "Stranger", std::string("更新完毕")}));
  EXPECT_EQ(ReadFileBytes(app_.File("data/deep/core.bin")), std::string(3000, 'c'));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);

  std::filesystem::remove_all(app_.File("data"));
  std::filesystem::remove(app_.File("version.txt"));
  server_.SetBody("/servers.txt", "Secure|" + tls.Url("good", "/r1") + "\n");
  Configure(true);
  RunResult untrusted = Run();
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_EQ(Headlines(untrusted).back(), refused + "Secure");
  server_.SetBody("/servers.txt", "Mirror|" + server_.Url("/r1") + "\n");
  server_.SetRedirect("/r1/data/readme.txt.txt", tls.Url("good", "/r1/data/readme.txt.txt"));
  untrusted = Run();
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_THAT(untrusted.log, ::testing::Contains("下载文件失败 [readme.txt], 错误代码 [11]"));
  EXPECT_FALSE(FileExists(app_.File("data/readme.txt")));
  EXPECT_FALSE(FileExists(app_.File("version.txt")));

  // Redirected from https down to http: refused, and the manifest's line says so.
  server_.SetBody("/servers.txt",
                  "Down|" + tls.Url("good", "/to?url=" + server_.Url("/r1")) + "\n");
  Configure(true, ",cacert:\"certs/ca.pem\"");
  RunResult down = Run();
  EXPECT_EQ(down.status, 1);
  EXPECT_EQ(Headlines(down).back(), "重定向失败, 请选择其他服务器进行尝试：Down");

  const size_t requests = server_.RequestCount();
  const std::pair<const char*, std::string> unusable[] = {
      {"missing.pem", " 不存在, 不进行更新"},
      {"Lodestar.cfg", " 不含可用的证书, 不进行更新"},
  };
  for (const auto& [cacert, problem] : unusable) {
    Configure(true, std::string(",cacert:") + cacert);
    RunResult stopped = Run("", std::chrono::seconds(10));
    EXPECT_EQ(stopped.status, 1);
    ASSERT_FALSE(stopped.log.empty());
    EXPECT_EQ(stopped.log[0], "Lodestar.cfg 中 cacert 所指的文件 " + app_.File(cacert) + problem);
  }
  EXPECT_EQ(server_.RequestCount(), requests);
}

// What each of these once left unsaid (no output at all, or a line that named no URL, no status
// and no key): now it says what and where, and the exit status tells the outcome.
TEST_F(TerminalRun, SilentCasesSayWhatAndWhere) {
  Publish("good");
  Publish("nofile", {"data/readme.txt"});
  // The release signed with one key, and Lodestar.cfg given another's.
  const std::string signer = work_.File("a"), other = work_.File("b");
  for (const std::string& key : {signer, other}) {
    ASSERT_EQ(std::system(
                  ("minisign -G -W -p '" + key + ".pub' -s '" + key + ".key' >/dev/null").c_str()),
              0);
  }
  ASSERT_EQ(std::system(("minisign -S -s '" + signer + ".key' -m '" + work_.File("good") +
                         "/version.txt' >/dev/null")
                            .c_str()),
            0);
  const std::string signerPub = ReadFileBytes(signer + ".pub"),
                    otherPub = ReadFileBytes(other + ".pub");
  // The comment line's last word; minisign leaves out an ID's leading zeros, Lodestar shows 16
  // digits.
  const auto keyId = [](const std::string& pub) {
    const std::string comment = pub.substr(0, pub.find('\n'));
    const std::string id = comment.substr(comment.rfind(' ') + 1);
    return std::string(16 - std::min<size_t>(id.size(), 16), '0') + id;
  };
  const std::string otherKey = otherPub.substr(otherPub.find('\n') + 1, 56);

  const std::string host = server_.Url("");
  const std::string list = server_.Url("/servers.txt");
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(LoopbackHttpServer::UnusedPort()) + "/servers.txt";
  const auto configured = [](const std::string& url, const std::string& more = "") {
    return "serverlist:\"" + url + "\",auto:1" + more;
  };
  const struct {
    std::string cfg;      // "-": no Lodestar.cfg
    std::string servers;  // the server list's lines
    std::vector<std::string> said;
  } cases[] = {
      {"-", "", {"找不到 Lodestar.cfg：" + app_.path() + "/Lodestar.cfg"}},
      {"serverlsit:\"" + list + "\"",
       "",
       {"Lodestar.cfg 中的 serverlsit 不是可识别的设置", "Lodestar.cfg 中没有可用的 serverlist"}},
      {"{" + configured(list) + "}", "", {"Lodestar.cfg 第 1 行第 1 列：应为键名处出现了括号"}},
      {"serverlist:" + list, "", {"Lodestar.cfg 第 1 行第 16 列：值中含有未加引号的 \":\""}},
      {configured(list, ",exec: start.sh"),
       "Main|" + host + "/good",
       {"Lodestar.cfg 中 exec 指定的 \" start.sh\" 不存在", "更新完毕",
        "无法启动 " + app_.path() + "// start.sh：No such file or directory"}},
      {configured(host + "/missing.txt"),
       "",
       {"获得服务器列表失败\n", "  " + host + "/missing.txt：服务器返回 HTTP 404"}},
      {configured(refused), "", {"获得服务器列表失败\n", "  " + refused + "：传输失败 ("}},
      {configured("htp" + list.substr(4)),
       "",
       {"  htp" + list.substr(4) + "：不是 http 或 https 地址"}},
      {configured(list),
       "Main|" + host + "/nofile",
       {"下载文件失败 [readme.txt], 错误代码 [6]\n",
        "  " + host + "/nofile/data/readme.txt.txt：服务器返回 HTTP 404"}},
      {configured(list, ",pubkey:\"" + otherKey + "\""),
       "Main|" + host + "/good",
       {"更新文件列表签名无效, 请选择其他服务器进行尝试：Main\n",
        "  签名使用的密钥 ID 为 " + keyId(signerPub) + ", 而 Lodestar.cfg 中 pubkey 的密钥 ID 为 " +
            keyId(otherPub)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cfg);
    for (const auto& entry : std::filesystem::directory_iterator(app_.path())) {
      if (entry.path().filename() != "Lodestar") {
        std::filesystem::remove_all(entry.path());
      }
    }
    if (c.cfg != "-") {
      WriteFileBytes(app_.File("Lodestar.cfg"), c.cfg);
    }
    server_.SetBody("/servers.txt", c.servers);
    RunResult run = Run("", std::chrono::seconds(30));
    EXPECT_EQ(run.status, 1);
    for (const std::string& text : c.said) {
      EXPECT_THAT(run.out + run.err, HasSubstr(text));
    }
  }
}

// language:en says everything in English; auto follows the user's locale.
TEST_F(TerminalRun, LanguageOfTheRun) {
  Publish("good");
  server_.SetBody("/servers.txt", "Main|" + server_.Url("/good") + "\n");
  const std::vector<std::string> english = {"Connecting to get the server list",
                                            "Server list received: 1 servers to choose from",
                                            "Connecting: Main", "Update file list received: Main"};
  const std::vector<std::string> chinese = {"正在连接获取服务器列表",
                                            "获取服务器列表成功,共取得 1 个可选服务器",
                                            "正在连接：Main", "获取更新文件列表成功：Main"};
  const struct {
    const char* language;
    const char* locale;
    const std::vector<std::string>& lines;
  } cases[] = {{"en", "zh_CN.UTF-8", english},
               {"auto", "en_US.UTF-8", english},
               {"auto", "zh_CN.UTF-8", chinese},
               {"zh", "en_US.UTF-8", chinese}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.language) + " " + c.locale);
    WriteFileBytes(app_.File("Lodestar.cfg"), "serverlist:\"" + server_.Url("/servers.txt") +
                                                  "\",auto:1,language:" + c.language);
    extraEnvironment_ = {std::string("LANG=") + c.locale};
    RunResult run = Run();
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_GE(run.log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(run.log.begin(), run.log.begin() + 4), c.lines);
  }
}

// Every file beside the application with its content.
std::map<std::string, std::string> FolderContents(const std::string& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    contents[entry.path().string()] = entry.is_regular_file() ? ReadFileBytes(entry.path()) : "/";
  }
  return contents;
}

// --check says what a run would do from each server, fetching only the texts and changing
// nothing; its status tells whether the server a run would use works.
TEST_F(TerminalRun, CheckSaysWhatARunWouldDoAndChangesNothing) {
  Publish("good");
  Configure(true);
  arguments_ = {"--check"};
  const std::string good = "Main|" + server_.Url("/good") + "\n";
  const struct {
    std::string servers;
    int status;
    std::vector<std::string> said;
  } cases[] = {
      {"Gone|" + server_.Url("/gone") + "\n" + good,
       0,
       {"Lodestar.cfg：" + app_.path() + "/Lodestar.cfg\n",
        "  serverlist：" + server_.Url("/servers.txt") + "\n", "  param：[--from] [the updater]\n",
        "  " + server_.Url("/gone") +
            "/version.txt：服务器返回 HTTP 404\nGone：从此服务器更新会失败\n",
        "Main：可以更新, 将下载 3 个文件, 共 " + std::to_string(std::strlen(kStartScript) + 3008) +
            " 字节\n",
        "自动选择的服务器是 Main：可以更新\n"}},
      {good + "Gone|" + server_.Url("/gone") + "\n",
       1,
       {"Main：可以更新", "自动选择的服务器是 Gone：无法更新\n"}},
  };
  const auto before = FolderContents(app_.path());
  for (const auto& c : cases) {
    server_.SetBody("/servers.txt", c.servers);
    RunResult run = Run();
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    for (const std::string& text : c.said) {
      EXPECT_THAT(run.out, HasSubstr(text));
    }
  }
  EXPECT_EQ(FolderContents(app_.path()), before);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  EXPECT_EQ(FileRequests(), 0u);

  std::filesystem::remove(app_.File("Lodestar.cfg"));
  RunResult broken = Run();
  EXPECT_EQ(broken.status, 1);
  EXPECT_THAT(broken.out, HasSubstr("找不到 Lodestar.cfg"));
  EXPECT_THAT(broken.out, HasSubstr("配置有误, 不会进行更新"));
}

}  // namespace
