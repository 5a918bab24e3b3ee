#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>

#include "catalogue/file_catalogue.h"
#include "temp_tree.h"

namespace {

TEST(FileProbe, ReportsTheSizeOfRegularFilesBeyondFourGigabytes) {
  TempTree tree;
  const int64_t sizes[] = {0, 5, 4096, (int64_t{5} << 30) + 3};
  for (int64_t expected : sizes) {
    std::string path = tree.path() + "/f";
    MakeFileOfSize(path, expected);
    int64_t size = -7;
    EXPECT_TRUE(ProbeFileSize(path, size));
    EXPECT_EQ(size, expected);
  }
}

TEST(FileProbe, FailsWithoutARegularFileAndLeavesTheSizeAlone) {
  TempTree tree;
  std::string fifo = tree.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string file = tree.Write("file", "abc");
  const std::string paths[] = {tree.path() + "/missing", tree.path(), fifo, file + '\0' + "x"};
  for (const std::string& path : paths) {
    int64_t size = -7;
    EXPECT_FALSE(ProbeFileSize(path, size)) << path;
    EXPECT_EQ(size, -7);
  }
}

}  // namespace
