#include "transfer/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// Runs until released; counts its runs.
class GatedWorker : public WorkerThread {
 public:
  ~GatedWorker() override {
    Release();
    Join();
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    gate_.notify_all();
  }
  std::atomic<int> runs{0};

 protected:
  void Run() override {
    ++runs;
    std::unique_lock<std::mutex> lock(mutex_);
    gate_.wait(lock, [this] { return released_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable gate_;
  bool released_ = false;
};

class CountingWorker : public WorkerThread {
 public:
  ~CountingWorker() override { Join(); }
  std::atomic<int> runs{0};

 protected:
  void Run() override { ++runs; }
};

class ThrowingWorker : public WorkerThread {
 public:
  ~ThrowingWorker() override { Join(); }

 protected:
  void Run() override { throw std::runtime_error("escaped"); }
};

TEST(WorkerThread, JoinOnAFreshObjectReturnsAtOnce) {
  CountingWorker worker;
  worker.Join();
  worker.Join();
  EXPECT_EQ(worker.runs, 0);
  EXPECT_EQ(worker.threadId(), 0u);
}

TEST(WorkerThread, StartTwiceWithoutJoinRunsOnce) {
  GatedWorker worker;
  ASSERT_TRUE(worker.Start());
  uint32_t id = worker.threadId();
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(worker.Start());
  EXPECT_EQ(worker.threadId(), id);
  worker.Release();
  worker.Join();
  EXPECT_EQ(worker.runs, 1);
}

TEST(WorkerThread, JoinWaitsForRunAndAllowsAnotherStart) {
  CountingWorker worker;
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(worker.Start());
    worker.Join();
    EXPECT_EQ(worker.runs, i);
  }
}

TEST(WorkerThread, ExceptionFromRunStillLetsJoinReturn) {
  ThrowingWorker worker;
  ASSERT_TRUE(worker.Start());
  worker.Join();
}

TEST(WorkerThread, ConcurrentJoinsBothReturn) {
  GatedWorker worker;
  ASSERT_TRUE(worker.Start());
  std::thread first([&] { worker.Join(); });
  std::thread second([&] { worker.Join(); });
  worker.Release();
  first.join();
  second.join();
  EXPECT_EQ(worker.runs, 1);
}

// A finished thread that nobody joined must not bring the process down when its object goes.
class UnjoinedWorker : public WorkerThread {
 protected:
  void Run() override {}
};

TEST(WorkerThread, DestroyingAFinishedUnjoinedWorkerIsSafe) {
  auto worker = std::make_unique<UnjoinedWorker>();
  ASSERT_TRUE(worker->Start());
  while (!worker->IsFinished()) {
    std::this_thread::yield();
  }
  worker.reset();
}

TEST(ManualResetEvent, StaysSignalledUntilReset) {
  ManualResetEvent event(false);
  EXPECT_FALSE(event.IsSet());
  std::thread waiter([&] { event.Wait(); });
  event.Set();
  waiter.join();
  event.Wait();  // still signalled
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
}

}  // namespace
