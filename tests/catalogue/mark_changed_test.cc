#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/file_catalogue.h"
#include "catalogue/progress_record.h"
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
};

void PrintTo(const CompareCase& c, std::ostream* out) {
  *out << c.what;
}

class MarkChangedTest : public CatalogueTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(MarkChangedTest, KeepsExactlyTheFilesToDownload) {
  const CompareCase& c = GetParam();
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
     0},
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

// The record of files that failed runs put in place stands in for the local manifest's entries.
struct RecordCase {
  const char* what;
  std::vector<ManifestFile> server;
  std::vector<ManifestFile> local;
  std::vector<ManifestFile> record;
  std::vector<std::pair<std::string, int64_t>> disk;
  std::vector<std::string> planned;
};

void PrintTo(const RecordCase& c, std::ostream* out) {
  *out << c.what;
}

class RecordComparisonTest : public CatalogueTest,
                             public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordComparisonTest, RecordedEntriesCountAsCurrent) {
  const RecordCase& c = GetParam();
  FileCatalogue server(App());
  FileCatalogue local(App());
  ASSERT_TRUE(LoadText(server, ManifestText(c.server), "server.txt"));
  ASSERT_TRUE(LoadText(local, ManifestText(c.local), "local.txt"));
  std::filesystem::copy_file(Write("record.txt", ManifestText(c.record)),
                             App() + "version.txt.progress");
  for (const auto& file : c.disk) {
    MakeFileOfSize(App() + file.first, file.second);
  }

  ProgressRecord record(App());
  record.Begin(local);
  uint32_t count = server.MarkChanged(local);

  std::vector<std::string> planned;
  for (const CatalogueEntry& entry : server.Entries()) {
    planned.push_back(entry.remotePath);
  }
  EXPECT_EQ(planned, c.planned);
  EXPECT_EQ(count, c.planned.size());
}

const RecordCase kRecordCases[] = {
    {"RecordedNewerThanLocal", {{"d/a", 3, 2}}, {{"d/a", 5, 1}}, {{"d/a", 3, 2}}, {{"d/a", 3}}, {}},
    {"RecordedButSizeOnDiskChanged",
     {{"d/a", 3, 2}},
     {{"d/a", 5, 1}},
     {{"d/a", 3, 2}},
     {{"d/a", 4}},
     {"d/a.txt"}},
    {"RecordedHigherThanServerOverridesAgreeingLocal",
     {{"d/a", 3, 2}},
     {{"d/a", 3, 2}},
     {{"d/a", 3, 3}},
     {{"d/a", 3}},
     {"d/a.txt"}},
    {"RecordedLowerThanServer", {{"d/a", 3, 2}}, {}, {{"d/a", 3, 1}}, {{"d/a", 3}}, {"d/a.txt"}},
    {"RecordedInOtherCaseReplacesLocal",
     {{"d/a", 3, 2}},
     {{"d/a", 3, 2}},
     {{"D/A", 3, 1}},
     {{"d/a", 3}},
     {"d/a.txt"}},
    {"RecordedSelfUpdateFileNotOnDisk",
     {{"/Lodestar._exe", 900, 13}},
     {{"/Lodestar._exe", 900, 12}},
     {{"/lodestar._EXE", 900, 13}},
     {},
     {}},
    {"RecordedSelfUpdateFileOlder",
     {{"/Lodestar._exe", 900, 13}},
     {{"/Lodestar._exe", 900, 13}},
     {{"/Lodestar._exe", 900, 12}},
     {},
     {"/Lodestar._exe.txt"}},
    {"ServerListsTwiceRecordAndLocalOnce",
     {{"d/a", 3, 2}, {"d/a", 3, 2}},
     {{"d/a", 3, 2}},
     {{"d/a", 3, 2}},
     {{"d/a", 3}},
     {"d/a.txt"}},
    {"OtherPathsKeepTheLocalManifest",
     {{"d/a", 3, 2}, {"d/b", 4, 1}},
     {{"d/a", 3, 1}, {"d/b", 4, 1}},
     {{"d/a", 3, 2}},
     {{"d/a", 3}, {"d/b", 4}},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RecordComparisonTest, ::testing::ValuesIn(kRecordCases),
                         [](const ::testing::TestParamInfo<RecordCase>& info) {
                           return std::string(info.param.what);
                         });

TEST_F(CatalogueTest, SavedRecordReadsBackWithTheNewestEntryOfEachPath) {
  std::filesystem::copy_file(
      Write("record.txt", ManifestText({{"d/a", 3, 1}, {"/b", 2, 7}, {"d/c", 1, 1}})),
      App() + "version.txt.progress");
  FileCatalogue installed(App());
  ASSERT_TRUE(LoadText(installed, ManifestText({{"D/A", 5, 2}, {"e/b", 4, 1}}), "server.txt"));
  // A name the writer must escape, in the server's code page.
  CatalogueEntry odd;
  odd.name = "q\"uote \xB2\xE2";
  odd.version = 9;
  odd.remotePath = "e/" + odd.name + ".txt";
  FileCatalogue local(App());

  ProgressRecord record(App());
  record.Begin(local);
  EXPECT_FALSE(record.HasNews());
  for (const CatalogueEntry& entry : installed.Entries()) {
    record.Installed(entry);
  }
  record.Installed(odd);
  ASSERT_TRUE(record.Save());
  FileCatalogue saved(App());
  ASSERT_TRUE(saved.Load(App() + "version.txt.progress"));
  std::vector<std::pair<std::string, int>> entries;
  for (const CatalogueEntry& entry : saved.Entries()) {
    entries.emplace_back(entry.remotePath, entry.version);
    EXPECT_EQ(entry.localPath, App() + "/" + DirectoryKeyOf(entry) + "/" + entry.name);
  }
  EXPECT_EQ(
      entries,
      (std::vector<std::pair<std::string, int>>{
          {"D/A.txt", 2}, {"/b.txt", 7}, {"d/c.txt", 1}, {"e/b.txt", 1}, {odd.remotePath, 9}}));

  EXPECT_TRUE(record.Drop());
  EXPECT_FALSE(record.Present());
  EXPECT_TRUE(record.Drop());
}

}  // namespace
