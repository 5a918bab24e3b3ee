#include "ui/task_scheduler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

// Records what the scheduler does with each task and what it shows of the queue, in one log.
// Test thread.
class Recorder : public TaskScheduler::Observer {
 public:
  void HeadStarted(ScheduledTask& head, bool justStarted) override;
  void Drained() override { log.push_back("drained"); }
  std::vector<std::string> log;
};

// A task named by a letter; a capital letter runs alone, "!" in front fails to start.
class FakeTask : public ScheduledTask {
 public:
  FakeTask(std::string name, Recorder& recorder) : name_(std::move(name)), recorder_(recorder) {}
  ~FakeTask() override { recorder_.log.push_back("delete " + name_); }
  const std::string& name() const { return name_; }
  const void* Key() const override { return this; }
  bool RunsAlone() const override { return std::isupper(static_cast<unsigned char>(name_.back())); }
  bool Start() override {
    recorder_.log.push_back("start " + name_);
    return name_[0] != '!';
  }
  void Cancel() override { recorder_.log.push_back("cancel " + name_); }
  void Release() override { recorder_.log.push_back("release " + name_); }
  void Arrived(uint32_t code) override {
    recorder_.log.push_back("act " + name_ + " " + std::to_string(code));
  }

 private:
  std::string name_;
  Recorder& recorder_;
};

void Recorder::HeadStarted(ScheduledTask& head, bool justStarted) {
  log.push_back((justStarted ? "head started " : "head ") + static_cast<FakeTask&>(head).name());
}

class Scheduling : public ::testing::Test {
 protected:
  // Queues tasks by name and starts what may start; the log keeps only what happens after.
  void Queue(unsigned maxRunning, const std::vector<std::string>& names) {
    scheduler_ = std::make_unique<TaskScheduler>(maxRunning, 2, recorder_);
    for (const std::string& name : names) {
      auto task = std::make_unique<FakeTask>(name, recorder_);
      tasks_.push_back(task.get());
      scheduler_->Queue(std::move(task));
    }
    scheduler_->StartQueued();
  }
  // Ends the running task at index of the queue as its worker would.
  void End(size_t index, uint32_t code = 0) {
    ScheduledTask* task = scheduler_->Running(tasks_[index]);
    ASSERT_NE(task, nullptr) << index;
    scheduler_->Ended(*task, code);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(recorder_.log);
    return taken;
  }

  Recorder recorder_;
  std::vector<FakeTask*> tasks_;
  std::unique_ptr<TaskScheduler> scheduler_;
};

TEST_F(Scheduling, StartsFromTheFrontWhileFewerThanTheLimitRun) {
  Queue(2, {"a", "b", "c"});
  EXPECT_THAT(Take(), ElementsAre("head started a", "start a", "start b"));
  EXPECT_EQ(scheduler_->Running(tasks_[2]), nullptr);
  End(0);
  EXPECT_THAT(Take(), ElementsAre("act a 0", "delete a", "head b", "start c"));
}

// The list, the manifest and its signature run with nothing beside them.
TEST_F(Scheduling, TasksThatRunAloneRunWithNothingBesideThem) {
  Queue(5, {"a", "M", "b"});
  EXPECT_THAT(Take(), ElementsAre("head started a", "start a"));
  End(0);
  EXPECT_THAT(Take(), ElementsAre("act a 0", "delete a", "head started M", "start M"));
  End(1);
  EXPECT_THAT(Take(), ElementsAre("act M 0", "delete M", "head started b", "start b"));
}

// Ends behind a running head are released at once and acted on in queue order.
TEST_F(Scheduling, EndsOutOfOrderAreActedOnInQueueOrder) {
  Queue(3, {"a", "b", "c"});
  Take();
  End(2, 6);
  End(1);
  EXPECT_THAT(Take(), ElementsAre("release c", "release b"));
  End(0);
  EXPECT_THAT(Take(), ElementsAre("act a 0", "delete a", "head b", "act b 0", "delete b", "head c",
                                  "act c 6", "delete c", "drained"));
  EXPECT_TRUE(scheduler_->Empty());
}

// A task no worker runs ends at its turn with the failed code, and the queue moves on.
TEST_F(Scheduling, ATaskThatCannotStartFailsInItsTurn) {
  Queue(1, {"a", "!b", "c"});
  Take();
  End(0);
  EXPECT_THAT(Take(), ElementsAre("act a 0", "delete a", "head started !b", "start !b", "act !b 2",
                                  "delete !b", "head started c", "start c"));
}

TEST_F(Scheduling, DeletingStopsEveryRunningTaskBeforeWaitingForAny) {
  Queue(2, {"a", "b", "c"});
  Take();
  scheduler_->DeleteAll();
  const auto cancel = ::testing::AnyOf("cancel a", "cancel b");
  EXPECT_THAT(Take(), ElementsAre(cancel, cancel, "delete a", "delete b", "delete c"));
  EXPECT_TRUE(scheduler_->Empty());
}

}  // namespace
