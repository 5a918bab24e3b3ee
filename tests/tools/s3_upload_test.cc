#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "publish/bucket_upload.h"
#include "publish/publish_error.h"
#include "publish/signing/minisign_signing.h"
#include "publish/signing_key.h"
#include "support/child_process.h"
#include "support/loopback_http_server.h"
#include "support/s3_test_store.h"
#include "support/temp_dir.h"

using ::testing::HasSubstr;

namespace {

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

// A release is "relative path: content"; the one run.sh starts the application.
using Release = std::map<std::string, std::string>;

// Releases uploaded to a store started for the test, installed and updated by the real client
// from the store's own HTTP endpoint.
class UploadToStore : public ::testing::Test {
 protected:
  void SetUp() override { StartStore({}); }

  void StartStore(const S3TestStore::Options& options) {
    store_ = std::make_unique<S3TestStore>(options);
    if (!store_->missing().empty()) {
      GTEST_SKIP() << store_->missing() << " (the machine's image provides it)";
    }
    server_.SetBody("/servers.txt", "Store|" + store_->Url("app") + "\n");
  }

  // Publishes release into out (signed with key when given), replacing the one before.
  void Publish(const Release& release, const std::string& key = "") {
    std::filesystem::remove_all(scratch_.File("app"));
    for (const auto& [path, content] : release) {
      WriteTestFile(scratch_.File("app/" + path), content, path == "run.sh" ? 0755 : 0644);
    }
    std::vector<std::string> argv = {LODESTAR_PUBLISH_BINARY, scratch_.File("app"), Out()};
    if (!key.empty()) {
      argv.insert(argv.begin() + 1, {"--sign", key});
    }
    ChildResult published = Run(argv);
    ASSERT_EQ(published.status, 0) << published.out;
  }

  ChildResult Upload(const std::string& address = "s3://lodestar-test/app",
                     std::vector<std::string> extra = {}) {
    ChildOptions options;
    options.mergeOutput = true;
    // The test's own values replace the store's.
    for (const std::string& entry : store_->Environment()) {
      const std::string name = entry.substr(0, entry.find('=') + 1);
      if (std::none_of(extra.begin(), extra.end(),
                       [&name](const std::string& given) { return given.rfind(name, 0) == 0; })) {
        options.extra.push_back(entry);
      }
    }
    options.extra.insert(options.extra.end(), extra.begin(), extra.end());
    return RunChild({LODESTAR_PUBLISH_BINARY, "--upload", Out(), address}, options);
  }

