#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "child_process.h"
#include "scratch_folder.h"
#include "support/loopback_http_server.h"

using ::testing::HasSubstr;

namespace {

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

bool IsExecutable(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && (status.st_mode & S_IXUSR) != 0;
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 500 && !PathExists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return PathExists(path);
}

TEST(PublishCommand, AnswersHelpUsageAndMissingFolders) {
  ScratchFolder scratch;
  ChildResult help = RunChild({LODESTAR_PUBLISH_BINARY, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.output, HasSubstr("Usage: lodestar-publish [OPTIONS] APP_DIR OUT_DIR"));
  EXPECT_THAT(help.output, HasSubstr("--exclude PATTERN"));

  EXPECT_EQ(RunChild({LODESTAR_PUBLISH_BINARY, scratch.path()}).status, 2);
  EXPECT_EQ(RunChild({LODESTAR_PUBLISH_BINARY, "--bogus", "a", "b"}).status, 2);

  ChildResult missing = RunChild({LODESTAR_PUBLISH_BINARY, scratch / "nope", scratch / "out"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.output, HasSubstr("nope': No such file or directory"));
  EXPECT_FALSE(PathExists(scratch / "out"));

  WriteTestFile(scratch / "app/keep.txt", "k");
  WriteTestFile(scratch / "app/skip.log", "s");
  ChildResult ok =
      RunChild({LODESTAR_PUBLISH_BINARY, "--exclude", "*.log", scratch / "app", scratch / "out"});
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_THAT(ok.output, HasSubstr("published 1 file (1 bytes)"));
  EXPECT_TRUE(PathExists(scratch / "out/keep.txt.txt"));
  EXPECT_FALSE(PathExists(scratch / "out/skip.log.txt"));
}

// A loopback port that nothing listens on right now.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool WaitForListener(int port) {
  for (int i = 0; i < 250; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (connected)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Publishes a release, lets the real client install it from a loopback server, then publishes
// the next release and lets the client update to it.
class PublishEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.ServeDirectory("/release", scratch_ / "out");
    server_.SetBody("/servers.txt", "Local|" + server_.Url("/release") + "\n");
    std::filesystem::create_directories(Client(""));
    std::filesystem::copy_file(LODESTAR_BINARY, Client("Lodestar"));
    WriteTestFile(Client("Lodestar.cfg"),
                  "serverlist:\"" + server_.Url("/servers.txt") +
                      "\",\nauto:1,\nexec:run.sh,\nparam:\"'first word' second\"\n",
                  0644);
    ASSERT_EQ(chmod(Client("Lodestar").c_str(), 0755), 0);
  }

  std::string App(const std::string& relative) { return scratch_ / ("app/" + relative); }
  std::string Client(const std::string& relative) { return scratch_ / ("client/" + relative); }

  void Publish() {
    ChildResult published = RunChild({LODESTAR_PUBLISH_BINARY, scratch_ / "app", scratch_ / "out"});
    ASSERT_EQ(published.status, 0) << published.output;
  }

  void Update() {
    std::filesystem::remove(Client("ran.txt"));
    ChildResult run = RunChild({Client("Lodestar")}, kNoDisplay);
    ASSERT_FALSE(run.timedOut) << run.output;
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(WaitForFile(Client("ran.txt"))) << run.output;
  }

  // Every file of the release is in the client, byte for byte.
  void ExpectInstalled(const std::map<std::string, std::string>& release) {
    for (const auto& [path, content] : release) {
      SCOPED_TRACE(path);
      ASSERT_TRUE(PathExists(Client(path)));
      EXPECT_EQ(ReadTestFile(Client(path)), content);
    }
    EXPECT_EQ(ReadTestFile(Client("version.txt")), ReadTestFile(scratch_ / "out/version.txt"));
  }

  // The files requested since the last call.
  std::vector<std::string> FileRequests() {
    std::vector<std::string> paths;
    std::vector<LoopbackHttpServer::Request> requests = server_.Requests();
    for (size_t i = seen_; i < requests.size(); ++i) {
      if (requests[i].path != "/servers.txt" && requests[i].path != "/release/version.txt") {
        paths.push_back(requests[i].path);
      }
    }
    seen_ = requests.size();
    return paths;
  }

  ScratchFolder scratch_;
  LoopbackHttpServer server_;
  size_t seen_ = 0;
};

TEST_F(PublishEndToEnd, TheClientInstallsAndUpdatesWhatWasPublished) {
  std::map<std::string, std::string> release = {
      {"run.sh", "#!/bin/sh\ncd \"$(dirname \"$0\")\" && printf '%s|' \"$@\" > ran.txt\n"},
      {"empty.dat", ""},
      {"a: b, \"c\" ", "needs quoting"},
      {"\xc3\xbc"
       "ber.txt",
       "non-ASCII"},
      {"lib/plugins/deep/x.bin", std::string("\0\x01\x02 binary", 10)},
      {"lib/readme", "unchanged"},
  };
  for (const auto& [path, content] : release) {
    WriteTestFile(App(path), content, path == "run.sh" ? 0755 : 0644);
  }
  WriteTestFile(App("Lodestar.cfg"), "serverlist:\"http://elsewhere.invalid/\"");
  Publish();
  Update();
  ExpectInstalled(release);
  EXPECT_TRUE(IsExecutable(Client("run.sh")));
  EXPECT_FALSE(IsExecutable(Client("empty.dat")));
  EXPECT_EQ(ReadTestFile(Client("ran.txt")), "first word|second|");
  EXPECT_THAT(ReadTestFile(Client("Lodestar.cfg")), HasSubstr("auto:1"));
  EXPECT_EQ(FileRequests().size(), release.size());

  // The next release: one file changed (the executable), one new, one gone.
  release["run.sh"] += "# version 2\n";
  WriteTestFile(App("run.sh"), release["run.sh"], 0755);
  release["lib/new one.txt"] = "new";
  WriteTestFile(App("lib/new one.txt"), "new");
  release.erase("empty.dat");
  std::filesystem::remove(App("empty.dat"));
  Publish();
  Update();
  ExpectInstalled(release);
  EXPECT_TRUE(IsExecutable(Client("run.sh")));
  EXPECT_THAT(FileRequests(), ::testing::UnorderedElementsAre("/release//run.sh.txt",
                                                              "/release/lib/new one.txt.txt"));
}

// Names with every printable ASCII byte a release may hold reach real web servers as those
// names: the client installs the release from each, byte for byte.
TEST_F(PublishEndToEnd, EveryPrintableNameInstallsFromRealServers) {
  std::map<std::string, std::string> release = {
      {"run.sh", "#!/bin/sh\ncd \"$(dirname \"$0\")\" && printf '%s|' \"$@\" > ran.txt\n"},
      {"%41", "not A"},
      {"%2F", "not a slash"},
      {"d !\"#$%&'()*+,;=?@[]^`{|}~/x ?#%25 ", "odd folder"},
  };
  for (char c = ' '; c <= '~'; ++c) {
    if (c != '/' && c != '\\')
      release[std::string("n") + c + "e"] = std::string(1 + c % 7, c);
  }
  for (const auto& [path, content] : release)
    WriteTestFile(App(path), content, path == "run.sh" ? 0755 : 0644);
  Publish();

  const std::string root = scratch_.path();
  struct Server {
    const char* name;
    const char* binary;
    std::function<std::vector<std::string>(int port)> command;
  } servers[] = {
      {"nginx", "/usr/sbin/nginx",
       [&](int port) {
         const std::string p = std::to_string(port);
         WriteTestFile(root + "/nginx/tmp/.keep", "");
         WriteTestFile(root + "/nginx.conf", "daemon off; master_process off; pid " + root +
                                                 "/nginx/pid;\n"
                                                 "error_log " +
                                                 root +
                                                 "/nginx/error.log;\n"
                                                 "events { worker_connections 64; }\n"
                                                 "http { access_log off; client_body_temp_path " +
                                                 root +
                                                 "/nginx/tmp;\n"
                                                 "  proxy_temp_path " +
                                                 root + "/nginx/tmp; fastcgi_temp_path " + root +
                                                 "/nginx/tmp;\n"
                                                 "  uwsgi_temp_path " +
                                                 root + "/nginx/tmp; scgi_temp_path " + root +
                                                 "/nginx/tmp;\n"
                                                 "  server { listen 127.0.0.1:" +
                                                 p + "; root " + root + "; } }\n");
         return std::vector<std::string>{"/usr/sbin/nginx",         "-p", root + "/nginx",     "-e",
                                         root + "/nginx/error.log", "-c", root + "/nginx.conf"};
       }},
      {"lighttpd", "/usr/sbin/lighttpd",
       [&](int port) {
         WriteTestFile(root + "/lighttpd.conf", "server.document-root = \"" + root +
                                                    "\"\nserver.bind = \"127.0.0.1\"\n"
                                                    "server.port = " +
                                                    std::to_string(port) + "\n");
         return std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f", root + "/lighttpd.conf"};
       }},
      {"busybox httpd", "/usr/bin/busybox",
       [&](int port) {
         return std::vector<std::string>{"/usr/bin/busybox",
                                         "httpd",
                                         "-f",
                                         "-p",
                                         "127.0.0.1:" + std::to_string(port),
                                         "-h",
                                         root};
       }},
  };
  for (const Server& server : servers) {
    SCOPED_TRACE(server.name);
    if (!PathExists(server.binary)) {
      ADD_FAILURE() << server.binary << " is missing: run scripts/setup";
      continue;
    }
    const int port = FreePort();
    BackgroundChild running(server.command(port));
    ASSERT_TRUE(running.started());
    ASSERT_TRUE(WaitForListener(port));
    server_.SetBody("/servers.txt", std::string(server.name) +
                                        "|http://127.0.0.1:" + std::to_string(port) + "/out\n");
    for (const auto& [path, content] : release)
      std::filesystem::remove(Client(path));
    std::filesystem::remove(Client("version.txt"));
    Update();
    ExpectInstalled(release);
  }
}

}  // namespace
