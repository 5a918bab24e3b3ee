#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "catalogue/file_catalogue.h"
#include "catalogue_fixture.h"

namespace {

using PlanTest = CatalogueTest;

TEST_F(PlanTest, TotalLengthAddsMarkedEntriesBeyondFourGigabytes) {
  FileCatalogue server(App());
  FileCatalogue local(App());
  const int64_t big = int64_t{3} << 30;
  ASSERT_TRUE(LoadText(server, ManifestText({{"d/a", big, 1}, {"d/b", big, 1}, {"d/c", 7, 1}})));
  EXPECT_EQ(server.TotalLength(), 0u) << "nothing is marked before the comparison";
  ASSERT_TRUE(LoadText(local, ManifestText({{"d/c", 7, 1}}), "local.txt"));
  MakeFileOfSize(App() + "d/c", 7);
  EXPECT_EQ(server.MarkChanged(local), 2u);
  EXPECT_EQ(server.TotalLength(), 2 * static_cast<uint64_t>(big));
}

TEST_F(PlanTest, TakeNextHandsOutEntriesInManifestOrder) {
  auto server = std::make_unique<FileCatalogue>(App());
  FileCatalogue local(App());
  ASSERT_TRUE(LoadText(*server, ManifestText({{"z/b", 1, 1}, {"z/a", 3, 1}, {"a/c", 2, 1}})));
  EXPECT_EQ(server->MarkChanged(local), 3u);

  std::unique_ptr<CatalogueEntry> first = server->TakeNext();
  std::unique_ptr<CatalogueEntry> second = server->TakeNext();
  std::unique_ptr<CatalogueEntry> third = server->TakeNext();
  EXPECT_EQ(server->TakeNext(), nullptr);
  EXPECT_EQ(server->Size(), 0u);
  EXPECT_EQ(server->TotalLength(), 0u);
  server.reset();  // the entries handed out belong to the caller now
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(first->remotePath + second->remotePath + third->remotePath, "z/b.txtz/a.txta/c.txt");
  EXPECT_TRUE(third->needsDownload);
}

TEST_F(PlanTest, EmptyPlanAndClear) {
  FileCatalogue catalogue(App());
  EXPECT_EQ(catalogue.TakeNext(), nullptr);
  ASSERT_TRUE(LoadText(catalogue, ManifestText({{"d/a", 1, 1}})));
  catalogue.Clear();
  EXPECT_EQ(catalogue.Size(), 0u);
  EXPECT_EQ(catalogue.TakeNext(), nullptr);
}

TEST_F(PlanTest, ComparingACatalogueWithItselfMarksEverything) {
  FileCatalogue catalogue(App());
  ASSERT_TRUE(LoadText(catalogue, ManifestText({{"d/a", 1, 1}, {"d/a", 1, 1}})));
  MakeFileOfSize(App() + "d/a", 1);
  EXPECT_EQ(catalogue.MarkChanged(catalogue), 2u);
  EXPECT_EQ(catalogue.Size(), 2u);
}

}  // namespace
