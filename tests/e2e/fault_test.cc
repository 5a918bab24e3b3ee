#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "support/manifest_text.h"
#include "support/served_release.h"
#include "terminal_run.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The last two lines of a log: a failure and its line of detail.
std::vector<std::string> LastTwo(const std::vector<std::string>& log) {
  return log.size() < 2 ? log : std::vector<std::string>(log.end() - 2, log.end());
}

// One release of the application: its files by path below the application's folder, and its
// manifest.
struct Release {
  std::map<std::string, std::string> files;
  std::string manifest;
};

std::string HashOf(const std::string& content) {
  Sha256 hash;
  hash.Update(content.data(), content.size());
  return hash.HexDigest();
}

// Release 1 or 2 of the application. Every file but the start script differs between the two in
// content and length; release 2 adds a file. extraFiles more files in data/more differ as well.
Release MakeRelease(int generation, int extraFiles) {
  struct File {
    std::string directory;
    std::string name;
    std::string content;
    int version;
  };
  std::vector<File> files = {{"", "start.sh", TerminalRun::kStartScript, 1}};
  if (generation == 1) {
    files.push_back({"data", "readme.txt", "read me\n", 1});
    files.push_back({"data/deep", "core.bin", std::string(3000, 'c'), 4});
  } else {
    files.push_back({"data", "readme.txt", "read me, release 2\n", 2});
    files.push_back({"data", "new.txt", "new in release 2\n", 1});
    std::string core;
    for (int i = 0; core.size() < 200000; ++i) {
      core += "core " + std::to_string(i) + "\n";
    }
    files.push_back({"data/deep", "core.bin", core, 5});
  }
  for (int i = 0; i < extraFiles; ++i) {
    files.push_back({"data/more", "f" + std::to_string(i) + ".txt",
                     std::string(100 * generation + i, static_cast<char>('a' + i)), generation});
  }
  Release release;
  std::vector<ManifestFile> listed;
  for (const File& file : files) {
    const std::string path = file.directory + "/" + file.name;
    listed.emplace_back(path, static_cast<int64_t>(file.content.size()), file.version,
                        file.name == "start.sh");
    listed.back().hash = HashOf(file.content);
    release.files[file.directory.empty() ? file.name : path] = file.content;
  }
  release.manifest = ManifestText(
      listed, "\"head\":{\"date\":\"2024-06-0" + std::to_string(generation) + " 10:00:00\"}");
  return release;
}

// Bytes that no reader makes sense of, the same on every run; never a "|".
std::string Garbage(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random() & 0xFF);
    if (byte == '|') {
      byte = '!';
    }
  }
  return bytes;
}

// The application with release 1 installed, release 2 published at /r2 (where the tests make the
// server misbehave) and again at /good (which always behaves). Automatic mode; a stall ends a
// transfer after 2 seconds.
class FaultRun : public TerminalRun {
 protected:
  void SetUp() override {
    TerminalRun::SetUp();
    old_ = MakeRelease(1, extraFiles_);
    new_ = MakeRelease(2, extraFiles_);
    InstallOldRelease();
    PublishRelease("r2");
    PublishRelease("good");
    UseServer("/r2");
    Configure(true);
    extraEnvironment_ = {"LODESTAR_STALL_TIMEOUT_SECONDS=2"};
  }

  // Release 1 as installed, and nothing of release 2 or of an earlier run.
  void InstallOldRelease() {
    for (const auto& [path, content] : new_.files) {
      ::unlink(app_.File(path).c_str());
    }
    for (const auto& [path, content] : old_.files) {
      WriteTestFile(app_.File(path), content);
    }
    ::chmod(app_.File("start.sh").c_str(), 0755);
    WriteFileBytes(app_.File("version.txt"), old_.manifest);
    ::unlink(app_.File("launched.txt").c_str());
  }

  void PublishRelease(const std::string& name) {
    ServeRelease(server_, "/" + name, work_.File(name), new_.files, new_.manifest);
  }