  // Makes the client's installation of what out serves.
  void Install(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {LODESTAR_PUBLISH_BINARY,
                                     "--install",
                                     Out(),
                                     Client(""),
                                     "--client",
                                     LODESTAR_BINARY,
                                     "--serverlist",
                                     server_.Url("/servers.txt"),
                                     "--exec",
                                     "run.sh",
                                     "--auto"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ChildResult installed = Run(argv);
    ASSERT_EQ(installed.status, 0) << installed.out;
  }

  ChildResult RunClient() {
    ChildOptions options;
    options.unset = kNoDisplay;
    options.mergeOutput = true;
    return RunChild({Client("Lodestar")}, options);
  }

  // Whether every file of release is installed with its content.
  bool Installed(const Release& release) {
    for (const auto& [path, content] : release) {
      if (ReadFileBytes(Client(path)) != content || !FileExists(Client(path))) {
        return false;
      }
    }
    return true;
  }

  std::vector<std::string> Keys() {
    std::vector<std::string> keys;
    for (const auto& [key, content] : store_->Objects()) {
      keys.push_back(key);
    }
    return keys;
  }

  static ChildResult Run(const std::vector<std::string>& argv) {
    ChildOptions options;
    options.mergeOutput = true;
    options.unset = {kKeyPasswordVariable};
    return RunChild(argv, options);
  }
  std::string Out() const { return scratch_.File("out"); }
  std::string Client(const std::string& relative) const {
    return scratch_.File("client/" + relative);
  }

  TempDir scratch_;
  LoopbackHttpServer server_;
  std::unique_ptr<S3TestStore> store_;
};

TEST_F(UploadToStore, ClientsInstallFromTheStoreAndUnusedObjectsGoOneReleaseLater) {
  const std::string runner = "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran.txt\"\n";
  Release v1 = {{"run.sh", runner}, {"a b.txt", "top"}, {"lib/x.txt", "x1"}, {"lib/old", "o"}};
  Publish(v1);
  Install();
  // The client fetches these from the store.
  std::filesystem::remove_all(Client("lib"));
  std::filesystem::remove(Client("a b.txt"));
  ChildResult first = Upload();
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_THAT(first.out, HasSubstr("uploaded 4 files (" + std::to_string(runner.size() + 6) +
                                   " bytes) to s3://lodestar-test/app: 4 sent"));
  // Top-level copies sit where clients ask for them: below "app/" + "/name.txt".
  EXPECT_THAT(Keys(), ::testing::IsSupersetOf({"app//run.sh.txt", "app//a b.txt.txt",
                                               "app/lib/x.txt.txt", "app/version.txt"}));
  ChildResult installed = RunClient();
  ASSERT_EQ(installed.status, 0) << installed.out;
  EXPECT_TRUE(Installed(v1));
  struct stat status {};
  EXPECT_TRUE(stat(Client("run.sh").c_str(), &status) == 0 && (status.st_mode & S_IXUSR) != 0);
  EXPECT_TRUE(WaitForFile(Client("ran.txt")));  // the client starts it and does not wait

  // v2: lib/old leaves, lib/x changes, lib/new comes. Clients in the middle of v1 still find
  // lib/old, also after a rerun.
  Release v2 = v1;
  v2.erase("lib/old");
  v2["lib/x.txt"] = "x2";
  v2["lib/new"] = "n";
  Publish(v2);
  for (int run = 0; run < 2; ++run) {
    ChildResult second = Upload();
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_THAT(second.out, HasSubstr(run == 0 ? "2 sent (3 bytes), 2 already there, 0 removed"
                                               : "0 sent (0 bytes), 4 already there, 0 removed"));
    EXPECT_EQ(store_->Objects()["app/lib/old.txt"], "o");
  }
  ChildResult updated = RunClient();
  ASSERT_EQ(updated.status, 0) << updated.out;
  EXPECT_TRUE(Installed(v2));

  // v3: what only v1 used goes, and so does what no release names (a killed upload's, say).
  store_->Put("app/junk.txt", "junk");
  Release v3 = v2;
  v3["a b.txt"] = "top 3";
  Publish(v3);
  ChildResult third = Upload();
  ASSERT_EQ(third.status, 0) << third.out;
  EXPECT_THAT(third.out, HasSubstr("1 sent (5 bytes), 3 already there, 2 removed"));
  EXPECT_THAT(third.out, HasSubstr("removed  lib/old.txt"));
  EXPECT_THAT(Keys(), ::testing::UnorderedElementsAre(
                          "app//run.sh.txt", "app//a b.txt.txt", "app/lib/x.txt.txt",
                          "app/lib/new.txt", "app/version.txt", "app/version.txt.previous"));
  ASSERT_EQ(RunClient().status, 0);
  EXPECT_TRUE(Installed(v3));
}

// Compressed copies and patches go up with the copies, before the manifest; what only the
// publisher needs stays local, and clients that fetch plain copies install as before.
TEST_F(UploadToStore, CompressedCopiesAndPatchesGoUpBeforeTheManifest) {
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += "line " + std::to_string(i) + "\n";
  }
  Release v1 = {{"run.sh", "#!/bin/sh\n"}, {"lib/data.txt", text}};
  Publish(v1);
  ASSERT_EQ(Upload().status, 0);
  Install();
  Release v2 = v1;
  v2["lib/data.txt"] = text + "more\n";
  Publish(v2);
  ChildResult second = Upload();
  ASSERT_EQ(second.status, 0) << second.out;

