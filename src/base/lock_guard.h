#pragma once

#include <mutex>

// The re-entrant lock that every shared object carries for its whole operations.
using CriticalSection = std::recursive_mutex;

// Holds a critical section for the life of a scope; used on whichever thread takes it.
class LockGuard {
 public:
  explicit LockGuard(CriticalSection* section) : section_(section) { section_->lock(); }
  ~LockGuard() { section_->unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  CriticalSection* section_;
};
