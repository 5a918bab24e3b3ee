#include "transfer/download_queue.h"

#include "transfer/inet_file.h"

DownloadQueue::~DownloadQueue() {
  DeleteAll();
}

void DownloadQueue::PushBack(std::unique_ptr<CInetFile> task) {
  LockGuard guard(&lock_);
  tasks_.push_back(std::move(task));
}

CInetFile* DownloadQueue::Front() {
  LockGuard guard(&lock_);
  return tasks_.empty() ? nullptr : tasks_.front().get();
}

CInetFile* DownloadQueue::Back() {
  LockGuard guard(&lock_);
  return tasks_.empty() ? nullptr : tasks_.back().get();
}

std::unique_ptr<CInetFile> DownloadQueue::PopFront() {
  LockGuard guard(&lock_);
  if (tasks_.empty()) {
    return nullptr;
  }
  std::unique_ptr<CInetFile> task = std::move(tasks_.front());
  tasks_.pop_front();
  return task;
}

size_t DownloadQueue::Size() {
  LockGuard guard(&lock_);
  return tasks_.size();
}

void DownloadQueue::RemoveAndDelete(CInetFile* task) {
  LockGuard guard(&lock_);
  if (!task) {
    return;
  }
  // The queue owns each task once, so there is at most one entry; a task it doesn't hold is
  // not its to delete.
  for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
    if (it->get() == task) {
      std::unique_ptr<CInetFile> owned = std::move(*it);
      tasks_.erase(it);
      owned.reset();  // cancels and joins a running task, still under the lock
      return;
    }
  }
}

void DownloadQueue::DeleteAll() {
  LockGuard guard(&lock_);
  while (!tasks_.empty()) {
    std::unique_ptr<CInetFile> task = std::move(tasks_.front());
    tasks_.pop_front();
    task.reset();
  }
}
