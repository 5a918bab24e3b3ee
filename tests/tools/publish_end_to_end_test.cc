#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "catalogue/minisign.h"
#include "platform/crypto.h"
#include "publish/signing/minisign_signing.h"
#include "publish/signing_key.h"
#include "support/child_process.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

using ::testing::HasSubstr;

namespace {

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

// Runs a program without the variables named in unset; its output and errors come together.
ChildResult RunTool(const std::vector<std::string>& argv,
                    const std::vector<std::string>& unset = {}) {
  ChildOptions options;
  options.unset = unset;
  options.mergeOutput = true;
  return RunChild(argv, options);
}

bool IsExecutable(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && (status.st_mode & S_IXUSR) != 0;
}

TEST(PublishCommand, AnswersHelpUsageAndMissingFolders) {
  TempDir scratch;
  ChildResult help = RunTool({LODESTAR_PUBLISH_BINARY, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("Usage: lodestar-publish [OPTIONS] APP_DIR OUT_DIR"));
  EXPECT_THAT(help.out, HasSubstr("--exclude PATTERN"));
  EXPECT_THAT(help.out, HasSubstr("lodestar-publish --resign KEYFILE OUT_DIR"));
  // Every file the exclusion rules leave out by default.
  EXPECT_THAT(
      help.out,
      HasSubstr("(Lodestar.cfg,\nversion.txt, version.txt.progress, version.txt.minisig, "
                "version.txt.commit and\nLodestar.cacert.pem) and any name ending in .update"));

  EXPECT_EQ(RunTool({LODESTAR_PUBLISH_BINARY, scratch.path()}).status, 2);
  EXPECT_EQ(RunTool({LODESTAR_PUBLISH_BINARY, "--bogus", "a", "b"}).status, 2);
  const std::vector<std::vector<std::string>> misuses = {
      {"--upload", "out"},
      {"--upload", "--sign", "k", "out", "s3://b/p"},
      {"--auto", "app", "out"},
      {"--install", "out", "dest", "--serverlist", "http://h/s"},
      {"--install", "out", "dest", "--client", "L", "--serverlist", "u", "--language", "de"},
      {"--install", "--upload", "out", "dest"},
  };
  for (std::vector<std::string> misuse : misuses) {
    misuse.insert(misuse.begin(), LODESTAR_PUBLISH_BINARY);
    ChildResult refused = RunTool(misuse);
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_THAT(refused.out, HasSubstr("Try 'lodestar-publish --help'"));
  }

  ChildResult missing =
      RunTool({LODESTAR_PUBLISH_BINARY, scratch.File("nope"), scratch.File("out")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.out, HasSubstr("nope': No such file or directory"));
  EXPECT_FALSE(FileExists(scratch.File("out")));

  WriteTestFile(scratch.File("app/keep.txt"), "k");
  WriteTestFile(scratch.File("app/skip.log"), "s");
  ChildResult ok = RunTool(
      {LODESTAR_PUBLISH_BINARY, "--exclude", "*.log", scratch.File("app"), scratch.File("out")});
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_THAT(ok.out, HasSubstr("published 1 file (1 bytes)"));
  EXPECT_THAT(ok.out, HasSubstr("unsigned (to sign it, see \"Publishing signed releases\""));
  EXPECT_TRUE(FileExists(scratch.File("out/keep.txt.txt")));
  EXPECT_FALSE(FileExists(scratch.File("out/skip.log.txt")));
}

// Every file below root but the signature, with its content.
std::map<std::string, std::string> ServedFiles(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().filename() != "version.txt.minisig") {
      files[entry.path().string()] =
          entry.is_directory() ? "(folder)" : ReadFileBytes(entry.path());
    }
  }
  return files;
}

TEST(PublishCommand, SignsAgainOnlyWhatItsOwnKeySigned) {
  TempDir scratch;
  std::string publicFile, secretFile, error;
  ASSERT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error));
  MinisignPublicKey publicKey;
  ASSERT_TRUE(ParseMinisignPublicKey(publicFile, publicKey));
  const std::string key = scratch.File("k.key"), out = scratch.File("out");
  const std::string manifest = out + "/version.txt", signature = manifest + ".minisig";
  WriteTestFile(key, secretFile, 0640);
  WriteTestFile(scratch.File("app/a.txt"), "a");
  auto run = [&](const std::string& option, bool publish) {
    std::vector<std::string> argv = {LODESTAR_PUBLISH_BINARY, option, key};
    if (publish) {
      argv.push_back(scratch.File("app"));
    }
    argv.push_back(out);
    return RunTool(argv, {kKeyPasswordVariable});
  };
  auto signedAt = [&] {
    VerifiedSignature verified;
    EXPECT_EQ(VerifyMinisignSignature(publicKey, ReadFileBytes(manifest), ReadFileBytes(signature),
                                      verified),
              SignatureCheck::kValid);
    return verified.timestamp;
  };

  // A secret key that others may read is refused before anything is written, as ssh does.
  ChildResult exposed = run("--sign", true);
  EXPECT_EQ(exposed.status, 1);
  EXPECT_THAT(exposed.out, HasSubstr("permissions 0640 for the secret key"));
  EXPECT_THAT(exposed.out, HasSubstr("chmod 600 '" + key + "'"));
  EXPECT_FALSE(FileExists(out));
  ASSERT_EQ(chmod(key.c_str(), 0600), 0);
  ASSERT_EQ(run("--sign", true).status, 0);

  const std::map<std::string, std::string> served = ServedFiles(out);
  const int64_t before = signedAt();
  ChildResult again = run("--resign", false);
  ASSERT_EQ(again.status, 0) << again.out;
  EXPECT_THAT(again.out, HasSubstr("signed " + manifest + " again"));
  EXPECT_GT(signedAt(), before);
  EXPECT_EQ(ServedFiles(out), served);

  // A manifest changed behind the key's back is not vouched for.
  WriteTestFile(manifest, ReadFileBytes(manifest) + " ");
  const std::string kept = ReadFileBytes(signature);
  ChildResult tampered = run("--resign", false);
  EXPECT_EQ(tampered.status, 1);
  EXPECT_THAT(tampered.out, HasSubstr("does not verify with this key"));
  EXPECT_EQ(ReadFileBytes(signature), kept);
}

