#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/commit_journal.h"
#include "catalogue_fixture.h"

namespace {

// A journal's text gives back the renames and the texts to save exactly, whatever bytes the
// texts hold: the next start completes a commit from it alone.
TEST_F(CatalogueTest, CommitJournalsReadBackAsWritten) {
  FileCatalogue plan(App());
  ManifestFile executable("/start.sh", 298, 2, true);
  executable.hash = std::string(64, 'a');
  ASSERT_TRUE(LoadText(plan, ManifestText({executable,
                                           {"d/deep/core.bin", 3000, 5},
                                           {"d/deep/more.bin", 0, 1},
                                           {"/readme.txt", 8, 1}})));
  for (const std::string& manifest :
       {std::string("\"paths\":[\"\":[\"a\":{\"l\":\"1\",\"v\":\"1\"}]]\n"),
        std::string("quotes \" and \\ backslashes\r\n\0 and a NUL", 39), std::string()}) {
    const CommitJournal written{plan.Entries(), manifest, "untrusted comment: x\n\\\"sig\"\n"};
    CommitJournal read;
    ASSERT_TRUE(ReadCommitJournal(App(), CommitJournalText(written), read));
    EXPECT_EQ(read.manifestText, manifest);
    EXPECT_EQ(read.signatureText, written.signatureText);
    ASSERT_EQ(read.files.size(), written.files.size());
    for (size_t i = 0; i < read.files.size(); ++i) {
      const CatalogueEntry& a = read.files[i];
      const CatalogueEntry& b = written.files[i];
      EXPECT_EQ(a.localPath, b.localPath);
      EXPECT_EQ(a.remotePath, b.remotePath);
      EXPECT_EQ(a.name, b.name);
      EXPECT_EQ(a.length, b.length);
      EXPECT_EQ(a.version, b.version);
      EXPECT_EQ(a.executable, b.executable) << a.name;
      EXPECT_EQ(a.hash, b.hash);
    }
  }
}

// A journal someone else planted renames nothing outside the application, and text that is no
// journal is refused rather than taken as one without files.
TEST_F(CatalogueTest, CommitJournalsAreReadAsManifestsAre) {
  CommitJournal read;
  ASSERT_TRUE(ReadCommitJournal(App(),
                                "\"paths\":[\"..\":[\"out\":{\"l\":\"1\",\"v\":\"1\"}],\"d\":[\".."
                                "\":{\"l\":\"1\",\"v\":\"1\"},"
                                "\"in\":{\"l\":\"1\",\"v\":\"1\"}]],\"manifest\":\"m\"",
                                read));
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.files[0].localPath, App() + "/d/in");
  EXPECT_EQ(read.signatureText, "");
  for (const char* text : {"", "\"paths\":[]", "\"manifest\":\"m\"", "\"paths\":[\"manifest\":"}) {
    EXPECT_FALSE(ReadCommitJournal(App(), text, read)) << text;
  }
}

}  // namespace
