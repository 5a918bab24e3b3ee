#include "catalogue/manifest_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue_fixture.h"
#include "platform/file_system.h"

namespace {

struct KeyCase {
  std::string key;
  bool safe;
};

TEST(ManifestPaths, DirectoryKeysThatLeaveTheRootAreRefused) {
  const KeyCase cases[] = {
      {"", true},
      {"a", true},
      {"a/b", true},
      {"a//b", true},
      {"/abs", true},  // below the root all the same: root + "/" + "/abs"
      {"./a/.", true},
      {"..a/b", true},
      {"..", false},
      {"../x", false},
      {"a/..", false},
      {"a/../b", false},
      {"a/b/../../..", false},
      {"..\\x", false},
      {"a\\..\\..", false},
      {"a\\../b", false},
      {std::string("a\0/..", 5), false},
      {std::string("a\0b", 3), false},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(IsSafeDirectoryKey(c.key), c.safe) << "key \"" << c.key << "\"";
  }
}

TEST(ManifestPaths, FileNamesMustNameOneFileInTheirDirectory) {
  const KeyCase cases[] = {
      {"a.dll", true}, {".hidden", true}, {"..a", true},        {"Lodestar._exe", true},
      {"", false},     {".", false},      {"..", false},        {"a/b", false},
      {"/a", false},   {"a\\b", false},   {"..\\..\\x", false}, {std::string("a\0b", 3), false},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(IsSafeFileName(c.key), c.safe) << "name \"" << c.key << "\"";
  }
}

// Streams, device names and trailing dots or blanks: refused where the files are Windows', held
// as they are elsewhere.
TEST(ManifestPaths, NamesWindowsCannotHoldAreRefusedThere) {
  const bool refused = PlatformRefusesName("nul");
  for (const char* key :
       {"a:b", "ok/CON", "nul.txt/x", "x/dir.", "dir /x", "a\\com1.log", "...", "a..", "..a/b.."}) {
    EXPECT_EQ(IsSafeDirectoryKey(key), !refused) << "key \"" << key << "\"";
  }
  for (const char* name : {"a:b", "CON", "Aux.dll", "com1", "x.", "x ", "..."}) {
    EXPECT_EQ(IsSafeFileName(name), !refused) << "name \"" << name << "\"";
  }
}

using KeyDirectoriesTest = CatalogueTest;

TEST_F(KeyDirectoriesTest, CreatesEachPieceBelowTheRootKeepingEmptyPieces) {
  Write("app/file", "");
  for (const char* key : {"a/b", "c//d/", "/e", "", "file/x"}) {
    CreateKeyDirectories(App(), key);
  }
  EXPECT_EQ(List(), (std::vector<std::string>{"app/", "app/a/", "app/a/b/", "app/c/", "app/c/d/",
                                              "app/e/", "app/file"}));
}

}  // namespace
