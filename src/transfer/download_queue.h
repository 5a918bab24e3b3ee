#pragma once

#include <cstddef>
#include <list>
#include <memory>

#include "base/lock_guard.h"

class CInetFile;

// FIFO of owned transfer tasks, queued or running. Every operation holds the queue's own lock;
// used on the window's thread.
class DownloadQueue {
 public:
  DownloadQueue() = default;
  // Deletes every task (a running one is cancelled and joined).
  virtual ~DownloadQueue();
  DownloadQueue(const DownloadQueue&) = delete;
  DownloadQueue& operator=(const DownloadQueue&) = delete;

  void PushBack(std::unique_ptr<CInetFile> task);
  CInetFile* Front();
  CInetFile* Back();
  // Removes the first task and hands it over; null when empty.
  std::unique_ptr<CInetFile> PopFront();
  size_t Size();
  // Removes the task and deletes it (which cancels and joins a running one).
  void RemoveAndDelete(CInetFile* task);
  void DeleteAll();

 private:
  CriticalSection lock_;
  std::list<std::unique_ptr<CInetFile>> tasks_;
};
