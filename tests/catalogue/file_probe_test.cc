#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "catalogue/file_catalogue.h"
#include "catalogue_fixture.h"
#include "platform/file_system.h"

namespace {

using FileProbeTest = CatalogueTest;

TEST_F(FileProbeTest, ReportsTheSizeOfRegularFilesBeyondFourGigabytes) {
  const int64_t sizes[] = {0, 5, 4096, (int64_t{5} << 30) + 3};
  for (int64_t expected : sizes) {
    std::string path = App() + "f";
    MakeFileOfSize(path, expected);
    int64_t size = -7;
    EXPECT_TRUE(ProbeFileSize(path, size));
    EXPECT_EQ(size, expected);
  }
}

TEST_F(FileProbeTest, FailsWithoutARegularFileAndLeavesTheSizeAlone) {
  std::string fifo = App() + "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string file = Write("file", "abc");
  const std::string paths[] = {App() + "missing", App(), fifo, file + '\0' + "x"};
  for (const std::string& path : paths) {
    int64_t size = -7;
    EXPECT_FALSE(ProbeFileSize(path, size)) << path;
    EXPECT_EQ(size, -7);
  }
}

TEST_F(FileProbeTest, FailsForAFileThatCannotBeRead) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "every file can be read by root";
  }
  std::string file = Write("locked", "abc");
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  int64_t size = -7;
  EXPECT_FALSE(ProbeFileSize(file, size));
  EXPECT_EQ(size, -7);
}

}  // namespace