  void UseServer(const std::string& prefix) {
    server_.SetBody("/servers.txt", "Main|" + server_.Url(prefix) + "\n");
  }

  // The installation as a whole, manifest included, is release 1 (a file only release 2 has is
  // missing) or release 2: never a mix. Returns the release found, 0 for a mix.
  int ExpectWhollyOldOrNew() {
    bool old = ReadFileBytes(app_.File("version.txt")) == old_.manifest;
    bool now = ReadFileBytes(app_.File("version.txt")) == new_.manifest;
    for (const auto& [path, content] : new_.files) {
      auto before = old_.files.find(path);
      const bool there = FileExists(app_.File(path));
      const std::string bytes = there ? ReadFileBytes(app_.File(path)) : std::string();
      old = old && (before == old_.files.end() ? !there : there && bytes == before->second);
      now = now && there && bytes == content;
    }
    EXPECT_TRUE(old || now) << "neither release 1 nor release 2 stands whole";
    return old ? 1 : now ? 2 : 0;
  }

  // ".update" files anywhere in the application's folder, the commit journal, and what a killed
  // save left.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(app_.path())) {
      const std::string name = item.path().filename().string();
      if (item.path().extension() == ".update" || name.rfind(".version.txt", 0) == 0 ||
          name == "version.txt.commit") {
        found.push_back(item.path().lexically_relative(app_.path()).string());
      }
    }
    return found;
  }

  // A run that ended with failed downloads: it says so, leaves the old manifest, launches nothing.
  void ExpectFailedRun(const RunResult& run, const std::vector<std::string>& failures) {
    EXPECT_EQ(run.status, 1) << run.err;
    for (const std::string& failure : failures) {
      EXPECT_THAT(run.log, Contains(failure));
    }
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), kFailedRun);
    ExpectNothingFinished(run);
  }

  // The state that no run which failed, was stopped or was killed while fetching may change:
  // release 1 whole, whatever arrived only under ".update" names.
  void ExpectNothingFinished(const RunResult& run) {
    EXPECT_THAT(run.log, Not(Contains("更新完毕")));
    EXPECT_FALSE(FileExists(app_.File("launched.txt")));
    EXPECT_EQ(ExpectWhollyOldOrNew(), 1);
    EXPECT_FALSE(FileExists(app_.File("version.txt.commit")));
  }

  // What a failed run fetched whole waits under its ".update" name.
  void ExpectArrived(const std::string& path) {
    EXPECT_EQ(ReadFileBytes(app_.File(path + ".update")), new_.files[path]) << path;
  }

  // A second run against a server that behaves completes and leaves every file right.
  void ExpectRepairRun() {
    extraEnvironment_.clear();
    fileSizeLimit_ = -1;
    UseServer("/good");
    RunResult run = Run();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.log, Contains("更新完毕"));
    ExpectEverythingNew();
  }

  // Release 2 in place, exactly, with the program it launches run and nothing left behind.
  void ExpectEverythingNew() {
    for (const auto& [path, content] : new_.files) {
      EXPECT_EQ(ReadFileBytes(app_.File(path)), content) << path;
    }
    EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), new_.manifest);
    EXPECT_FALSE(WaitForLaunch().empty());
    EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  }

  int extraFiles_ = 0;
  Release old_;
  Release new_;
};

TEST_F(FaultRun, ConnectionDroppedInTheMiddleOfAFile) {
  // With the length announced, and without: then only the manifest's length tells.
  server_.SetCutShort("/r2/data/deep/core.bin.txt", new_.files["data/deep/core.bin"], 100000);
  LoopbackHttpServer::Response unannounced;
  unannounced.body = new_.files["data/readme.txt"];
  unannounced.noContentLength = true;
  unannounced.sendOnly = 7;
  server_.SetResponse("/r2/data/readme.txt.txt", unannounced);

  RunResult run = Run();
  ExpectFailedRun(
      run, {"下载文件失败 [readme.txt], 错误代码 [2]", "下载文件失败 [core.bin], 错误代码 [2]"});
  ExpectArrived("data/new.txt");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
  // The next run asked only for what was missing: the rest of the cut files, not new.txt.
  EXPECT_EQ(FileRequests(), 3u + 2u);
  std::vector<std::string> ranges;
  for (const LoopbackHttpServer::Request& request : server_.Requests()) {
    if (request.HasHeader("Range")) {
      ranges.push_back(request.path + " " + request.Header("Range"));
    }
  }
  EXPECT_THAT(ranges, ::testing::UnorderedElementsAre("/good/data/deep/core.bin.txt bytes=100000-",
                                                      "/good/data/readme.txt.txt bytes=7-"));
}