// A loopback port that nothing listened on a moment ago, once a server answers there; 0 if none.
int ServerPort(const std::function<std::vector<std::string>(const std::string&)>& command,
               std::unique_ptr<BackgroundChild>& server) {
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  server = std::make_unique<BackgroundChild>(command(std::to_string(ntohs(address.sin_port))));
  for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0;
    close(fd);
    if (listening) {
      return ntohs(address.sin_port);
    }
  }
  return 0;
}

// The command that has nginx serve root on a given port, logging what it served in
// root/nginx/access.log.
std::function<std::vector<std::string>(const std::string&)> NginxServing(const std::string& root) {
  return [root](const std::string& port) {
    WriteTestFile(root + "/nginx/conf", "daemon off; master_process off; pid " + root +
                                            "/nginx/pid; events {} http { access_log " + root +
                                            "/nginx/access.log; client_body_temp_path " + root +
                                            "/nginx; server { root " + root +
                                            "; listen 127.0.0.1:" + port + "; } }");
    return std::vector<std::string>{"/usr/sbin/nginx", "-p", root + "/nginx",     "-e",
                                    "stderr",          "-c", root + "/nginx/conf"};
  };
}

// Publishes a release, lets the real client install it from a loopback server, then publishes
// the next release and lets the client update to it.
// Signing, checked both ways against Debian's minisign, the format's reference.
class SigningInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsExecutable(kMinisign)) {
      GTEST_SKIP() << kMinisign << " is missing (scripts/setup installs it)";
    }
    WriteTestFile(scratch_.File("app/a.txt"), "content");
  }

  ChildResult Minisign(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kMinisign);
    return RunTool(arguments);
  }
  ChildResult Publish(const std::string& keyFile) {
    return RunTool(
        {LODESTAR_PUBLISH_BINARY, "--sign", keyFile, scratch_.File("app"), scratch_.File("out")},
        {kKeyPasswordVariable});
  }
  // What our verifier says of file's signature at file + suffix.
  SignatureCheck Check(const std::string& publicKeyFile, const std::string& file,
                       const std::string& suffix) {
    MinisignPublicKey key;
    EXPECT_TRUE(ParseMinisignPublicKey(ReadFileBytes(publicKeyFile), key));
    VerifiedSignature verified;
    SignatureCheck result =
        VerifyMinisignSignature(key, ReadFileBytes(file), ReadFileBytes(file + suffix), verified);
    EXPECT_TRUE(result != SignatureCheck::kValid || verified.timestamp > 1700000000);
    return result;
  }

  static constexpr const char* kMinisign = "/usr/bin/minisign";
  TempDir scratch_;
};

