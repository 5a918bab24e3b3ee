#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/file_catalogue.h"
#include "catalogue_fixture.h"

namespace {

using LoadTest = CatalogueTest;

const char kGood[] = R"("paths":["":["a":{"l":"1","v":"1"}]])";

TEST_F(LoadTest, ManifestsThatDoNotLoadLeaveTheCatalogueEmpty) {
  const char* texts[] = {
      R"({"paths":["":["a":{"l":"1","v":"1"}]]})",  // the root has no braces of its own
      "",
      "  \r\n\t\n ",
      R"("paths":{"":["a":{"l":"1","v":"1"}]})",
      R"("head":{"date":"2024-01-01"})",
      R"("paths":"none")",
      R"("paths":["":["a":{"l":"1","v":"1"}])",  // unclosed
  };
  FileCatalogue catalogue(App());
  for (const char* text : texts) {
    ASSERT_TRUE(LoadText(catalogue, kGood));
    ASSERT_EQ(catalogue.Size(), 1u);
    EXPECT_FALSE(LoadText(catalogue, text)) << text;
    EXPECT_EQ(catalogue.Size(), 0u) << text;
  }
  ASSERT_TRUE(LoadText(catalogue, kGood));
  EXPECT_FALSE(catalogue.Load(base_ + "/missing.txt"));
  EXPECT_EQ(catalogue.Size(), 0u);
  EXPECT_FALSE(catalogue.Load(base_));
}

TEST_F(LoadTest, EmptyPathsLoadsWithoutEntries) {
  FileCatalogue catalogue(App());
  EXPECT_TRUE(LoadText(catalogue, R"("head":{"date":"x"},"paths":[])"));
  EXPECT_EQ(catalogue.Size(), 0u);
}

TEST_F(LoadTest, CreatesTheDirectoriesOfEveryDirectoryArray) {
  FileCatalogue catalogue(App());
  ASSERT_TRUE(LoadText(catalogue, R"("paths":["a/b":["f":{"l":"-1","v":"1"}],"c//d":[],)"
                                  R"("":["x":{"l":"1","v":"1"}],"text":"not an array",)"
                                  R"("obj":{"f":{"l":"1","v":"1"}}])"));
  EXPECT_EQ(List(), (std::vector<std::string>{"app/", "app/a/", "app/a/b/", "app/c/", "app/c/d/",
                                              "manifest.txt"}));
  ASSERT_EQ(catalogue.Size(), 1u);
  EXPECT_EQ(catalogue.Entries()[0].name, "x");
}

TEST_F(LoadTest, PathsJoinRootKeyAndNameWithDoubledSeparators) {
  std::string app = App();
  FileCatalogue catalogue(app.substr(0, app.size() - 1) + "\\");
  ASSERT_TRUE(LoadText(catalogue,
                       "\"paths\":[\n"
                       R"("":["Lodestar._exe":{"l":"900","v":"12"}],)"
                       "\n"
                       R"("plugins/net":["net.dll":{"l":"640","v":"3","d":"1"},)"
                       R"("readme.txt":{"l":"512","v":"1"}]])"));
  std::vector<CatalogueEntry> entries = catalogue.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].localPath, app + "//Lodestar._exe");
  EXPECT_EQ(entries[0].remotePath, "/Lodestar._exe.txt");
  EXPECT_EQ(entries[1].name, "net.dll");
  EXPECT_EQ(entries[1].localPath, app + "/plugins/net/net.dll");
  EXPECT_EQ(entries[1].remotePath, "plugins/net/net.dll.txt");
  EXPECT_EQ(entries[1].length, 640);
  EXPECT_EQ(entries[1].version, 3);
  EXPECT_EQ(entries[2].remotePath, "plugins/net/readme.txt.txt");
  for (const CatalogueEntry& entry : entries) {
    EXPECT_FALSE(entry.needsDownload || entry.executable);
  }
}

TEST_F(LoadTest, DuplicatesStayInDocumentOrder) {
  FileCatalogue catalogue(App());
  ASSERT_TRUE(LoadText(catalogue, R"("paths":["d":["a":{"l":"1","v":"1"},"b":{"l":"2","v":"1"},)"
                                  R"("a":{"l":"3","v":"1"}],"e":["c":{"l":"1","v":"1"}],)"
                                  R"("d":["a":{"l":"4","v":"1"}]])"));
  std::vector<CatalogueEntry> entries = catalogue.Entries();
  std::vector<std::string> seen;
  for (const CatalogueEntry& entry : entries) {
    seen.push_back(entry.remotePath + "=" + std::to_string(entry.length));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"d/a.txt=1", "d/b.txt=2", "d/a.txt=3", "e/c.txt=1",
                                            "d/a.txt=4"}));
}

struct NumberCase {
  const char* members;  // the file object's members
  bool accepted;
  int64_t length;
  int32_t version;
  bool executable;
};