// Keys and signatures made by Debian's minisign: without the signature the run fails (exit
// status 1), with it the release is installed and its signature kept.
TEST_F(FaultRun, ReleaseSignedWithMinisign) {
  const std::string pub = work_.File("minisign.pub"), key = work_.File("minisign.key");
  const std::string manifest = work_.File("good/version.txt");
  ASSERT_EQ(std::system(("minisign -G -W -p '" + pub + "' -s '" + key + "' >/dev/null").c_str()),
            0);
  const std::string publicFile = ReadFileBytes(pub), cfg = ReadFileBytes(app_.File("Lodestar.cfg"));
  WriteFileBytes(app_.File("Lodestar.cfg"),
                 cfg + ",pubkey:\"" + publicFile.substr(publicFile.find('\n') + 1, 56) + "\"");
  extraEnvironment_.clear();
  UseServer("/good");
  RunResult refused = Run();
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(LastTwo(refused.log),
              ElementsAre("更新文件列表签名无效, 请选择其他服务器进行尝试：Main",
                          EndsWith("/good/version.txt.minisig：没有签名文件 (HTTP 404)")));
  ExpectNothingFinished(refused);
  EXPECT_EQ(FileRequests(), 0u);

  ASSERT_EQ(std::system(("minisign -S -s '" + key + "' -m '" + manifest + "' >/dev/null").c_str()),
            0);
  ExpectRepairRun();
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt.minisig")), ReadFileBytes(manifest + ".minisig"));
}

TEST_F(FaultRun, FilesOfAnotherLengthThanTheManifestSays) {
  // Complete responses, one byte longer and one shorter: refused before any .update file.
  server_.SetBody("/r2/data/readme.txt.txt", new_.files["data/readme.txt"] + "!");
  server_.SetBody("/r2/data/deep/core.bin.txt", new_.files["data/deep/core.bin"].substr(1));

  RunResult run = Run();
  ExpectFailedRun(
      run, {"下载文件失败 [readme.txt], 错误代码 [2]", "下载文件失败 [core.bin], 错误代码 [2]"});
  ExpectArrived("data/new.txt");
  EXPECT_THAT(Leftovers(), ::testing::ElementsAre("data/new.txt.update"));
  ExpectRepairRun();
}

TEST_F(FaultRun, ServerThatStopsSendingIsGivenUpAfterTheStallTimeOut) {
  // The stall counts once the bytes already received leave the transfer library's speed window
  // (about five seconds).
  server_.SetStalled("/r2/data/deep/core.bin.txt", new_.files["data/deep/core.bin"], 100000);

  auto started = std::chrono::steady_clock::now();
  RunResult run = Run();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  ExpectFailedRun(run, {"下载文件失败 [core.bin], 错误代码 [2]"});
  ExpectArrived("data/readme.txt");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  server_.ReleaseStalls();
  ExpectRepairRun();
}