TEST_F(SigningInterop, MinisignKeysAndSignaturesWorkWithOurs) {
  std::string pub = scratch_.File("m.pub"), key = scratch_.File("m.key"),
              file = scratch_.File("m.txt");
  ASSERT_EQ(Minisign({"-G", "-W", "-p", pub, "-s", key}).status, 0);
  WriteTestFile(file, "\"paths\":[]\n");
  ASSERT_EQ(Minisign({"-S", "-s", key, "-m", file}).status, 0);
  ASSERT_EQ(Minisign({"-S", "-l", "-s", key, "-m", file, "-x", file + ".legacy"}).status, 0);
  EXPECT_EQ(Check(pub, file, ".minisig"), SignatureCheck::kValid);
  EXPECT_EQ(Check(pub, file, ".legacy"), SignatureCheck::kValid);

  ChildResult published = Publish(key);
  ASSERT_EQ(published.status, 0) << published.out;
  ChildResult checked = Minisign({"-V", "-p", pub, "-m", scratch_.File("out/version.txt")});
  EXPECT_EQ(checked.status, 0) << checked.out;
}

TEST_F(SigningInterop, OurKeysAndSignaturesPassMinisign) {
  ChildResult made =
      RunTool({LODESTAR_PUBLISH_BINARY, "--keygen", scratch_.File("keys")}, {kKeyPasswordVariable});
  ASSERT_EQ(made.status, 0) << made.out;
  EXPECT_THAT(made.out, HasSubstr("pubkey:\"RW"));
  struct stat status {};
  ASSERT_EQ(stat((scratch_.File("keys/lodestar.key")).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(RunTool({LODESTAR_PUBLISH_BINARY, "--keygen", scratch_.File("keys")}).status, 1);

  ChildResult published = Publish(scratch_.File("keys/lodestar.key"));
  ASSERT_EQ(published.status, 0) << published.out;
  std::string manifest = scratch_.File("out/version.txt");
  ChildResult checked = Minisign({"-V", "-p", scratch_.File("keys/lodestar.pub"), "-m", manifest});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_THAT(checked.out, HasSubstr("Trusted comment: timestamp:"));
  EXPECT_EQ(Check(scratch_.File("keys/lodestar.pub"), manifest, ".minisig"),
            SignatureCheck::kValid);

  // The key signs with minisign too, and one altered byte fails minisign's check.
  ASSERT_EQ(Minisign({"-S", "-s", scratch_.File("keys/lodestar.key"), "-m", manifest}).status, 0);
  EXPECT_EQ(Check(scratch_.File("keys/lodestar.pub"), manifest, ".minisig"),
            SignatureCheck::kValid);
  WriteTestFile(manifest, ReadFileBytes(manifest) + " ");
  EXPECT_NE(Minisign({"-V", "-p", scratch_.File("keys/lodestar.pub"), "-m", manifest}).status, 0);
}

// A key sealed with a password opens in minisign and in the publisher alike. The derivation is
// made cheap here (minisign's own keys take 1 GiB and seconds); the format is the same.
TEST_F(SigningInterop, PasswordProtectedKeysSignInBoth) {
  std::string pub = scratch_.File("k.pub"), key = scratch_.File("k.key"),
              file = scratch_.File("m.txt");
  std::string publicFile, secretFile, error;
  ASSERT_TRUE(
      MakeMinisignKeyPair("p w", PasswordCost{32768, 1 << 20}, publicFile, secretFile, error));
  WriteTestFile(pub, publicFile);
  WriteTestFile(key, secretFile, 0600);
  WriteTestFile(file, "signed by minisign");
  ChildResult made = RunTool(
      {"/bin/sh", "-c",
       "printf 'p w\\n' | " + std::string(kMinisign) + " -S -s '" + key + "' -m '" + file + "'"});
  ASSERT_EQ(made.status, 0) << made.out;
  EXPECT_EQ(Check(pub, file, ".minisig"), SignatureCheck::kValid);

  EXPECT_THAT(Publish(key).out, HasSubstr("has a password: run on a terminal or set"));
  setenv(kKeyPasswordVariable, "p w", 1);
  ChildResult published =
      RunTool({LODESTAR_PUBLISH_BINARY, "--sign", key, scratch_.File("app"), scratch_.File("out")});
  unsetenv(kKeyPasswordVariable);
  ASSERT_EQ(published.status, 0) << published.out;
  EXPECT_EQ(Minisign({"-V", "-p", pub, "-m", scratch_.File("out/version.txt")}).status, 0);
}

class PublishEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.ServeDirectory("/release", scratch_.File("out"));
    server_.SetBody("/servers.txt", "Local|" + server_.Url("/release") + "\n");
    std::filesystem::create_directories(Client(""));
    std::filesystem::copy_file(LODESTAR_BINARY, Client("Lodestar"));
    WriteTestFile(Client("Lodestar.cfg"),
                  "serverlist:\"" + server_.Url("/servers.txt") +
                      "\",\nauto:1,\nexec:run.sh,\nparam:\"'first word' second\"\n",
                  0644);
    ASSERT_EQ(chmod(Client("Lodestar").c_str(), 0755), 0);
  }

  std::string App(const std::string& relative) { return scratch_.File("app/" + relative); }
  std::string Client(const std::string& relative) { return scratch_.File("client/" + relative); }

  void Publish() {
    ChildResult published =
        RunTool({LODESTAR_PUBLISH_BINARY, scratch_.File("app"), scratch_.File("out")});
    ASSERT_EQ(published.status, 0) << published.out;
  }

  void Update() {
    std::filesystem::remove(Client("ran.txt"));
    ChildResult run = RunTool({Client("Lodestar")}, kNoDisplay);
    ASSERT_FALSE(run.timedOut) << run.out;
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(WaitForFile(Client("ran.txt"))) << run.out;
  }

  // Every file of the release is in the client, byte for byte.
  void ExpectInstalled(const std::map<std::string, std::string>& release) {
    for (const auto& [path, content] : release) {
      SCOPED_TRACE(path);
      ASSERT_TRUE(FileExists(Client(path)));
      EXPECT_EQ(ReadFileBytes(Client(path)), content);
    }
    EXPECT_EQ(ReadFileBytes(Client("version.txt")),
              ReadFileBytes(scratch_.File("out/version.txt")));
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

  TempDir scratch_;
  LoopbackHttpServer server_;
  size_t seen_ = 0;
};

TEST_F(PublishEndToEnd, TheClientInstallsAndUpdatesWhatWasPublished) {
  std::map<std::string, std::string> release = {
      {"run.sh",
       "#!/bin/sh\ncd \"$(dirname \"$0\")\" && printf '%s|' \"$@\" > ran.tmp && mv ran.tmp "
       "ran.txt\n"},
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
  EXPECT_EQ(ReadFileBytes(Client("ran.txt")), "first word|second|");
  EXPECT_THAT(ReadFileBytes(Client("Lodestar.cfg")), HasSubstr("auto:1"));
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
  // The changed file comes by its patch from the installed one.
  EXPECT_THAT(
      FileRequests(),
      ::testing::UnorderedElementsAre(
          ::testing::MatchesRegex("/release/_lodestar/[0-9a-f]{64}-[0-9a-f]{64}\\.zst\\.txt"),
          "/release/lib/new one.txt.txt"));
}

// A signed release as an attacker on the server's side would replay, freeze or quietly rebuild
// it, against the real client: a fresh installation refuses the older release, an old signature
// is expired under maxage, and a file rebuilt with its version and length unchanged is fetched.
TEST_F(PublishEndToEnd, SignedInstallationsRefuseRollbackAndFreezeAndSeeRebuiltFiles) {
  std::string publicFile, secretFile, error;
  ASSERT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error));
  WriteTestFile(scratch_.File("k.key"), secretFile, 0600);
  const std::string out = scratch_.File("out");
  auto publish = [&](const std::string& into) {
    ChildResult published =
        RunTool({LODESTAR_PUBLISH_BINARY, "--sign", scratch_.File("k.key"), App(""), into},
                {kKeyPasswordVariable});
    ASSERT_EQ(published.status, 0) << published.out;
  };
  auto configure = [&](const std::string& extra) {
    WriteTestFile(Client("Lodestar.cfg"), "serverlist:\"" + server_.Url("/servers.txt") +
                                              "\",auto:1,exec:run.sh,pubkey:\"" +
                                              publicFile.substr(publicFile.find("RW")) + "\"" +
                                              extra);
  };
  auto run = [&] { return RunTool({Client("Lodestar")}, kNoDisplay); };
  WriteTestFile(App("run.sh"), "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran.txt\"\n", 0755);
  publish(out);
  std::filesystem::copy(out, scratch_.File("old"), std::filesystem::copy_options::recursive);
  WriteTestFile(App("data.txt"), "second");
  publish(out);

  // Installed from the release folder by hand: files and manifest, no kept signature.
  for (const char* name : {"run.sh", "data.txt"}) {
    std::filesystem::copy_file(out + "/" + name + ".txt", Client(name));
  }
  ASSERT_EQ(chmod(Client("run.sh").c_str(), 0755), 0);
  const std::string installed = ReadFileBytes(out + "/version.txt");
  const size_t stamp = installed.find("\"timestamp\":\"") + 13;
  const int64_t signedAt = std::stoll(installed.substr(stamp));
  WriteTestFile(Client("version.txt"), installed);
  configure("");
  server_.ServeDirectory("/old", scratch_.File("old"));
  server_.SetBody("/servers.txt", "Old|" + server_.Url("/old") + "\n");
  ChildResult replayed = run();
  EXPECT_EQ(replayed.status, 1);
  EXPECT_THAT(replayed.out, HasSubstr("更新文件列表早于当前版本, 请选择其他服务器进行尝试：Old"));
  EXPECT_EQ(ReadFileBytes(Client("data.txt")), "second");

  // The current release, signed two days ago, is refused by a client that allows one.
  MinisignSecretKey key;
  SealedMinisignKey sealed;
  ASSERT_TRUE(ParseMinisignSecretKeyFile(secretFile, sealed, error));
  ASSERT_TRUE(UnsealMinisignSecretKey(sealed, "", key, error));
  const std::string stale = std::to_string(std::time(nullptr) - 2 * 86400);
  WriteTestFile(out + "/version.txt.minisig",
                SignWithMinisignKey(key, ReadFileBytes(out + "/version.txt"),
                                    "timestamp:" + stale + "\tfile:version.txt\thashed"));
  std::filesystem::remove(Client("version.txt"));
  configure(",maxage:1");
  server_.SetBody("/servers.txt", "Frozen|" + server_.Url("/release") + "\n");
  ChildResult frozen = run();
  EXPECT_EQ(frozen.status, 1);
  EXPECT_THAT(frozen.out, HasSubstr("更新文件列表已过期, 请选择其他服务器进行尝试：Frozen"));

  // Rebuilt from scratch: "data.txt" keeps its version 1 and its length, not its content. Its
  // timestamp comes from the clock alone, so the clock must have passed the installed release's.
  WriteTestFile(Client("version.txt"), installed);
  while (std::time(nullptr) <= signedAt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::filesystem::remove_all(out);
  WriteTestFile(App("data.txt"), "SECOND");
  publish(out);
  configure("");
  FileRequests();
  ChildResult rebuilt = run();
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.out;
  EXPECT_EQ(ReadFileBytes(Client("data.txt")), "SECOND");
  EXPECT_THAT(FileRequests(),
              ::testing::ElementsAre("/release/version.txt.minisig", "/release//data.txt.txt"));
}

// An installation made from the output folder: its first run fetches no file, starts the
// application and keeps the floor that refuses an older release; what would make a broken
// installation is refused.
TEST_F(PublishEndToEnd, AnInstallationIsUpToDateAtOnceAndKeepsItsFloor) {
  std::string publicFile, secretFile, otherPublic, otherSecret, error;
  ASSERT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error));
  ASSERT_TRUE(MakeMinisignKeyPair("", PasswordCost(), otherPublic, otherSecret, error));
  WriteTestFile(scratch_.File("k.key"), secretFile, 0600);
  WriteTestFile(scratch_.File("k.pub"), publicFile);
  WriteTestFile(scratch_.File("other.pub"), otherPublic);
  const std::string out = scratch_.File("out");
  auto publish = [&] {
    ChildResult published =
        RunTool({LODESTAR_PUBLISH_BINARY, "--sign", scratch_.File("k.key"), App(""), out},
                {kKeyPasswordVariable});
    ASSERT_EQ(published.status, 0) << published.out;
  };
  WriteTestFile(App("run.sh"), "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran.txt\"\n", 0755);
  WriteTestFile(App("lib/data.txt"), "first");
  publish();
  std::filesystem::copy(out, scratch_.File("old"), std::filesystem::copy_options::recursive);
  WriteTestFile(App("lib/data.txt"), "second");
  WriteTestFile(App("empty/.keep"), "");
  publish();

  const std::string dest = scratch_.File("installed");
  auto install = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {LODESTAR_PUBLISH_BINARY,
                                     "--install",
                                     out,
                                     dest,
                                     "--client",
                                     LODESTAR_BINARY,
                                     "--serverlist",
                                     server_.Url("/servers.txt"),
                                     "--exec",
                                     "run.sh",
                                     "--auto"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunTool(argv);
  };
  const std::map<std::string, std::vector<std::string>> refusals = {
      {"the release is signed: give its public key with --pubkey", {}},
      {"does not verify the release's signature (it was made with another key)",
       {"--pubkey", scratch_.File("other.pub")}},
      {"is no minisign public key file", {"--pubkey", App("run.sh")}},
      {"holds no PEM certificate", {"--pubkey", scratch_.File("k.pub"), "--cacert", App("run.sh")}},
  };
  for (const auto& [message, extra] : refusals) {
    ChildResult refused = install(extra);
    EXPECT_EQ(refused.status, 1) << message;
    EXPECT_THAT(refused.out, HasSubstr(message));
  }
  WriteTestFile(out + "/lib/data.txt.txt", "SECOND");
  EXPECT_THAT(install({"--pubkey", scratch_.File("k.pub")}).out,
              HasSubstr("data.txt.txt' does not have the content the manifest lists"));
  EXPECT_FALSE(FileExists(dest));
  WriteTestFile(out + "/lib/data.txt.txt", "second");

  // The system's roots stand for a private CA's: the client takes them at its start.
  const std::string roots = "/etc/ssl/certs/ca-certificates.crt";
  ChildResult installed = install(
      {"--pubkey", scratch_.File("k.pub"), "--language", "en", "--cacert", roots, "--failover"});
  ASSERT_EQ(installed.status, 0) << installed.out;
  EXPECT_THAT(installed.out, HasSubstr("installed 3 files (48 bytes), Lodestar and Lodestar.cfg"));
  EXPECT_EQ(ReadFileBytes(dest + "/Lodestar.cacert.pem"), ReadFileBytes(roots));
  EXPECT_THAT(ReadFileBytes(dest + "/Lodestar.cfg"),
              HasSubstr("cacert:\"Lodestar.cacert.pem\",\nfailover:1\n"));
  EXPECT_TRUE(IsExecutable(dest + "/run.sh"));
  EXPECT_FALSE(IsExecutable(dest + "/lib/data.txt"));
  EXPECT_EQ(ReadFileBytes(dest + "/version.txt.minisig"),
            ReadFileBytes(out + "/version.txt.minisig"));
  EXPECT_THAT(install({"--pubkey", scratch_.File("k.pub")}).out,
              HasSubstr("is not an empty folder"));

  server_.SetBody("/servers.txt", "Local|" + server_.Url("/release") + "\n");
  FileRequests();
  ChildResult first = RunTool({dest + "/Lodestar"}, kNoDisplay);
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_TRUE(WaitForFile(dest + "/ran.txt"));
  EXPECT_THAT(FileRequests(), ::testing::ElementsAre("/release/version.txt.minisig"));

  server_.ServeDirectory("/old", scratch_.File("old"));
  server_.SetBody("/servers.txt", "Old|" + server_.Url("/old") + "\n");
  ChildResult replayed = RunTool({dest + "/Lodestar"}, kNoDisplay);
  EXPECT_EQ(replayed.status, 1);
  // The installation asked for English.
  EXPECT_THAT(replayed.out, HasSubstr("The update file list is older than the installed version"));
  EXPECT_EQ(ReadFileBytes(dest + "/lib/data.txt"), "second");
}

