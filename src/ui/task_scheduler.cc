#include "ui/task_scheduler.h"

#include <utility>

TaskScheduler::TaskScheduler(unsigned maxRunning, uint32_t failedStartCode, Observer& observer)
    : maxRunning_(maxRunning > 0 ? maxRunning : 1),
      failedStartCode_(failedStartCode),
      observer_(observer) {}

TaskScheduler::~TaskScheduler() {
  DeleteAll();
}

void TaskScheduler::Queue(std::unique_ptr<ScheduledTask> task) {
  queue_.push_back(Slot{std::move(task)});
  if (firstWaiting_ == queue_.end()) {
    firstWaiting_ = std::prev(queue_.end());
  }
}

void TaskScheduler::StartQueued() {
  // A start that fails ends its task here, and that end asks for the next start: the loop below
  // takes it on rather than nesting one call per failed task.
  if (starting_) {
    startAgain_ = true;
    return;
  }
  starting_ = true;
  do {
    startAgain_ = false;
    while (firstWaiting_ != queue_.end() && running_.size() < maxRunning_ &&
           MayStart(*firstWaiting_->task)) {
      StartOne(firstWaiting_++);
    }
  } while (startAgain_);
  starting_ = false;
}

bool TaskScheduler::MayStart(const ScheduledTask& task) const {
  return !aloneRunning_ && (!task.RunsAlone() || running_.empty());
}

void TaskScheduler::StartOne(SlotAt slot) {
  ScheduledTask& task = *slot->task;
  slot->state = State::kRunning;
  running_.emplace(task.Key(), slot);
  aloneRunning_ = task.RunsAlone();
  if (slot == queue_.begin()) {
    observer_.HeadStarted(task, true);
  }
  if (!task.Start()) {
    // No worker will ever report on it: it ends here as a failed transfer, so the queue moves
    // on instead of stalling behind it.
    Ended(task, failedStartCode_);
  }
}

ScheduledTask* TaskScheduler::Running(const void* key) const {
  auto found = running_.find(key);
  return found != running_.end() ? found->second->task.get() : nullptr;
}

bool TaskScheduler::IsHead(const ScheduledTask& task) const {
  return !queue_.empty() && queue_.front().task.get() == &task;
}

void TaskScheduler::Ended(ScheduledTask& task, uint32_t code) {
  auto found = running_.find(task.Key());
  if (found == running_.end()) {
    return;
  }
  SlotAt slot = found->second;
  running_.erase(found);
  if (running_.empty()) {
    aloneRunning_ = false;
  }
  slot->state = State::kEnded;
  slot->code = code;
  if (slot == queue_.begin()) {
    ActOnHeads();
  } else {
    slot->task->Release();
  }
  // The next task starts now rather than on the next tick.
  StartQueued();
}

void TaskScheduler::ActOnHeads() {
  ActOnHead();
  while (!queue_.empty() && queue_.front().state == State::kEnded) {
    ShowHead();
    ActOnHead();
  }
  ShowHead();
}

void TaskScheduler::ActOnHead() {
  Slot head = std::move(queue_.front());
  queue_.pop_front();
  head.task->Arrived(head.code);
  head.task.reset();
  if (queue_.empty()) {
    observer_.Drained();
  }
}

void TaskScheduler::ShowHead() {
  if (!queue_.empty() && queue_.front().state != State::kWaiting) {
    observer_.HeadStarted(*queue_.front().task, false);
  }
}

void TaskScheduler::DeleteAll() {
  for (auto& [key, slot] : running_) {
    slot->task->Cancel();
  }
  running_.clear();
  while (!queue_.empty()) {
    queue_.pop_front();
  }
  firstWaiting_ = queue_.end();
}