TEST_F(FaultRun, ServerThatNeverAnswersForTheManifest) {
  LoopbackHttpServer::Response silent;
  silent.body = new_.manifest;
  silent.stallBeforeHeaders = true;
  server_.SetResponse("/r2/version.txt", silent);

  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.log.empty());
  EXPECT_THAT(LastTwo(run.log),
              ElementsAre("连接服务器失败, 请选择其他服务器进行尝试：Main",
                          HasSubstr("/r2/version.txt：传输失败 (Operation too slow")));
  ExpectNothingFinished(run);
  EXPECT_EQ(FileRequests(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  server_.ReleaseStalls();
  ExpectRepairRun();
}

TEST_F(FaultRun, ErrorStatusesForSomeFiles) {
  server_.SetStatus("/r2/data/readme.txt.txt", 500, "broken");
  server_.SetStatus("/r2/data/deep/core.bin.txt", 404, "not here");

  RunResult run = Run();
  ExpectFailedRun(
      run, {"下载文件失败 [readme.txt], 错误代码 [6]", "下载文件失败 [core.bin], 错误代码 [6]"});
  // The files that did arrive wait for the next run; no error page was written anywhere.
  ExpectArrived("data/new.txt");
  EXPECT_THAT(Leftovers(), ::testing::ElementsAre("data/new.txt.update"));
  ExpectRepairRun();
}

TEST_F(FaultRun, RedirectLoop) {
  server_.SetRedirect("/r2/data/readme.txt.txt", server_.Url("/loop"));
  server_.SetRedirect("/loop", server_.Url("/r2/data/readme.txt.txt"));

  RunResult run = Run();
  ExpectFailedRun(run, {"下载文件失败 [readme.txt], 错误代码 [2]"});
  ExpectArrived("data/deep/core.bin");
  ExpectRepairRun();
}

TEST_F(FaultRun, UnreadableManifests) {
  const std::string garbage = Garbage(64 * 1024, 1);
  const std::string enormousLine = "\"paths\":[\"\":[\"" + std::string(8 << 20, 'x');
  const std::string megabytes = Garbage(4 << 20, 2);
  for (const std::string* body : {&garbage, &enormousLine, &megabytes}) {
    server_.SetBody("/r2/version.txt", *body);
    RunResult run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.log, Contains("获取更新文件列表成功：Main"));
    EXPECT_THAT(run.err, HasSubstr("装载远程版本信息失败!"));
    ExpectNothingFinished(run);
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  }
  EXPECT_EQ(FileRequests(), 0u);
  ExpectRepairRun();
}

TEST_F(FaultRun, ManifestOfSeveralMegabytesIsTakenWhole) {
  // A head member blown up to 6 MB around the real paths: nothing looks at it.
  std::string manifest = new_.manifest;
  manifest.insert(manifest.rfind("\"head\":{") + 8,
                  "\"notes\":\"" + std::string(6 << 20, 'n') + "\",");
  new_.manifest = manifest;
  WriteFileBytes(work_.File("good/version.txt"), manifest);
  ExpectRepairRun();
}

TEST_F(FaultRun, UnusableServerLists) {
  std::string lines;
  for (int i = 0; i < 1000; ++i) {
    lines += "|http://127.0.0.1/leading-bar\nno bar at all\nname only|  \n  \t| \r\n";
  }
  const std::string malformed = lines;
  const std::string garbage = Garbage(64 * 1024, 3);
  const std::string enormousLine = std::string(8 << 20, 's');
  const std::string megabytes = Garbage(4 << 20, 4);
  for (const std::string* body : {&malformed, &garbage, &enormousLine, &megabytes}) {
    server_.SetBody("/servers.txt", *body);
    RunResult run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.log, ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                                     HasSubstr("/servers.txt：")));
    ExpectNothingFinished(run);
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  }
  EXPECT_EQ(server_.RequestCount(), 4u);
  ExpectRepairRun();
}

TEST_F(FaultRun, ServerListOfGarbageWithSeparators) {
  // Random bytes hold "|" and line breaks: some lines make servers with absurd names and
  // addresses, and automatic mode tries the last of them.
  std::mt19937 random(5);
  std::string body(1 << 20, '\0');
  for (char& byte : body) {
    byte = static_cast<char>(random() & 0xFF);
  }
  server_.SetBody("/servers.txt", body);
  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  // The absurd address is refused before any connection is tried.
  ASSERT_FALSE(run.log.empty());
  ASSERT_GE(run.log.size(), 2u);
  EXPECT_EQ(run.log.end()[-2].rfind("URL解析错误, 请选择其他服务器进行尝试：", 0), 0u)
      << run.log.end()[-2];
  ExpectNothingFinished(run);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
}

