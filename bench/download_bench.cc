// Throughput of one download through CInetFile, with the window's side of the messages drained
// on this thread as the real window does. The server is external (scripts/measure-download starts
// one): LODESTAR_BENCH_URL names the file, LODESTAR_BENCH_OUT the local path (default /tmp).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"
#include "transfer/transfer_library.h"

namespace {

void BM_DownloadOneFile(benchmark::State& state) {
  const char* url = std::getenv("LODESTAR_BENCH_URL");
  if (!url || !*url) {
    state.SkipWithError("set LODESTAR_BENCH_URL to a file on a local HTTP server");
    return;
  }
  const char* out = std::getenv("LODESTAR_BENCH_OUT");
  if (!InitializeTransfers()) {
    state.SkipWithError("the HTTP layer did not start");
    return;
  }
  uint64_t bytes = 0;
  uint64_t progressMessages = 0;
  const std::string localPath = out && *out ? out : "/tmp/lodestar-bench-download";
  for (auto _ : state) {
    // A fresh file each time, as `curl -o` into a new name gets.
    state.PauseTiming();
    std::remove(localPath.c_str());
    state.ResumeTiming();
    MessageQueue window;
    CInetFile task;
    task.kind = KindServerList;
    task.url = url;
    task.localPath = localPath;
    task.notifyWindow = state.range(0) ? &window : nullptr;
    if (!task.StartTransfer()) {
      state.SkipWithError("no worker thread");
      break;
    }
    PostedMessage message;
    int code = -1;
    if (!task.notifyWindow) {
      task.Join();
      code = task.bytesReceived > 0 ? TransferOk : ServerRefused;
    }
    while (code < 0 && window.Wait(message, std::chrono::seconds(600))) {
      if (message.message == WM_TRANSFER_DONE) {
        code = static_cast<int>(LowWord(message.wParam));
      } else {
        ++progressMessages;
      }
    }
    task.Join();
    if (code != TransferOk) {
      state.SkipWithError(("download failed with code " + std::to_string(code)).c_str());
      break;
    }
    bytes += task.bytesReceived;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["progress_messages"] = static_cast<double>(progressMessages);
  ShutdownTransfers();
}

// Argument 1: a window drains the messages; 0: no window (the transfer alone).
BENCHMARK(BM_DownloadOneFile)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
