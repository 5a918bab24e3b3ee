#include "publish/publisher.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <set>
#include <stdexcept>

#include "catalogue/minisign.h"
#include "listed_manifest.h"
#include "platform/crypto.h"
#include "publish/previous_release.h"
#include "publish/publish_error.h"
#include "publish/signing/minisign_signing.h"
#include "publish/staging_area.h"
#include "support/temp_dir.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

namespace {

class PublisherTest : public ::testing::Test {
 protected:
  std::string App(const std::string& relative) const { return scratch_.File("app/" + relative); }
  std::string Out(const std::string& relative) const { return scratch_.File("out/" + relative); }

  PublishSummary Run(std::vector<std::string> excludes = {}) {
    PublishOptions options = Options();
    options.excludes = std::move(excludes);
    return Publish(options);
  }

  PublishOptions Options() {
    PublishOptions options;
    options.appDir = scratch_.File("app");
    options.outDir = scratch_.File("out");
    options.log = [this](const std::string& line) { log_ += line + "\n"; };
    return options;
  }

  std::map<std::string, ListedFile> Listed() { return ReadManifest(Out("version.txt")); }

  std::string Version(const std::string& path) {
    auto files = Listed();
    auto found = files.find(path);
    return found == files.end() ? "(absent)" : found->second.v;
  }

  // The names below _lodestar/ in the output folder.
  std::set<std::string> DeltaObjects() const {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Out("_lodestar"), error)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir scratch_;
  std::string log_;
};

std::string Sha256Of(const std::string& content) {
  Sha256 digest;
  digest.Update(content.data(), content.size());
  return digest.HexDigest();
}

// Bytes that do not compress, the same for the same seed.
std::string Noise(size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
  }
  return bytes;
}

TEST_F(PublisherTest, VersionsCarryOnAcrossPublishes) {
  WriteTestFile(App("keep.txt"), "same");
  WriteTestFile(App("sub/change.bin"), "old!");
  WriteTestFile(App("gone.txt"), "bye");
  PublishSummary first = Run();
  EXPECT_EQ(first.files, 3u);
  EXPECT_EQ(first.added, 3u);
  EXPECT_EQ(first.bytes, 11u);

  // Same length, other bytes: only the content can tell.
  WriteTestFile(App("sub/change.bin"), "new!");
  WriteTestFile(App("added.txt"), "hello");
  std::filesystem::remove(App("gone.txt"));
  PublishSummary second = Run();
  EXPECT_EQ(second.unchanged, 1u);
  EXPECT_EQ(second.changed, 1u);
  EXPECT_EQ(second.added, 1u);
  EXPECT_EQ(second.removed, 1u);
  EXPECT_EQ(Version("keep.txt"), "1");
  EXPECT_EQ(Version("sub/change.bin"), "2");
  EXPECT_EQ(Version("added.txt"), "1");
  EXPECT_EQ(Version("gone.txt"), "(absent)");
  EXPECT_FALSE(FileExists(Out("gone.txt.txt")));
  EXPECT_EQ(ReadFileBytes(Out("sub/change.bin.txt")), "new!");
  EXPECT_THAT(log_, HasSubstr("changed  sub/change.bin (v2)"));
  EXPECT_THAT(log_, HasSubstr("removed  gone.txt"));

  // A path that comes back continues its old numbering: a client that still holds v1 of it
  // with the same length must not take the new content for the old.
  WriteTestFile(App("gone.txt"), "hi!");
  Run();
  EXPECT_EQ(Version("gone.txt"), "2");
  EXPECT_EQ(Version("keep.txt"), "1");
}

TEST_F(PublisherTest, ExecuteBitAndCaseOnlyRenamesRaiseTheVersion) {
  WriteTestFile(App("run.sh"), "#!/bin/sh\n");
  WriteTestFile(App("Readme"), "text");
  Run();
  EXPECT_EQ(Listed()["run.sh"].x, "");

  // The client sets the execute bit only on a download, and matches paths without case.
  ASSERT_EQ(chmod(App("run.sh").c_str(), 0755), 0);
  std::filesystem::rename(App("Readme"), App("README"));
  Run();
  auto files = Listed();
  EXPECT_EQ(files["run.sh"].v, "2");
  EXPECT_EQ(files["run.sh"].x, "1");
  EXPECT_EQ(files["README"].v, "2");
  EXPECT_EQ(files.count("Readme"), 0u);
}

