#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

using Entry = int (*)(const uint8_t*, size_t);

struct Target {
  const char* name;  // the folder name below fuzz/corpus and fuzz/regressions
  Entry entry;
};

std::ostream& operator<<(std::ostream& out, const Target& target) {
  return out << target.name;
}

// The kept inputs of one target, in a stable order; dot files (placeholders) are not inputs.
std::vector<std::filesystem::path> Inputs(const std::string& folder) {
  std::vector<std::filesystem::path> inputs;
  if (!std::filesystem::is_directory(folder)) {
    return inputs;
  }
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.is_regular_file() && item.path().filename().string()[0] != '.') {
      inputs.push_back(item.path());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {
 protected:
  // Runs every input of the folder; an input that breaks an invariant aborts the process, after
  // its name has been printed.
  size_t Replay(const std::string& kind) {
    const std::string folder = std::string(LODESTAR_FUZZ_DIR) + "/" + kind + "/" + GetParam().name;
    size_t count = 0;
    for (const auto& path : Inputs(folder)) {
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replaying %s\n", path.c_str());
      GetParam().entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
    return count;
  }
};

TEST_P(FuzzReplay, SeedCorpusRunsClean) {
  EXPECT_GT(Replay("corpus"), 0u);
}

TEST_P(FuzzReplay, PastFindingsStayFixed) {
  if (Replay("regressions") == 0u) {
    GTEST_SKIP() << "no past findings kept for " << GetParam().name << " (only placeholders)";
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(Target{"json_parse", FuzzJsonParse},
                                           Target{"manifest_load", FuzzManifestLoad},
                                           Target{"server_list", FuzzServerList},
                                           Target{"configuration", FuzzConfiguration}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