TEST_F(FaultRun, ServerListOfAlmostAMegabyte) {
  // Just within the bound of a server list (1 MiB).
  std::string list;
  const std::string good = server_.Url("/good");
  for (int i = 0; list.size() < (1 << 20) - 100; ++i) {
    list += "Server " + std::to_string(i) + "|" + good + "/" + std::to_string(i) + "\n";
  }
  list += "Main|" + good + "\n";
  server_.SetBody("/servers.txt", list);
  extraEnvironment_.clear();

  RunResult run = Run("", std::chrono::seconds(60));
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 2000);
  ASSERT_GE(run.log.size(), 3u);
  EXPECT_EQ(run.log[1], "获取服务器列表成功,共取得 1000 个可选服务器");
  EXPECT_EQ(run.log[2], "正在连接：Main");
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), new_.manifest);
}

TEST_F(FaultRun, DiskFillsUpDuringADownload) {
  // The largest file the program may write is 64 KiB: the 200 KB file cannot be written whole.
  fileSizeLimit_ = 64 * 1024;
  RunResult run = Run();
  ExpectFailedRun(run, {"下载文件失败 [core.bin], 错误代码 [7]"});
  ExpectArrived("data/readme.txt");
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
}

TEST_F(FaultRun, KilledInTheMiddleOfAFileThenRunAgain) {
  server_.SetStalled("/r2/data/deep/core.bin.txt", new_.files["data/deep/core.bin"], 100000);
  RunResult run = Run("", std::chrono::seconds(60), [this](pid_t pid) {
    EXPECT_TRUE(server_.WaitForStalls(1, std::chrono::seconds(20)));
    ::kill(pid, SIGKILL);
  });
  EXPECT_EQ(run.status, -1);
  ExpectNothingFinished(run);
  // The manifest was handled before the kill, and its temporary file went with it.
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  server_.ReleaseStalls();
  ExpectRepairRun();
}

TEST_F(FaultRun, KilledBetweenDeletingTheOldFileAndRenamingTheNewOne) {
  // The state such a kill leaves: the old file gone, the new one complete under its ".update"
  // name, the old manifest.
  ::unlink(app_.File("data/deep/core.bin").c_str());
  WriteFileBytes(app_.File("data/deep/core.bin.update"), new_.files["data/deep/core.bin"]);
  ExpectRepairRun();
}

// Nine changed files, so that kills land all over the installation.
class CrashRun : public FaultRun {
 protected:
  CrashRun() { extraFiles_ = 6; }
};

// The program kills itself at its Nth crash point, for N = 1, 2, ... until a run gets through: as
// each file arrives, after the arrived files are flushed, while the journal is written, around
// each rename, after each folder's flush, while the manifest is saved and after the journal is
// removed. After every kill a start that goes no further than the server list finds release 1 or
// release 2 whole, and the next run ends with release 2.
TEST_F(CrashRun, KilledAtEveryStepOfTheInstallation) {
#if defined(__SANITIZE_THREAD__)
  // About 80 runs of a program whose installation steps run on one thread: half a minute here
  // for nothing that the plain and address-sanitizer passes do not already show.
  GTEST_SKIP() << "not under ThreadSanitizer";
#endif
  int point = 1;
  int completedAtStart = 0;
  for (;; ++point) {
    SCOPED_TRACE("killed at point " + std::to_string(point));
    InstallOldRelease();
    for (const std::string& left : Leftovers()) {
      std::filesystem::remove(app_.File(left));
    }
    UseServer("/good");
    extraEnvironment_ = {"LODESTAR_TEST_KILL_AT=" + std::to_string(point)};
    RunResult killed = Run();
    if (killed.status != -1) {
      EXPECT_EQ(killed.status, 0) << killed.out << killed.err;
      break;
    }
    // Start-up alone completes a journal: this start gets no further than the server list.
    extraEnvironment_.clear();
    server_.SetBody("/servers.txt", "no server here\n");
    RunResult restart = Run();
    EXPECT_THAT(restart.log, ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                                         HasSubstr("/servers.txt：")));
    completedAtStart += ExpectWhollyOldOrNew() == 2 ? 1 : 0;

    UseServer("/good");
    RunResult rerun = Run();
    EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    ExpectEverythingNew();
    if (HasFailure() || point > 200) {
      break;
    }
  }
  EXPECT_GE(point - 1, 30);
  EXPECT_GE(completedAtStart, 20);  // every kill after the journal was written
  RecordProperty("kill_points", point - 1);
  RecordProperty("completed_at_start", completedAtStart);
}

