#include <benchmark/benchmark.h>

#include <string>

#include "json/json_value.h"
#include "manifest_generator.h"

namespace {

const std::string& Manifest() {
  static const std::string text = GenerateManifest(1000, 100);
  return text;
}

// Reading a manifest of 100,000 files in 1,000 directories into a fresh document.
void BM_JsonReaderManifest(benchmark::State& state) {
  const std::string& text = Manifest();
  for (auto _ : state) {
    JsonObject document;
    if (!document.parse(text, false)) {
      state.SkipWithError("manifest did not parse");
      break;
    }
    state.PauseTiming();
    document.clear();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_JsonReaderManifest)->Unit(benchmark::kMillisecond);

// The same, with the previous document's destruction counted as a reader reused in place would.
void BM_JsonReaderManifestReplacing(benchmark::State& state) {
  const std::string& text = Manifest();
  JsonObject document;
  for (auto _ : state) {
    if (!document.parse(text, false)) {
      state.SkipWithError("manifest did not parse");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_JsonReaderManifestReplacing)->Unit(benchmark::kMillisecond);

// Writing the same document back as text.
void BM_JsonWriteManifest(benchmark::State& state) {
  JsonObject document;
  document.parse(Manifest(), false);
  std::string out;
  for (auto _ : state) {
    out.clear();
    document.write(out, false, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_JsonWriteManifest)->Unit(benchmark::kMillisecond);

}  // namespace
