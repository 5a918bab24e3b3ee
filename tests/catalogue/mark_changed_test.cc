#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/file_catalogue.h"
#include "catalogue_fixture.h"

namespace {

struct CompareCase {
  const char* what;
  std::vector<ManifestFile> server;
  bool hasLocal;
  std::vector<ManifestFile> local;
  std::vector<std::pair<std::string, int64_t>> disk;  // files below the application directory
  std::vector<std::string> planned;                   // remote paths that stay, in order
  size_t localLeft;
  // Only a file system that tells the case of names apart can hold this disk.
  bool caseSensitiveDisk = false;
};

void PrintTo(const CompareCase& c, std::ostream* out) {
  *out << c.what;
}

// A file of 3 bytes, version 1, whose "h" is 64 times digit.
ManifestFile Hashed(const char* path, char digit) {
  ManifestFile file(path, 3, 1);
  file.hash = std::string(64, digit);
  return file;
}

class MarkChangedTest : public CatalogueTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(MarkChangedTest, KeepsExactlyTheFilesToDownload) {
  const CompareCase& c = GetParam();
  if (c.caseSensitiveDisk && DiskIgnoresCase()) {
    GTEST_SKIP() << "this file system finds the old spelling under the new one (Windows)";
  }
  FileCatalogue server(App());
  FileCatalogue local(App());
  ASSERT_TRUE(LoadText(server, ManifestText(c.server), "server.txt"));
  if (c.hasLocal) {
    ASSERT_TRUE(LoadText(local, ManifestText(c.local), "local.txt"));
  }
  for (const auto& file : c.disk) {
    MakeFileOfSize(App() + file.first, file.second);
  }

  uint32_t count = server.MarkChanged(local);

  std::vector<std::string> planned;
  for (const CatalogueEntry& entry : server.Entries()) {
    EXPECT_TRUE(entry.needsDownload) << entry.remotePath;
    planned.push_back(entry.remotePath);
  }
  EXPECT_EQ(planned, c.planned);
  EXPECT_EQ(count, c.planned.size());
  EXPECT_EQ(local.Size(), c.localLeft);
  for (const auto& file : c.disk) {
    EXPECT_TRUE(std::filesystem::exists(App() + file.first))
        << "the comparison never deletes files";
  }
}

const CompareCase kCases[] = {
    {"NoLocalManifest",
     {{"d/a", 3, 1}, {"d/b", 4, 1}},
     false,
     {},
     {{"d/a", 3}, {"d/b", 4}},
     {"d/a.txt", "d/b.txt"},
     0},
    {"SameAndPresent", {{"d/a", 3, 1}}, true, {{"d/a", 3, 1}}, {{"d/a", 3}}, {}, 0},
    {"SameButMissingOnDisk", {{"d/a", 3, 1}}, true, {{"d/a", 3, 1}}, {}, {"d/a.txt"}, 0},
    {"SameButOtherSizeOnDisk",
     {{"d/a", 3, 1}},
     true,
     {{"d/a", 3, 1}},
     {{"d/a", 4}},
     {"d/a.txt"},
     0},
    {"SameBeyondFourGigabytes",
     {{"d/a", (int64_t{1} << 32) + 3, 1}},
     true,
     {{"d/a", (int64_t{1} << 32) + 3, 1}},
     {{"d/a", 3}},
     {"d/a.txt"},
     0},
    {"RaisedVersion", {{"d/a", 3, 2}}, true, {{"d/a", 3, 1}}, {{"d/a", 3}}, {"d/a.txt"}, 0},
    {"ChangedLengthAlreadyOnDisk",
     {{"d/a", 4, 1}},
     true,
     {{"d/a", 3, 1}},
     {{"d/a", 4}},
     {"d/a.txt"},
     0},
    {"CaseDiffersFileUnderServerSpelling",
     {{"Dir/A.bin", 3, 1}},
     true,
     {{"dir/a.bin", 3, 1}},
     {{"Dir/A.bin", 3}},
     {},
     0},
    {"CaseDiffersFileOnlyUnderOldSpelling",
     {{"Dir/A.bin", 3, 1}},
     true,
     {{"dir/a.bin", 3, 1}},
     {{"dir/a.bin", 3}},
     {"Dir/A.bin.txt"},
     0,
     true},
    {"SelfUpdateFileNotOnDisk",
     {{"/Lodestar._exe", 900, 12}},
     true,
     {{"/Lodestar._exe", 900, 12}},
     {},
     {},
     0},
    {"SelfUpdateFileAnyCaseWrongSize",
     {{"bin/lodestar._EXE", 900, 12}},
     true,
     {{"bin/LODESTAR._exe", 900, 12}},
     {{"bin/lodestar._EXE", 1}},
     {},
     0},
    {"SelfUpdateFileNewVersion",
     {{"/Lodestar._exe", 900, 13}},
     true,
     {{"/Lodestar._exe", 900, 12}},
     {},
     {"/Lodestar._exe.txt"},
     0},
    {"ServerListsTwiceLocalOnce",
     {{"d/a", 3, 1}, {"d/a", 3, 1}},
     true,
     {{"d/a", 3, 1}},
     {{"d/a", 3}},
     {"d/a.txt"},
     0},
    {"LocalListsTwiceFirstOneCounts",
     {{"d/a", 3, 2}},
     true,
     {{"d/a", 3, 1}, {"D/A", 3, 2}},
     {{"d/a", 3}},
     {"d/a.txt"},
     1},
    {"BothListTwicePairedInOrder",
     {{"d/a", 3, 1}, {"d/a", 3, 2}},
     true,
     {{"d/a", 3, 1}, {"d/a", 3, 2}},
     {{"d/a", 3}},
     {},
     0},
    {"LocalFilesNoLongerListed",
     {{"d/a", 3, 1}},
     true,
     {{"d/a", 3, 1}, {"d/old", 5, 1}},
     {{"d/a", 3}, {"d/old", 5}},
     {},
     1},
    // A release folder rebuilt from scratch restarts versions: only "h" tells its files apart.
    // clang-format off
    {"HashesEqual", {Hashed("d/a", 'a')}, true, {Hashed("d/a", 'a')}, {{"d/a", 3}}, {}, 0},
    {"HashesDiffer", {Hashed("d/a", 'a')}, true, {Hashed("d/a", 'b')}, {{"d/a", 3}}, {"d/a.txt"}, 0},
    {"HashOnlyOnTheServer", {Hashed("d/a", 'a')}, true, {{"d/a", 3, 1}}, {{"d/a", 3}}, {}, 0},
    {"HashOnlyLocal", {{"d/a", 3, 1}}, true, {Hashed("d/a", 'b')}, {{"d/a", 3}}, {}, 0},
    {"SelfUpdateFileOtherHash", {Hashed("/Lodestar._exe", 'a')}, true, {Hashed("/Lodestar._exe", 'b')},
     {}, {"/Lodestar._exe.txt"}, 0},
    // clang-format on
    {"RemainingKeepManifestOrder",
     {{"d/a", 1, 1}, {"e/b", 2, 1}, {"d/c", 3, 1}, {"/f", 4, 1}, {"d/g", 5, 1}},
     true,
     {{"d/g", 5, 1}, {"/f", 4, 1}, {"d/c", 3, 1}, {"e/b", 2, 1}, {"d/a", 1, 1}},
     {{"e/b", 2}, {"f", 4}, {"d/c", 9}},
     {"d/a.txt", "d/c.txt", "d/g.txt"},
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, MarkChangedTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CompareCase>& info) {
                           return std::string(info.param.what);
                         });

}  // namespace