TEST_F(PublisherTest, ReadsListedFilesAsClientsDo) {
  // Lengths past a 32-bit int must match the file's size on the next publish; what clients skip
  // (a missing or negative l or v) carries no version over.
  WriteTestFile(Out("version.txt"),
                "\"paths\":[\"\":[\"two.bin\":{\"l\":\"2147483648\",\"v\":\"3\"},"
                "\"five.bin\":{\"l\":\"5000000000\",\"v\":\"2\"},"
                "\"negative.bin\":{\"l\":\"-1\",\"v\":\"7\"},"
                "\"unversioned.bin\":{\"l\":\"1\"}]]\n");
  PreviousRelease release = PreviousRelease::Read(Out("version.txt"));
  ASSERT_NE(release.Find("two.bin"), nullptr);
  EXPECT_EQ(release.Find("two.bin")->length, int64_t{2147483648});
  ASSERT_NE(release.Find("five.bin"), nullptr);
  EXPECT_EQ(release.Find("five.bin")->length, int64_t{5000000000});
  EXPECT_EQ(release.Find("negative.bin"), nullptr);
  EXPECT_EQ(release.Find("unversioned.bin"), nullptr);
  EXPECT_EQ(release.HighestVersion("TWO.BIN"), 3);
}

TEST_F(PublisherTest, RecordsTheLastWriteTimeAndTheLocalDate) {
  WriteTestFile(App("a.txt"), "a");
  // 2001-09-09 01:46:40.123456789 UTC.
  struct timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, App("a.txt").c_str(), times, 0), 0);

  const char* oldZone = std::getenv("TZ");
  std::string saved = oldZone != nullptr ? oldZone : "";
  setenv("TZ", "UTC", 1);
  tzset();
  PublishOptions options = Options();
  options.publishTime = 946782245;  // 2000-01-02 03:04:05 UTC: every field padded
  Publish(options);
  if (oldZone != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  std::string date;
  auto files = ReadManifest(Out("version.txt"), &date);
  EXPECT_EQ(files["a.txt"].d, "126444736001234567");
  EXPECT_EQ(date, "2000-01-02 03:04:05");
}

TEST_F(PublisherTest, LeavesOutTheClientsFilesAndExcludedPatterns) {
  for (const char* name :
       {"Lodestar.cfg", "version.txt", "version.txt.progress", "version.txt.minisig",
        "version.txt.commit", "Lodestar.cacert.pem", "app.bin", "app.bin.update", "sub/version.txt",
        "sub/Lodestar.cfg", "sub/x.update", "run.log", "deep/er/trace.log", "cache/blob",
        "docs/a.md", "docs/img/b.png", "docs2/c.md"}) {
    WriteTestFile(App(name), name);
  }
  Run({"*.log", "cache", "docs/*"});
  std::string keys;
  auto files = ReadManifest(Out("version.txt"), nullptr, &keys);
  std::vector<std::string> names;
  for (const auto& file : files) {
    names.push_back(file.first);
  }
  // A version.txt or Lodestar.cfg below the top is application data.
  EXPECT_THAT(names, ElementsAre("app.bin", "docs2/c.md", "sub/Lodestar.cfg", "sub/version.txt"));
  // "docs" is left empty by its exclusions and is listed so that clients create it; "deep/er"
  // likewise, but not "deep", which "deep/er" creates.
  EXPECT_EQ(keys, "[][deep/er][docs][docs2][sub]");
}

TEST_F(PublisherTest, WarnsOnceOfEveryPathWindowsCannotHold) {
  for (const char* path :
       {"a:b", "Con.txt", "trail.", "blank ", "aux/x", "aux/y", "ok/lpt1/z", "fine.txt"}) {
    WriteTestFile(App(path), path);
  }
  Run();
  EXPECT_EQ(Listed().size(), 8u);  // clients elsewhere can use them all
  const std::vector<std::string> warned = {"'a:b' (a ':'",      "'Con.txt' (a reserved",
                                           "'trail.' (Windows", "'blank ' (Windows",
                                           "'aux' (a reserved", "'ok/lpt1' (a reserved"};
  for (const std::string& line : warned) {
    EXPECT_THAT(log_, HasSubstr("warning: Windows cannot hold the name " + line)) << log_;
  }
  // A folder's warning covers what lies below it.
  EXPECT_THAT(log_, Not(HasSubstr("name 'aux/")));
  EXPECT_THAT(log_, Not(HasSubstr("name 'ok/lpt1/")));
}

