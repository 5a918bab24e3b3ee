#include "publish/parallel_jobs.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

void RunInParallel(const std::vector<std::function<void()>>& jobs, unsigned threads) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex failureLock;
  std::exception_ptr failure;
  auto work = [&] {
    for (size_t i = next++; i < jobs.size() && !failed; i = next++) {
      try {
        jobs[i]();
      } catch (...) {
        std::lock_guard<std::mutex> hold(failureLock);
        if (!failure) {
          failure = std::current_exception();
        }
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < threads && i < jobs.size(); ++i) {
    pool.emplace_back(work);
  }
  work();
  for (std::thread& thread : pool) {
    thread.join();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}