// Names with every printable ASCII byte a release may hold reach real web servers as those
// names: the client installs the release from each, byte for byte.
TEST_F(PublishEndToEnd, EveryPrintableNameInstallsFromRealServers) {
  std::map<std::string, std::string> release = {
      {"run.sh",
       "#!/bin/sh\ncd \"$(dirname \"$0\")\" && printf '%s|' \"$@\" > ran.tmp && mv ran.tmp "
       "ran.txt\n"},
      {"%41", "not A"},
      {"%2F", "not a slash"},
      {"d !\"#$%&'()*+,;=?@[]^`{|}~/x ?#%25 ", "odd folder"},
  };
  for (char c = ' '; c <= '~'; ++c) {
    if (c != '/' && c != '\\') {
      release[std::string("n") + c + "e"] = std::string(1 + c % 7, c);
    }
  }
  for (const auto& [path, content] : release) {
    WriteTestFile(App(path), content, path == "run.sh" ? 0755 : 0644);
  }
  Publish();

  const std::string root = scratch_.path();
  const std::map<std::string, std::function<std::vector<std::string>(const std::string&)>> servers =
      {
          {"nginx", NginxServing(root)},
          {"lighttpd",
           [&](const std::string& port) {
             WriteTestFile(root + "/lighttpd.conf", "server.document-root = \"" + root +
                                                        "\"\nserver.bind = \"127.0.0.1\"\n"
                                                        "server.port = " +
                                                        port + "\n");
             return std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f",
                                             root + "/lighttpd.conf"};
           }},
          {"busybox httpd",
           [&](const std::string& port) {
             return std::vector<std::string>{"/usr/bin/busybox",  "httpd", "-f", "-p",
                                             "127.0.0.1:" + port, "-h",    root};
           }},
      };
  for (const auto& [name, command] : servers) {
    SCOPED_TRACE(name);
    std::unique_ptr<BackgroundChild> running;
    const int port = ServerPort(command, running);
    ASSERT_NE(port, 0) << "is it installed? (scripts/setup)";
    server_.SetBody("/servers.txt", name + "|http://127.0.0.1:" + std::to_string(port) + "/out\n");
    for (const auto& [path, content] : release) {
      std::filesystem::remove(Client(path));
    }
    Update();
    ExpectInstalled(release);
  }
}