TEST_F(PublisherTest, FollowsLinksToFilesAndSkipsOtherLinks) {
  WriteTestFile(App("lib/libx.so.1"), "elf", 0755);
  WriteTestFile(App("real/file"), "f");
  ASSERT_EQ(symlink("libx.so.1", App("lib/libx.so").c_str()), 0);
  ASSERT_EQ(symlink("real", App("alias").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", App("dangling").c_str()), 0);
  Run();
  auto files = Listed();
  EXPECT_EQ(files["lib/libx.so"].x, "1");
  EXPECT_EQ(ReadFileBytes(Out("lib/libx.so.txt")), "elf");
  EXPECT_EQ(files.count("alias/file"), 0u);
  EXPECT_EQ(files.count("dangling"), 0u);
  EXPECT_THAT(log_, HasSubstr("skipped link to a folder or special file: alias"));
  EXPECT_THAT(log_, HasSubstr("skipped dangling link: dangling"));
}

TEST_F(PublisherTest, RefusesReleasesItCannotPublishFaithfully) {
  auto failure = [this](uint64_t manifestMaxBytes = kManifestMaxBytes) -> std::string {
    PublishOptions options = Options();
    options.manifestMaxBytes = manifestMaxBytes;
    try {
      Publish(options);
    } catch (const PublishError& error) {
      return error.what();
    }
    return "(published)";
  };
  EXPECT_THAT(failure(), HasSubstr("No such file or directory"));

  WriteTestFile(App("version"), "would land on the manifest");
  EXPECT_THAT(failure(), HasSubstr("manifest's own name"));
  std::filesystem::remove(App("version"));

  WriteTestFile(App("a"), "file a");
  WriteTestFile(App("a.txt/b"), "folder a.txt");
  EXPECT_THAT(failure(), HasSubstr("also a folder"));
  std::filesystem::remove_all(App("a.txt"));

  // Compressed copies and patches live in _lodestar/ at the top, which clients and many servers
  // match in any case.
  WriteTestFile(App("sub/_lodestar/deeper"), "fine below the top");
  for (const std::string& clash :
       std::vector<std::string>{"_lodestar/x", "_LodeStar/y/z", "_lodestar"}) {
    WriteTestFile(App(clash), "clash");
    EXPECT_THAT(failure(), HasSubstr("keeps (in any case) for compressed copies")) << clash;
    std::filesystem::remove_all(App(clash.substr(0, clash.find('/'))));
  }

  WriteTestFile(App("back\\slash"), "x");
  EXPECT_THAT(failure(), HasSubstr("backslash"));
  std::filesystem::remove(App("back\\slash"));

  // Clients refuse a manifest over the cap: it is never served, nor are the copies it names.
  EXPECT_THAT(failure(100), HasSubstr("bytes, more than the 100 that clients accept"));
  EXPECT_FALSE(FileExists(Out("version.txt")));
  EXPECT_FALSE(FileExists(Out("a.txt")));

  PublishOptions nested = Options();
  nested.outDir = App("published");
  EXPECT_THROW(Publish(nested), PublishError);
  EXPECT_FALSE(FileExists(App("published")));

  WriteTestFile(Out("version.txt"), "{not a manifest");
  EXPECT_THAT(failure(), HasSubstr("is not a manifest"));
  EXPECT_EQ(ReadFileBytes(Out("version.txt")), "{not a manifest");
}

TEST_F(PublisherTest, FailingBeforeTheFlipKeepsTheOldReleaseWhole) {
  WriteTestFile(App("keep.txt"), "keep");
  WriteTestFile(App("sub/change.txt"), "version one");
  WriteTestFile(App("gone.txt"), "gone");
  Run();
  std::string manifest = ReadFileBytes(Out("version.txt"));

  WriteTestFile(App("sub/change.txt"), "version two!");
  WriteTestFile(App("new/added.txt"), "added");
  std::filesystem::remove(App("gone.txt"));
  PublishOptions options = Options();
  options.beforeFlip = [this] {
    // By now the new copies are in place; the hook stands for any failure before the flip.
    EXPECT_EQ(ReadFileBytes(Out("sub/change.txt.txt")), "version two!");
    throw std::runtime_error("disk full");
  };
  EXPECT_THROW(Publish(options), std::runtime_error);

  EXPECT_EQ(ReadFileBytes(Out("version.txt")), manifest);
  EXPECT_EQ(ReadFileBytes(Out("keep.txt.txt")), "keep");
  EXPECT_EQ(ReadFileBytes(Out("sub/change.txt.txt")), "version one");
  EXPECT_EQ(ReadFileBytes(Out("gone.txt.txt")), "gone");
  EXPECT_FALSE(FileExists(Out("new/added.txt.txt")));
  EXPECT_FALSE(FileExists(Out(StagingArea::kFolderName)));

  PublishSummary retry = Run();
  EXPECT_FALSE(retry.recovered);
  EXPECT_EQ(Version("sub/change.txt"), "2");
  EXPECT_EQ(ReadFileBytes(Out("sub/change.txt.txt")), "version two!");
}

TEST_F(PublisherTest, CompressedCopiesAreListedWhereTheySaveFivePercent) {
  const std::string text(20000, 'a');
  struct Case {
    std::string path;
    std::string content;
    bool listed;
  };
  const Case cases[] = {
      {"text.txt", text, true},
      {"noise.bin", Noise(20000, 1), false},
      {"tenth.bin", Noise(18000, 2) + text.substr(0, 2000), true},
      {"fiftieth.bin", Noise(19600, 3) + text.substr(0, 400), false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    WriteTestFile(App(c.path), c.content);
  }
  Run();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ListedFile file = Listed()[c.path];
    // Kept either way, for patches to start from later.
    std::string frame = ReadFileBytes(Out("_lodestar/" + file.h + ".zst.txt"));
    EXPECT_EQ(Unzstd(frame), c.content);
    EXPECT_EQ(file.z, c.listed ? std::to_string(frame.size()) : "");
    if (c.listed) {
      EXPECT_LE(frame.size() * 20, c.content.size() * 19);
    }
  }
}

TEST_F(PublisherTest, PatchesStartFromEachOfTheLastReleasesAndWhatNoneNamesIsPruned) {
  // A file with an edit per version, which patches well, and one that never does.
  auto data = [](int version) {
    std::string content = Noise(40000, 7) + std::string(40000, 't');
    content.replace(static_cast<size_t>(1000 * version), 9, "version " + std::to_string(version));
    return content + std::string(static_cast<size_t>(version), '+');
  };
  for (size_t releases : {0, 1, 3}) {
    SCOPED_TRACE("--patches " + std::to_string(releases));
    std::filesystem::remove_all(Out(""));
    std::vector<std::string> hashes;  // of data.bin, by version - 1
    for (int version = 1; version <= 5; ++version) {
      SCOPED_TRACE(version);
      WriteTestFile(App("lib/data.bin"), data(version));
      WriteTestFile(App("noise.bin"), Noise(30000, static_cast<unsigned>(version)));
      PublishOptions options = Options();
      options.deltas.patchReleases = releases;
      Publish(options);
      hashes.push_back(Sha256Of(data(version)));

      ListedFile file = Listed()["lib/data.bin"];
      std::vector<std::string> sources;
      for (int earlier = version - 1; earlier >= 1 && version - earlier <= int(releases);
           --earlier) {
        sources.push_back(hashes[static_cast<size_t>(earlier - 1)]);
      }
      ASSERT_EQ(file.p.size(), sources.size());
      for (size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(file.p[i].first, sources[i]);
        std::string patch =
            ReadFileBytes(Out("_lodestar/" + sources[i] + "-" + file.h + ".zst.txt"));
        EXPECT_EQ(file.p[i].second, std::to_string(patch.size()));
        EXPECT_LT(patch.size(), std::stoul(file.z));
        int from = version - 1 - static_cast<int>(i);
        EXPECT_EQ(Sha256Of(Unzstd(patch, data(from))), file.h);
      }
      // A patch that saves nothing against the compressed copy or the file is not served.
      EXPECT_TRUE(Listed()["noise.bin"].p.empty());

      // Within reach: this release and the `releases` before it, with their kept manifests.
      std::set<std::string> objects = DeltaObjects();
      int oldest = std::max(1, version - static_cast<int>(releases));
      for (int kept = 1; kept <= version; ++kept) {
        EXPECT_EQ(objects.count(hashes[static_cast<size_t>(kept - 1)] + ".zst.txt"),
                  kept >= oldest ? 1u : 0u)
            << kept;
      }
      size_t manifests = std::count_if(objects.begin(), objects.end(), [](const std::string& n) {
        return n.find(".version.txt") != std::string::npos;
      });
      EXPECT_EQ(manifests, std::min<size_t>(releases, static_cast<size_t>(version - 1)));
    }
  }
  // Publishing again without a change keeps every earlier release within reach.
  std::set<std::string> before = DeltaObjects();
  Run();
  EXPECT_EQ(DeltaObjects(), before);
}

TEST_F(PublisherTest, ListsTheSha256OfEveryFileNewOrUnchanged) {
  const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  WriteTestFile(App("abc.txt"), "abc");
  WriteTestFile(App("sub/empty"), "");
  Run();
  EXPECT_EQ(Listed()["abc.txt"].h, kAbc);
  EXPECT_EQ(Listed()["sub/empty"].h, kEmpty);
  WriteTestFile(App("sub/empty"), "abc");
  Run();  // abc.txt unchanged: hashed while compared; sub/empty hashed while copied
  EXPECT_EQ(Listed()["abc.txt"].h, kAbc);
  EXPECT_EQ(Listed()["sub/empty"].h, kAbc);
}

MinisignSecretKey NewKey(MinisignPublicKey* publicKey = nullptr) {
  std::string publicFile, secretFile, error;
  SealedMinisignKey sealed;
  MinisignSecretKey key;
  EXPECT_TRUE(MakeMinisignKeyPair("", PasswordCost(), publicFile, secretFile, error));
  EXPECT_TRUE(ParseMinisignSecretKeyFile(secretFile, sealed, error));
  EXPECT_TRUE(UnsealMinisignSecretKey(sealed, "", key, error));
  if (publicKey != nullptr) {
    EXPECT_TRUE(ParseMinisignPublicKey(publicFile, *publicKey));
  }
  return key;
}

TEST_F(PublisherTest, SignedReleasesStaySignedWithTimestampsThatOnlyIncrease) {
  MinisignPublicKey publicKey;
  MinisignSecretKey key = NewKey(&publicKey);
  MinisignSecretKey otherKey = NewKey();
  const std::string future = "timestamp:4000000000\tfile:version.txt\thashed";
  struct Case {
    std::time_t clock;
    std::string planted;  // written over the served signature first, when given
    int64_t timestamp;
    std::string log;
  };
  const Case cases[] = {
      {1800000000, "", 1800000000, ""},
      // Two releases in one second must not share a timestamp: either could replace the other.
      {1800000000, "", 1800000001, ""},
      // A clock set back must not make clients refuse the release as a rollback.
      {1700000000, "", 1800000002, "the clock is behind"},
      // Whoever can write the served folder must not set the timestamps of every later release.
      {1800000100, SignWithMinisignKey(otherKey, "", future), 1800000100, "another key"},
      {1800000200, SignWithMinisignKey(key, "other bytes", future), 1800000200, "not what it"},
      {1800000300, "junk", 1800000300, "ignoring the timestamp of '" + Out("version.txt.minisig")},
  };
  WriteTestFile(App("a.txt"), "one");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timestamp);
    if (!c.planted.empty()) {
      WriteTestFile(Out("version.txt.minisig"), c.planted);
    }
    log_.clear();
    PublishOptions options = Options();
    options.signingKey = key;
    options.publishTime = c.clock;
    EXPECT_EQ(Publish(options).signedAt, c.timestamp);
    std::string manifest = ReadFileBytes(Out("version.txt"));
    VerifiedSignature verified;
    EXPECT_EQ(VerifyMinisignSignature(publicKey, manifest,
                                      ReadFileBytes(Out("version.txt.minisig")), verified),
              SignatureCheck::kValid);
    EXPECT_EQ(verified.timestamp, c.timestamp);
    // The head carries it too, under the signature, into every installation made from here.
    EXPECT_THAT(manifest, HasSubstr("\"timestamp\":\"" + std::to_string(c.timestamp) + "\""));
    EXPECT_THAT(log_, HasSubstr(c.log));
  }

  // Unsigned on top of signed would leave every checking client stuck: refused, nothing served
  // changes.
  std::string manifest = ReadFileBytes(Out("version.txt"));
  WriteTestFile(App("a.txt"), "three");
  EXPECT_THROW(Run(), PublishError);
  EXPECT_EQ(ReadFileBytes(Out("version.txt")), manifest);
  EXPECT_EQ(ReadFileBytes(Out("a.txt.txt")), "one");

  // Asked for, an unsigned publish goes through and takes the stale signature away.
  PublishOptions unsignedOptions = Options();
  unsignedOptions.allowUnsigned = true;
  Publish(unsignedOptions);
  EXPECT_EQ(ReadFileBytes(Out("a.txt.txt")), "three");
  EXPECT_FALSE(FileExists(Out("version.txt.minisig")));
  EXPECT_THAT(ReadFileBytes(Out("version.txt")), Not(HasSubstr("timestamp")));

  // A publish that died between the manifest's rename and the signature's: the next one puts
  // the staged signature in place.
  WriteTestFile(Out(std::string(StagingArea::kFolderName) + "/version.txt.minisig"), "staged");
  EXPECT_FALSE(StagingArea(Out("")).Recover());
  EXPECT_EQ(ReadFileBytes(Out("version.txt.minisig")), "staged");
}