TEST_F(LoadTest, NumbersReadLikeAtoiWithSixtyFourBitLengths) {
  const NumberCase cases[] = {
      {R"("l":"-1","v":"1")", false, 0, 0, false},
      {R"("v":"1")", false, 0, 0, false},
      {R"("l":{},"v":"1")", false, 0, 0, false},
      {R"("l":"1","v":"-1")", false, 0, 0, false},
      {R"("l":"1")", false, 0, 0, false},
      {R"("l":"0","v":"0")", true, 0, 0, false},
      {R"("l":"","v":"")", true, 0, 0, false},
      {R"("l":"abc","v":"7")", true, 0, 7, false},
      {R"("l":" 12abc","v":"+3")", true, 12, 3, false},
      {R"("l":"4294967296","v":"1")", true, int64_t{1} << 32, 1, false},
      {R"("l":"8589934593","v":"1")", true, (int64_t{2} << 32) + 1, 1, false},
      {R"("l":1,"v":2,"x":"1")", true, 1, 2, true},
      {R"("l":"1","v":"1","x":"0")", true, 1, 1, false},
      {R"("l":"1","v":"1","x":"2")", true, 1, 1, false},
      {R"("l":"1","v":"1","x":"")", true, 1, 1, false},
  };
  for (const NumberCase& c : cases) {
    FileCatalogue catalogue(App());
    ASSERT_TRUE(LoadText(catalogue, std::string(R"("paths":["":["f":{)") + c.members + "}]]"));
    std::vector<CatalogueEntry> entries = catalogue.Entries();
    ASSERT_EQ(entries.size(), c.accepted ? 1u : 0u) << c.members;
    if (c.accepted) {
      EXPECT_EQ(entries[0].length, c.length) << c.members;
      EXPECT_EQ(entries[0].version, c.version) << c.members;
      EXPECT_EQ(entries[0].executable, c.executable) << c.members;
    }
  }
}

// "h" is kept in lower case when it is 64 hex digits; anything else reads as no hash at all.
TEST_F(LoadTest, ContentHashIsKeptOnlyWhenWellFormed) {
  const std::string lower(64, 'a');
  const struct {
    std::string h;
    std::string expected;
  } cases[] = {
      {"\"" + lower + "\"", lower},
      {"\"" + std::string(32, 'A') + std::string(32, '9') + "\"",
       std::string(32, 'a') + std::string(32, '9')},
      {"\"" + lower.substr(1) + "\"", ""},
      {"\"" + lower + "0\"", ""},
      {"\"" + lower.substr(1) + "g\"", ""},
      {"{}", ""},
  };
  for (const auto& c : cases) {
    FileCatalogue catalogue(App());
    ASSERT_TRUE(LoadText(catalogue, R"("paths":["":["f":{"l":"1","v":"1","h":)" + c.h + "}]]"));
    ASSERT_EQ(catalogue.Size(), 1u) << c.h;
    EXPECT_EQ(catalogue.Entries()[0].hash, c.expected) << c.h;
  }
}

// "z" and "p" are read as the publisher writes them; a malformed patch is left out alone, and
// either key malformed reads as not offered.
TEST_F(LoadTest, CompressedCopyAndPatchesAreReadWhenWellFormed) {
  const std::string a(64, 'a'), b(64, 'B');
  using Patches = std::vector<std::pair<std::string, int64_t>>;
  const struct {
    std::string members;
    int64_t compressed;
    Patches patches;
  } cases[] = {
      {R"("z":"120","p":[")" + a + R"(":"80",")" + b + R"(":"90"])",
       120,
       {{a, 80}, {std::string(64, 'b'), 90}}},
      {R"("z":"","p":[")" + a.substr(1) + R"(":"80","x":"1",")" + a + R"(":"-5",")" + b +
           R"(":"7"])",
       -1,
       {{std::string(64, 'b'), 7}}},
      {R"("z":"12x","p":{")" + a + R"(":"80"})", -1, {}},
      {R"("z":["1"],"p":[")" + a + R"(":["80"]])", -1, {}},
  };
  for (const auto& c : cases) {
    FileCatalogue catalogue(App());
    ASSERT_TRUE(LoadText(catalogue, R"("paths":["":["f":{"l":"1","v":"1",)" + c.members + "}]]"));
    ASSERT_EQ(catalogue.Size(), 1u) << c.members;
    EXPECT_EQ(catalogue.Entries()[0].compressedLength, c.compressed) << c.members;
    EXPECT_EQ(catalogue.Entries()[0].patches, c.patches) << c.members;
  }
}

TEST_F(LoadTest, UnsafeKeysAndNamesAreSkippedAndCreateNothing) {
  FileCatalogue catalogue(App());
  ASSERT_TRUE(LoadText(
      catalogue, R"("paths":["..":["f":{"l":"1","v":"1"}],"../out":["f":{"l":"1","v":"1"}],)"
                 R"("in/../../out":["f":{"l":"1","v":"1"}],"x\\..\\..":["f":{"l":"1","v":"1"}],)"
                 R"("sub/..":["f":{"l":"1","v":"1"}],"ok":["":{"l":"1","v":"1"},)"
                 R"(".":{"l":"1","v":"1"},"..":{"l":"1","v":"1"},"a/b":{"l":"1","v":"1"},)"
                 R"("..\\..\\up":{"l":"1","v":"1"},"good":{"l":"1","v":"1"}],)"
                 R"("/abs":["g":{"l":"1","v":"1"}]])"));
  std::vector<CatalogueEntry> entries = catalogue.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].localPath, App() + "/ok/good");
  EXPECT_EQ(entries[1].localPath, App() + "//abs/g");
  EXPECT_EQ(List(), (std::vector<std::string>{"app/", "app/abs/", "app/ok/", "manifest.txt"}));
}

}  // namespace
