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
  bool IsSet();

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
  // Does not wait for a running thread: a derived class that may be destroyed while running joins
  // first. A thread that has already finished but was never joined is joined here; one still
  // running is detached (the derived class broke the rule above; at least the process goes on).
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a thread unless one is held; true when a thread is held afterwards.
  bool Start();
  // Waits for the finished event, then takes the thread out (one atomic exchange) and joins it.
  void Join();
  uint32_t threadId() const { return threadId_.load(); }
  // True while no run is in progress (the finished event is signalled).
  bool IsFinished() { return finished_.IsSet(); }

 protected:
  // The work of the thread; must not let an exception escape.
  virtual void Run() = 0;

 private:
  static void ThreadProc(WorkerThread* self);

  std::atomic<uint32_t> threadId_{0};
  std::atomic<std::thread*> handle_{nullptr};
  ManualResetEvent finished_{true};
};
