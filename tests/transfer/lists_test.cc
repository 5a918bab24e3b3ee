#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/sorted_combo_box.h"
#include "support/temp_dir.h"
#include "transfer/download_queue.h"
#include "transfer/inet_file.h"
#include "transfer/server_list.h"
#include "transfer/transfer_error.h"

namespace {

// A task that records its destruction in a shared log.
class TrackedTask : public CInetFile {
 public:
  TrackedTask(std::vector<std::string>* log, std::string name)
      : log_(log), name_(std::move(name)) {}
  ~TrackedTask() override { log_->push_back(name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

TEST(DownloadQueue, KeepsQueueOrder) {
  std::vector<std::string> deleted;
  DownloadQueue queue;
  EXPECT_EQ(queue.Front(), nullptr);
  EXPECT_EQ(queue.Back(), nullptr);
  EXPECT_EQ(queue.PopFront(), nullptr);
  auto a = std::make_unique<TrackedTask>(&deleted, "a");
  auto b = std::make_unique<TrackedTask>(&deleted, "b");
  CInetFile* first = a.get();
  CInetFile* second = b.get();
  queue.PushBack(std::move(a));
  queue.PushBack(std::move(b));
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.Front(), first);
  EXPECT_EQ(queue.Back(), second);
  std::unique_ptr<CInetFile> popped = queue.PopFront();
  EXPECT_EQ(popped.get(), first);
  EXPECT_EQ(queue.Front(), second);
  EXPECT_TRUE(deleted.empty());  // popping hands over, it doesn't delete
}

TEST(DownloadQueue, RemoveAndDeleteDeletesOnlyWhatItHolds) {
  std::vector<std::string> deleted;
  DownloadQueue queue;
  for (const char* name : {"a", "b", "c"}) {
    queue.PushBack(std::make_unique<TrackedTask>(&deleted, name));
  }
  CInetFile* a = queue.Front();
  std::unique_ptr<CInetFile> popped = queue.PopFront();
  CInetFile* b = queue.Front();
  queue.RemoveAndDelete(b);
  EXPECT_EQ(deleted, std::vector<std::string>{"b"});
  EXPECT_EQ(queue.Size(), 1u);
  queue.RemoveAndDelete(a);  // not queued any more: the caller owns it
  queue.RemoveAndDelete(nullptr);
  EXPECT_EQ(deleted, std::vector<std::string>{"b"});
  EXPECT_EQ(queue.Size(), 1u);
  popped.reset();
  EXPECT_EQ(deleted, (std::vector<std::string>{"b", "a"}));
}

TEST(DownloadQueue, DeleteAllAndDestructionGoFirstToLast) {
  std::vector<std::string> deleted;
  {
    DownloadQueue queue;
    for (const char* name : {"a", "b", "c"}) {
      queue.PushBack(std::make_unique<TrackedTask>(&deleted, name));
    }
    queue.DeleteAll();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(deleted, (std::vector<std::string>{"a", "b", "c"}));
    queue.PushBack(std::make_unique<TrackedTask>(&deleted, "d"));
  }
  EXPECT_EQ(deleted, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(DownloadQueue, RemovingARunningTaskCancelsAndWaitsForIt) {
  LoopbackHttpServer server;
  TempDir dir;
  server.SetStalled("/slow", std::string(100000, 'x'), 5000);
  MessageQueue window;
  DownloadQueue queue;
  auto task = std::make_unique<CInetFile>();
  task->kind = KindManifest;
  task->url = server.Url("/slow");
  task->localPath = dir.File("manifest");
  task->notifyWindow = &window;
  CInetFile* running = task.get();
  queue.PushBack(std::move(task));
  ASSERT_TRUE(running->StartTransfer());
  ASSERT_TRUE(server.WaitForStalls(1, std::chrono::seconds(30)));

  queue.RemoveAndDelete(running);
  EXPECT_EQ(queue.Size(), 0u);
  // The worker is gone; its completion was posted before it ended.
  PostedMessage message;
  PostedMessage last;
  int done = 0;
  while (window.TryTake(message)) {
    EXPECT_EQ(message.lParam, running);
    if (message.message == WM_TRANSFER_DONE) {
      ++done;
    }
    last = message;
  }
  EXPECT_EQ(done, 1);
  EXPECT_EQ(last.message, WM_TRANSFER_DONE);
  EXPECT_EQ(LowWord(last.wParam), static_cast<uint32_t>(Cancelled));
  EXPECT_EQ(HighWord(last.wParam), static_cast<uint32_t>(KindManifest));
}

// A box that accepts nothing.
class FullComboBox {
 public:
  int AddString(const std::string&) { return -1; }
  void SetItemData(int, ServerEntry*) { ++calls; }
  void SetCurSel(int) { ++calls; }
  int calls = 0;
};

TEST(ServerList, AddsEntriesAndRefusesNull) {
  ServerList list;
  EXPECT_FALSE(list.Add(nullptr));
  EXPECT_TRUE(list.AddEntry("电信", "http://a.example"));
  EXPECT_TRUE(list.Add(std::make_unique<ServerEntry>("网通", "http://b.example")));
  EXPECT_EQ(list.Size(), 2u);
  list.DeleteAll();
  EXPECT_EQ(list.Size(), 0u);
}

TEST(ServerList, FillComboBoxPutsDataAndSelectionAtTheReturnedIndex) {
  ServerList list;
  ASSERT_TRUE(list.AddEntry("zeta", "http://z.example"));
  ASSERT_TRUE(list.AddEntry("alpha", "http://a.example"));
  SortedComboBox box;
  list.FillComboBox(box);
  ASSERT_EQ(box.items.size(), 2u);
  EXPECT_EQ(box.items[0].text, "alpha");
  ASSERT_NE(box.items[0].entry, nullptr);
  EXPECT_EQ(box.items[0].entry->url, "http://a.example");
  ASSERT_NE(box.items[1].entry, nullptr);
  EXPECT_EQ(box.items[1].entry->name, "zeta");
  // The last entry of the list is selected, wherever the box sorted it.
  EXPECT_EQ(box.selected, 0);

  FullComboBox full;
  list.FillComboBox(full);
  EXPECT_EQ(full.calls, 0);
}

TEST(ServerList, RemoveAndDeleteTakesOneEntry) {
  ServerList list;
  list.AddEntry("a", "http://a.example");
  list.AddEntry("b", "http://b.example");
  SortedComboBox box;
  list.FillComboBox(box);
  ServerEntry* a = box.items[0].entry;
  list.RemoveAndDelete(a);
  list.RemoveAndDelete(nullptr);
  EXPECT_EQ(list.Size(), 1u);
  SortedComboBox again;
  list.FillComboBox(again);
  ASSERT_EQ(again.items.size(), 1u);
  EXPECT_EQ(again.items[0].text, "b");
}

}  // namespace