  auto hash = [](const std::string& content) {
    Sha256 digest;
    digest.Update(content.data(), content.size());
    return digest.HexDigest();
  };
  const std::string copy = "_lodestar/" + hash(v2["lib/data.txt"]) + ".zst.txt";
  const std::string patch = "_lodestar/" + hash(text) + "-" + hash(v2["lib/data.txt"]) + ".zst.txt";
  std::map<std::string, std::string> objects = store_->Objects();
  EXPECT_EQ(objects["app/" + copy], ReadFileBytes(Out() + "/" + copy));
  EXPECT_EQ(objects["app/" + patch], ReadFileBytes(Out() + "/" + patch));
  EXPECT_LT(second.out.find("sent     " + patch), second.out.find("sent     version.txt"));
  for (const auto& [key, content] : objects) {
    EXPECT_EQ(key.find(".version.txt"), std::string::npos) << key;
  }
  ChildResult updated = RunClient();
  ASSERT_EQ(updated.status, 0) << updated.out;
  EXPECT_TRUE(Installed(v2));
}

// SIGKILL at a random request of each upload of a chain of signed releases: a client that holds
// the release before finds it or the new one whole, never a mix, and the rerun finishes.
TEST_F(UploadToStore, AKilledUploadLeavesOneWholeReleaseAndTheRerunFinishes) {
  std::string publicFile, secretFile, error;
  ASSERT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error));
  const std::string key = scratch_.File("k.key");
  WriteTestFile(key, secretFile, 0600);
  WriteTestFile(scratch_.File("k.pub"), publicFile);
  Release before = {{"run.sh", "#!/bin/sh\n"}, {"a.txt", "a0"}, {"lib/b.txt", "b0"}};
  Publish(before, key);
  ASSERT_EQ(Upload().status, 0);
  Install({"--pubkey", scratch_.File("k.pub")});

  std::mt19937 random(std::random_device{}());
  for (int round = 1; round <= 4; ++round) {
    Release next = before;
    next["a.txt"] = "a" + std::to_string(round);
    next["lib/b.txt"] += "+";
    next["lib/r" + std::to_string(round)] = "new";
    next.erase("lib/r" + std::to_string(round - 1));
    Publish(next, key);
    const int killAt = std::uniform_int_distribution<int>(1, 22)(random);
    SCOPED_TRACE("round " + std::to_string(round) + ", killed at request " +
                 std::to_string(killAt));
    ChildResult killed =
        Upload("s3://lodestar-test/app", {"LODESTAR_TEST_KILL_AT=" + std::to_string(killAt)});
    EXPECT_NE(killed.status, 1) << killed.out;

    ChildResult meanwhile = RunClient();
    EXPECT_FALSE(meanwhile.timedOut);
    const bool old = Installed(before);
    EXPECT_TRUE(old != Installed(next)) << meanwhile.out;

    ChildResult rerun = Upload();
    ASSERT_EQ(rerun.status, 0) << rerun.out;
    ChildResult updated = RunClient();
    ASSERT_EQ(updated.status, 0) << updated.out;
    EXPECT_TRUE(Installed(next)) << updated.out;
    before = next;
  }
}