TEST_F(FaultRun, ManifestNamingPathsOutsideTheApplicationDirectory) {
  const std::filesystem::path app(app_.path());
  const std::string tag = app.filename().string();
  const std::string entry = ":{\"l\":\"4\",\"v\":\"1\"}";
  std::string manifest =
      "\"paths\":[\"..\":[\"escape-" + tag + ".txt\"" + entry + "],\"../escape-" + tag +
      "\":[\"a.txt\"" + entry + "],\"data/../../escape2-" + tag + "\":[\"b.txt\"" + entry +
      "],\"data\\\\..\\\\..\":[\"escape3-" + tag + ".txt\"" + entry + "],\"data\":[\"..\"" + entry +
      ",\"readme.txt\":{\"l\":\"" + std::to_string(new_.files["data/readme.txt"].size()) +
      "\",\"v\":\"2\"}]]\n";
  WriteFileBytes(work_.File("r2/version.txt"), manifest);
  // Whatever the server would answer for the escaping paths.
  server_.SetFallbackHook([](const LoopbackHttpServer::Request&) {
    LoopbackHttpServer::Response response;
    response.body = "evil";
    return response;
  });

  RunResult run = Run();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.log, Contains("需更新文件总数: 1, 文件总长度: 0 KB"));
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), new_.files["data/readme.txt"]);
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  for (const std::string& name :
       {"escape-" + tag + ".txt", "escape-" + tag, "escape2-" + tag, "escape3-" + tag + ".txt"}) {
    EXPECT_FALSE(std::filesystem::exists(app.parent_path() / name)) << name;
  }
  EXPECT_EQ(FileRequests(), 1u);
}

