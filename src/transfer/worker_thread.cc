#include "transfer/worker_thread.h"

#include <memory>

namespace {

// Thread ids are handed out in start order; 0 means no thread was ever started.
std::atomic<uint32_t> nextThreadId{1};

}  // namespace

void ManualResetEvent::Set() {
  // Notify under the lock: a waiter that wakes may destroy the event at once.
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  changed_.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

void ManualResetEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return signalled_; });
}

bool ManualResetEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

WorkerThread::~WorkerThread() {
  std::thread* thread = handle_.exchange(nullptr);
  if (!thread) {
    return;
  }
  if (finished_.IsSet()) {
    thread->join();  // past Run already: only its return is left
  } else {
    thread->detach();
  }
  delete thread;
}

bool WorkerThread::Start() {
  if (handle_.load() != nullptr) {
    return true;
  }
  finished_.Reset();
  try {
    auto thread = std::make_unique<std::thread>(&WorkerThread::ThreadProc, this);
    threadId_.store(nextThreadId.fetch_add(1));
    handle_.store(thread.release());
  } catch (...) {
    finished_.Set();
    return false;
  }
  return true;
}

void WorkerThread::Join() {
  finished_.Wait();
  std::thread* thread = handle_.exchange(nullptr);
  if (!thread) {
    return;
  }
  thread->join();
  delete thread;
}

void WorkerThread::ThreadProc(WorkerThread* self) {
  try {
    self->Run();
  } catch (...) {
    // Run must not throw; if it does anyway, the owner must still be able to join.
  }
  self->finished_.Set();
}
