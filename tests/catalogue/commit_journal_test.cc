#include <gtest/gtest.h>

#include <string>

#include "catalogue/commit_journal.h"
#include "catalogue_fixture.h"

namespace {

// The next start completes a commit from its journal alone: the renames (with their execute bits)
// and the texts to save come back exactly, whatever bytes the texts hold; a planted journal
// renames nothing outside the application, and text that is no journal is refused.
TEST_F(CatalogueTest, CommitJournalsReadBackAsWrittenAndNothingElse) {
  FileCatalogue plan(App());
  ManifestFile script("/start.sh", 298, 2, true);
  script.hash = std::string(64, 'a');
  ASSERT_TRUE(LoadText(plan, ManifestText({script, {"d/deep/core.bin", 3000, 5}, {"/b", 0, 1}})));
  const CommitJournal written{plan.Entries(),
                              std::string("\"paths\":[]\r\n\" \\\" \\\\ \0 end", 25),
                              "untrusted comment: x\n\\\"sig\"\n"};
  CommitJournal read;
  ASSERT_TRUE(ReadCommitJournal(App(), CommitJournalText(written), read));
  EXPECT_EQ(read.manifestText, written.manifestText);
  EXPECT_EQ(CommitJournalText(read), CommitJournalText(written));
  ASSERT_EQ(read.files.size(), 3u);
  EXPECT_TRUE(read.files[0].executable);
  EXPECT_EQ(read.files[2].localPath, App() + "/d/deep/core.bin");

  ASSERT_TRUE(
      ReadCommitJournal(App(),
                        "\"paths\":[\"..\":[\"out\":{\"l\":\"1\",\"v\":\"1\"}],\"d\":[\"in\":"
                        "{\"l\":\"1\",\"v\":\"1\"}]],\"manifest\":\"m\"",
                        read));
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.files[0].localPath, App() + "/d/in");
  for (const char* text : {"", "\"paths\":[]", "\"manifest\":\"m\"", "\"paths\":[\"manifest\":"}) {
    EXPECT_FALSE(ReadCommitJournal(App(), text, read)) << text;
  }
}

}  // namespace