std::string Sha256Of(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.HexDigest();
}

// Text that compresses about twofold, as program files do.
std::string GeneratedText(size_t size, unsigned seed) {
  std::string text(size, ' ');
  for (char& c : text) {
    seed = seed * 1103515245 + 12345;
    c = "abcdefghij \n"[(seed >> 16) % 12];
  }
  return text;
}

// A release whose files come by patch (the installed file is where a patch starts), by
// compressed copy (the installed file was changed by hand) and plainly (new, and random bytes):
// the installation is the new release byte for byte each way, and each failure of a patch or a
// compressed copy falls back to the next way, from the loopback server and from nginx.
TEST_F(PublishEndToEnd, PatchesAndCompressedCopiesInstallTheReleaseOrFallBack) {
  const std::string big = GeneratedText(300000, 1), data = GeneratedText(200000, 2);
  std::map<std::string, std::string> first = {
      {"run.sh", "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran.txt\"\n"},
      {"big.txt", big},
      {"lib/data.txt", data}};
  std::map<std::string, std::string> second = {
      {"run.sh", first["run.sh"]},
      {"new.bin", GeneratedText(3000, 4)},
      {"big.txt", big.substr(0, 100000) + "new" + big.substr(100000)},
      {"lib/data.txt", data.substr(5000) + GeneratedText(4000, 3)}};
  for (const auto& [path, content] : first) {
    WriteTestFile(App(path), content, 0755);
  }
  Publish();
  for (char& c : second["new.bin"]) {
    c = static_cast<char>(c * 37 + (&c - second["new.bin"].data()) * 101);
  }
  for (const auto& [path, content] : second) {
    WriteTestFile(App(path), content, 0755);
  }
  Publish();
  const std::string objects = scratch_.File("out/_lodestar/");
  const std::string patch =
      "_lodestar/" + Sha256Of(first["big.txt"]) + "-" + Sha256Of(second["big.txt"]) + ".zst.txt";
  const std::string bigCopy = "_lodestar/" + Sha256Of(second["big.txt"]) + ".zst.txt";
  const std::string dataCopy = "_lodestar/" + Sha256Of(second["lib/data.txt"]) + ".zst.txt";
  const std::string plain = "/release//new.bin.txt", dataPlain = "/release/lib/data.txt.txt";
  enum Sabotage { kNone, kRemoved, kDamaged };
  const struct {
    std::string object;
    Sabotage sabotage;
    std::vector<std::string> requests;
  } cases[] = {
      {patch, kNone, {"/release/" + patch, "/release/" + dataCopy, plain}},
      {patch,
       kRemoved,
       {"/release/" + patch, "/release/" + bigCopy, "/release/" + dataCopy, plain}},
      {patch,
       kDamaged,
       {"/release/" + patch, "/release/" + bigCopy, "/release/" + dataCopy, plain}},
      {dataCopy, kRemoved, {"/release/" + patch, "/release/" + dataCopy, dataPlain, plain}},
      {dataCopy, kDamaged, {"/release/" + patch, "/release/" + dataCopy, dataPlain, plain}},
  };
  // Installs the first release as it was, with lib/data.txt changed by hand at its length.
  auto installFirst = [&] {
    for (const auto& [path, content] : first) {
      WriteTestFile(Client(path), content, 0755);
    }
    WriteTestFile(Client("lib/data.txt"), GeneratedText(data.size(), 9));
  };
  std::string firstRelease;  // the first release's manifest, kept by the publisher
  for (const auto& entry : std::filesystem::directory_iterator(objects)) {
    if (entry.path().string().find(".version.txt") != std::string::npos) {
      firstRelease = ReadFileBytes(entry.path());
    }
  }
  ASSERT_FALSE(firstRelease.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.object + " " + std::to_string(c.sabotage));
    installFirst();
    WriteTestFile(Client("version.txt"), firstRelease);
    const std::string object = scratch_.File("out/" + c.object), kept = ReadFileBytes(object);
    std::string damaged = kept;
    damaged[damaged.size() / 2] ^= 0x55;
    if (c.sabotage == kRemoved) {
      std::filesystem::remove(object);
    } else if (c.sabotage == kDamaged) {
      WriteTestFile(object, damaged);
    }
    FileRequests();
    Update();
    ExpectInstalled(second);
    EXPECT_THAT(FileRequests(), ::testing::UnorderedElementsAreArray(c.requests));
    WriteTestFile(object, kept);
  }

  const std::string root = scratch_.path();
  std::unique_ptr<BackgroundChild> nginx;
  const int port = ServerPort(NginxServing(root), nginx);
  ASSERT_NE(port, 0) << "is it installed? (scripts/setup)";
  server_.SetBody("/servers.txt", "nginx|http://127.0.0.1:" + std::to_string(port) + "/out\n");
  installFirst();
  WriteTestFile(Client("version.txt"), firstRelease);
  Update();
  ExpectInstalled(second);
  nginx.reset();
  const std::string log = ReadFileBytes(root + "/nginx/access.log");
  EXPECT_THAT(log, HasSubstr("GET /out/" + patch + " HTTP/1.1\" 200"));
  EXPECT_THAT(log, HasSubstr("GET /out/" + dataCopy + " HTTP/1.1\" 200"));
}

}  // namespace