// Runs a publish in a child process that dies (no unwinding, as if the machine went down)
// at the hook that step selects.
void PublishAndDie(PublishOptions options, bool beforeFlip) {
  options.log = nullptr;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    (beforeFlip ? options.beforeFlip : options.afterFlip) = [] { _exit(7); };
    try {
      Publish(options);
    } catch (...) {
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(PublisherTest, TheNextPublishRepairsOneThatDiedBeforeTheFlip) {
  WriteTestFile(App("data.txt"), "aaaa");
  WriteTestFile(App("stay.txt"), "stay");
  Run();
  std::string manifest = ReadFileBytes(Out("version.txt"));

  std::set<std::string> objects = DeltaObjects();
  WriteTestFile(App("data.txt"), "bbbb");
  WriteTestFile(App("fresh.txt"), "fresh");
  PublishAndDie(Options(), true);
  EXPECT_NE(DeltaObjects(), objects);
  EXPECT_EQ(ReadFileBytes(Out("data.txt.txt")), "bbbb");  // the crash left the new copy served
  EXPECT_EQ(ReadFileBytes(Out("version.txt")), manifest);

  StagingArea staging(Out(""));
  EXPECT_TRUE(staging.Recover());
  EXPECT_EQ(ReadFileBytes(Out("data.txt.txt")), "aaaa");
  EXPECT_FALSE(FileExists(Out("fresh.txt.txt")));
  EXPECT_EQ(ReadFileBytes(Out("stay.txt.txt")), "stay");
  EXPECT_EQ(DeltaObjects(), objects);
  EXPECT_FALSE(FileExists(Out(StagingArea::kFolderName)));

  // Had the copy stayed, the content comparison would have kept v1 for new content.
  Run();
  EXPECT_EQ(Version("data.txt"), "2");
  EXPECT_EQ(Version("fresh.txt"), "1");
}

TEST_F(PublisherTest, TheNextPublishFinishesRemovalsOfOneThatDiedAfterTheFlip) {
  WriteTestFile(App("stay.txt"), "stay");
  WriteTestFile(App("old/gone.txt"), "gone");
  Run();
  std::filesystem::remove_all(App("old"));
  PublishAndDie(Options(), false);
  EXPECT_EQ(Version("old/gone.txt"), "(absent)");
  EXPECT_TRUE(FileExists(Out("old/gone.txt.txt")));

  PublishSummary next = Run();
  EXPECT_FALSE(next.recovered);
  EXPECT_FALSE(FileExists(Out("old")));
  EXPECT_TRUE(FileExists(Out("stay.txt.txt")));
}

}  // namespace