TEST_F(FaultRun, InterruptedWhileTheManifestArrivesLeavesNoTemporaryFile) {
  server_.SetStalled("/r2/version.txt", new_.manifest, 20);
  RunResult run = Run("", std::chrono::seconds(60), [this](pid_t pid) {
    EXPECT_TRUE(server_.WaitForStalls(1, std::chrono::seconds(20)));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(run.status, 1);
  ExpectNothingFinished(run);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  server_.ReleaseStalls();
  ExpectRepairRun();
}

TEST_F(FaultRun, ServerUnderLoadConvergesOverRuns) {
  // 503 for two files, then for one: each run fetches only what is still missing.
  server_.SetStatus("/r2/data/readme.txt.txt", 503, "busy");
  server_.SetStatus("/r2/data/deep/core.bin.txt", 503, "busy");
  RunResult run = Run();
  ExpectFailedRun(
      run, {"下载文件失败 [readme.txt], 错误代码 [6]", "下载文件失败 [core.bin], 错误代码 [6]"});
  EXPECT_EQ(FileRequests(), 3u);

  LoopbackHttpServer::Response readme;
  readme.file = work_.File("r2/data/readme.txt.txt");
  server_.SetResponse("/r2/data/readme.txt.txt", readme);
  run = Run();
  ExpectFailedRun(run, {"下载文件失败 [core.bin], 错误代码 [6]"});
  EXPECT_EQ(FileRequests(), 5u);

  ExpectRepairRun();
  EXPECT_EQ(FileRequests(), 6u);
}

// A server list without end stops at its bound (1 MiB) and the run goes on with what came.
TEST_F(FaultRun, ServerListWithoutEnd) {
  LoopbackHttpServer::Response endless;
  endless.body = "no server on this line\n";
  endless.endless = true;
  server_.SetResponse("/servers.txt", endless);

  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.log,
              ElementsAre("正在连接获取服务器列表", "获得服务器列表失败",
                          EndsWith("/servers.txt：传输失败 (the body is longer than the allowed "
                                   "1048576 bytes)")));
  ExpectNothingFinished(run);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
}

// About 1 MB of gzip that inflates to 1 GiB: the manifest stops at its bound (64 MiB) as it is
// decoded, nothing reads it, and the process stays about as small as an ordinary run.
TEST_F(FaultRun, ManifestThatInflatesToAGigabyte) {
  LoopbackHttpServer::Response bomb;
  bomb.body = CompressedRepeats(std::string(1 << 20, '\0'), 1024, true);
  bomb.headers = {{"Content-Encoding", "gzip"}};
  server_.SetResponse("/r2/version.txt", bomb);

  RunResult run = Run();
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.log.empty());
  EXPECT_THAT(
      LastTwo(run.log),
      ElementsAre(
          "连接服务器失败, 请选择其他服务器进行尝试：Main",
          EndsWith(
              "/r2/version.txt：传输失败 (the body is longer than the allowed 67108864 bytes)")));
  ExpectNothingFinished(run);
  EXPECT_EQ(FileRequests(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Against an ordinary run of the same program (a sanitizer's quarantine would hide it).
  EXPECT_GT(run.peakMemoryKiB, 0);
  EXPECT_LT(run.peakMemoryKiB, Run().peakMemoryKiB + 8 * 1024);
#endif
}

// A manifest sent a byte every half second never stalls, yet the run gives it up at the deadline
// of a fetch (cut to 3 seconds here) instead of waiting for ever in automatic mode.
TEST_F(FaultRun, TrickledManifestIsGivenUpAtTheDeadline) {
  LoopbackHttpServer::Response trickle;
  trickle.body = new_.manifest;
  trickle.trickle = std::chrono::milliseconds(500);
  server_.SetResponse("/r2/version.txt", trickle);
  extraEnvironment_.push_back("LODESTAR_FETCH_DEADLINE_SECONDS=3");

  const auto started = std::chrono::steady_clock::now();
  RunResult run = Run();
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.log.empty());
  EXPECT_THAT(
      LastTwo(run.log),
      ElementsAre(
          "连接服务器失败, 请选择其他服务器进行尝试：Main",
          EndsWith(
              "/r2/version.txt：传输失败 (the download took longer than the allowed 3 seconds)")));
  ExpectNothingFinished(run);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  ExpectRepairRun();
}

// What a user who may write the application's folder leaves for an elevated run: ".update" names
// that are links to files elsewhere, one holding the start of the new file so that it would be
// continued. The files install, and what the links name stays as it was.
TEST_F(FaultRun, UpdateFilesLinkedOutsideTheApplicationFolder) {
  const std::string core = new_.files["data/deep/core.bin"];
  const std::string kept = work_.File("kept.bin"), precious = work_.File("precious.txt");
  WriteFileBytes(kept, core.substr(0, 100000));
  WriteFileBytes(precious, "not the updater's\n");
  ASSERT_EQ(::symlink(kept.c_str(), app_.File("data/deep/core.bin.update").c_str()), 0);
  ASSERT_EQ(::symlink(precious.c_str(), app_.File("data/readme.txt.update").c_str()), 0);

  ExpectRepairRun();
  EXPECT_TRUE(ReadFileBytes(kept) == core.substr(0, 100000));
  EXPECT_EQ(ReadFileBytes(precious), "not the updater's\n");
  for (const LoopbackHttpServer::Request& request : server_.Requests()) {
    EXPECT_FALSE(request.HasHeader("Range")) << request.path;
  }
}

}  // namespace
