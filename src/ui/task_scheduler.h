#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

// One transfer as the scheduler runs it: started once, ended once (by its worker's last message,
// or at once when it cannot start), and acted on in its turn. Window's thread.
class ScheduledTask {
 public:
  // Deleting a running task cancels its transfer and waits for it.
  virtual ~ScheduledTask() = default;

  // What its worker's messages name it by.
  virtual const void* Key() const = 0;
  // True for a task that runs with nothing beside it: the server list, the manifest, its
  // signature.
  virtual bool RunsAlone() const = 0;
  // True when a worker runs it now.
  virtual bool Start() = 0;
  // Asks a running transfer to stop, without waiting for it.
  virtual void Cancel() = 0;
  // Its worker has posted its end: the thread is let go now rather than when its turn comes.
  virtual void Release() = 0;
  // Its turn has come: the run's step for this task, given the transfer's result code.
  virtual void Arrived(uint32_t code) = 0;
};

// Which queued task runs when: starts tasks from the front, in queue order, while fewer than
// maxRunning run (one that runs alone only when nothing runs, and nothing beside it), and acts on
// their ends in queue order however they arrive: an end behind a running head waits its turn. Owns
// every task from Queue until its step is done. No toolkit, HTTP or disk; window's thread.
class TaskScheduler {
 public:
  // What the run shows of the queue's head. Window's thread.
  class Observer {
   public:
    virtual ~Observer() = default;
    // head has just been started at the head (justStarted), or, started earlier, has become the
    // head.
    virtual void HeadStarted(ScheduledTask& head, bool justStarted) = 0;
    // Every task queued has been acted on.
    virtual void Drained() = 0;
  };

  // failedStartCode: the result code with which a task that cannot start ends at once.
  TaskScheduler(unsigned maxRunning, uint32_t failedStartCode, Observer& observer);
  ~TaskScheduler();
  TaskScheduler(const TaskScheduler&) = delete;
  TaskScheduler& operator=(const TaskScheduler&) = delete;

  void Queue(std::unique_ptr<ScheduledTask> task);
  // The timer's step, also taken whenever an end frees a place.
  void StartQueued();
  // The running task that key names; null for any other (a task that ended, or a stranger).
  ScheduledTask* Running(const void* key) const;
  bool IsHead(const ScheduledTask& task) const;
  // A running task's worker has ended with code.
  void Ended(ScheduledTask& task, uint32_t code);
  // True when nothing is queued, running or waiting to be acted on.
  bool Empty() const { return queue_.empty(); }
  // Deletes every task unacted on: the running ones are all told to stop first, so that they
  // wind down together, then each is waited for in queue order.
  void DeleteAll();

 private:
  enum class State { kWaiting, kRunning, kEnded };
  struct Slot {
    std::unique_ptr<ScheduledTask> task;
    State state = State::kWaiting;
    uint32_t code = 0;  // kEnded: the result to act on
  };
  using SlotAt = std::list<Slot>::iterator;

  bool MayStart(const ScheduledTask& task) const;
  void StartOne(SlotAt slot);
  // Acts on the head's end, then on every end that waited behind it.
  void ActOnHeads();
  void ActOnHead();
  void ShowHead();

  const unsigned maxRunning_;
  const uint32_t failedStartCode_;
  Observer& observer_;
  // Every task not yet acted on, in queue order; the started ones are always its front.
  std::list<Slot> queue_;
  SlotAt firstWaiting_ = queue_.end();
  std::unordered_map<const void*, SlotAt> running_;
  bool aloneRunning_ = false;  // the task running runs alone
  bool starting_ = false;      // StartQueued is running
  bool startAgain_ = false;    // a task ended meanwhile: look at the queue again
};
