#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// A manual-reset event: stays signalled until reset. Any thread.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled) : signalled_(signalled) {}
  void Set();
  void Reset();
  void Wait();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
};

// Runs one operation (Run) on a thread of its own and lets the owner wait for its end.
// Start and Join are called on the owner's thread; Run on the worker.
class WorkerThread {
 public:
  WorkerThread() = default;
  // Does not join: a derived class that may be destroyed while running joins first.
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a thread unless one is held; true when a thread is held afterwards.
  bool Start();
  // Waits for the finished event, then takes the thread out (one atomic exchange) and joins it.
  void Join();
  uint32_t threadId() const { return threadId_.load(); }

 protected:
  // The work of the thread; must not let an exception escape.
  virtual void Run() = 0;

 private:
  static void ThreadProc(WorkerThread* self);

  std::atomic<uint32_t> threadId_{0};
  std::atomic<std::thread*> handle_{nullptr};
  ManualResetEvent finished_{true};
};