// The store checks signatures as AWS does: libcurl's pass, a wrong secret's are refused. (At the
// bucket's top: the checker decodes a "/" in a query value before it checks, and so refuses
// AWS's own SDK's listings below a prefix too.)
TEST_F(UploadToStore, TheStoreChecksTheSignatures) {
  StartStore({true, 0});
  Publish({{"run.sh", "#!/bin/sh\n"}, {"lib/big", std::string(3 << 20, 'b')}});
  ChildResult wrong = Upload("s3://lodestar-test", {"AWS_SECRET_ACCESS_KEY=wrong"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_THAT(wrong.out, HasSubstr("HTTP 403 SignatureDoesNotMatch"));
  EXPECT_THAT(wrong.out, HasSubstr("check AWS_SECRET_ACCESS_KEY"));
  ChildResult right = Upload("s3://lodestar-test");
  ASSERT_EQ(right.status, 0) << right.out;
  EXPECT_EQ(store_->Objects()["lib/big.txt"], std::string(3 << 20, 'b'));
  EXPECT_EQ(store_->Objects().count("/run.sh.txt"), 1u);
}

// A copy that no longer matches the manifest is refused before anything of it goes, and the
// wrong address, keys and folders say what is wrong.
TEST_F(UploadToStore, RefusesWhatIsWrongWithoutTouchingTheStore) {
  Publish({{"run.sh", "#!/bin/sh\n"}, {"a.txt", "a"}});
  ASSERT_EQ(Upload().status, 0);
  const auto stored = store_->Objects();
  Publish({{"run.sh", "#!/bin/sh\n"}, {"a.txt", "b"}});
  WriteTestFile(Out() + "/a.txt.txt", "c");
  const std::map<std::string, std::vector<std::string>> cases = {
      {"does not have the content the manifest lists", {}},
      {"no s3://BUCKET/PREFIX address", {"--address", "http://x/y"}},
      {"set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY", {"AWS_ACCESS_KEY_ID="}},
      {"HTTP 404 NoSuchBucket", {"--address", "s3://no-such-bucket/app"}},
  };
  for (const auto& [message, change] : cases) {
    SCOPED_TRACE(message);
    std::string address = "s3://lodestar-test/app";
    std::vector<std::string> extra;
    if (!change.empty() && change[0] == "--address") {
      address = change[1];
    } else {
      extra = change;
    }
    ChildResult refused = Upload(address, extra);
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr(message));
    EXPECT_EQ(store_->Objects(), stored);
  }
}

// Large copies go up in parts, checked whole; a multipart upload that fails is aborted, and the
// manifest served stays the one before.
TEST_F(UploadToStore, LargeCopiesGoUpInPartsAndAFailedOneIsAborted) {
  StartStore({false, 256 << 10});
  std::string large(1300 << 10, '\0');
  std::mt19937 random(7);
  for (char& c : large) {
    c = static_cast<char>(random());
  }
  Publish({{"run.sh", "#!/bin/sh\n"}, {"large.bin", large}});
  UploadOptions options;
  options.outDir = Out();
  options.address = "s3://lodestar-test/app";
  std::map<std::string, std::string> environment;
  for (const std::string& entry : store_->Environment()) {
    environment[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
  }
  options.environment = [&](const std::string& name) { return environment[name]; };
  std::string log;
  options.log = [&log](const std::string& line) { log += line + "\n"; };
  options.multipartThreshold = 1 << 20;
  options.partSize = 256 << 10;
  UploadSummary summary = ::Upload(options);
  EXPECT_EQ(summary.sent, 2u);
  EXPECT_THAT(log, HasSubstr("part 6/6"));
  EXPECT_EQ(store_->Objects()["app//large.bin.txt"], large);

  // Parts below the store's smallest are refused when the upload completes.
  const std::string served = store_->Objects()["app/version.txt"];
  large[0] ^= 1;
  Publish({{"run.sh", "#!/bin/sh\n"}, {"large.bin", large}});
  options.partSize = 100 << 10;
  try {
    ::Upload(options);
    ADD_FAILURE() << "the upload went through";
  } catch (const PublishError& failure) {
    EXPECT_THAT(failure.what(), HasSubstr("EntityTooSmall"));
  }
  EXPECT_TRUE(store_->UnfinishedUploads().empty());
  EXPECT_EQ(store_->Objects()["app/version.txt"], served);
}

}  // namespace
