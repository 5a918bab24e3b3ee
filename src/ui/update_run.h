#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"
#include "catalogue/file_catalogue.h"
#include "transfer/server_list.h"
#include "ui/server_rotation.h"
#include "ui/task_scheduler.h"
#include "ui/update_settings.h"
#include "ui/update_view.h"

class CInetFile;
class DiskInterface;
class FileJob;
class InstallationStore;
struct CommitFailure;
class Launcher;
class MessageTarget;
class TransferStarter;

// A manifest as the run loads it: a check keeps the folders it names off the disk. Window's
// thread.
class RunCatalogue : public FileCatalogue {
 public:
  RunCatalogue(std::string moduleDirectory, bool keepOffDisk);

 protected:
  void CreateDirectories(const std::string& key) override;

 private:
  bool keepOffDisk_;
};

// An update run's steps in the order they happen: the server list, the user's (or the automatic)
// choice, the manifest, its signature, the plan, one job per file, the run's end, which puts every
// file in place at once or none (a commit that could not be completed is completed before another
// run starts). Each transfer
// it starts carries the step that takes its end; the scheduler decides when that is. It tells the
// view what happened and keeps what lives beside the application in the store. A check
// (settings.checkOnly) takes every server of the list in turn up to its plan and ends. Window's
// thread.
class UpdateRun : public TaskScheduler::Observer {
 public:
  // Servers taken from one server list at most.
  static constexpr size_t kMaxServers = 1000;
  static constexpr unsigned kTimerPeriodMs = 100;

  // What the run reaches the world through; everything must outlive the run.
  struct Seams {
    UpdateView& view;
    MessageTarget& notifyWindow;  // where the workers post
    Launcher& launcher;
    TransferStarter& starter;
    DiskInterface& disk;
  };

  UpdateRun(const UpdateSettings& settings, Seams seams, InstallationStore& store,
            TaskScheduler& scheduler);
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // The window opens; false when the program is to end at once (the configuration stops it, or
  // gives no serverlist).
  bool Open();
  void Choose(size_t index);
  // "立即更新": the run starts again from the chosen server's manifest.
  void UpdateNow();
  // copies chunks of transfer's body arrived (wParam as WM_TRANSFER_PROGRESS carries it);
  // behindHead: transfer runs behind the queue's head, whose file the file bar shows.
  void ChunksArrived(const CInetFile& transfer, uint32_t wParam, size_t copies, bool behindHead);

  // The run reached its end: the window closes (a check: every server was tried, and the last
  // would work).
  bool Finished() const { return finished_; }
  // The process's exit status: 0 after a finished run whose program started, 1 otherwise.
  int ExitStatus() const { return finished_ && !launchFailed_ ? 0 : 1; }
  bool ChoiceEnabled() const { return choiceEnabled_; }
  bool Halted() const { return halted_; }

  void SetClock(std::function<std::tm()> clock) { clock_ = std::move(clock); }
  void SetSecondsClock(std::function<int64_t()> clock) { secondsClock_ = std::move(clock); }

  // TaskScheduler::Observer
  void HeadStarted(ScheduledTask& head, bool justStarted) override;
  void Drained() override;

 private:
  using TextStep = void (UpdateRun::*)(const CInetFile& text, uint32_t code);

  void FetchServerList();
  void ServerListArrived(const CInetFile& list, uint32_t code);
  void ListServers();
  // Shows the listed servers with selected_ chosen.
  void ShowServers();
  // The server the run was fetching from failed it: with failover, the run goes on from the
  // next server; otherwise (or once every server has failed) it waits for the user.
  void ServerFailed();
  void StartManifestFetch();
  void ManifestArrived(const CInetFile& manifest, uint32_t code);
  // With a pubkey the manifest is used only once its signature, fetched from beside it, holds.
  void FetchSignature(const CInetFile& manifest);
  void SignatureArrived(const CInetFile& signature, uint32_t code);
  // The log line's format (taking the server's name) for a validly signed manifest that must not
  // be used all the same; null when it may be used.
  const char* SignatureRefusal(int64_t timestamp, int64_t floor) const;
  // Compares manifestText_ with the local manifest (consumed) and queues a job per file that
  // differs.
  void Plan(const std::string& serverName, FileCatalogue& local);
  // One job per file of the plan, in the plan's order.
  void QueueFiles(const std::string& serverName);
  void FileArrived(FileJob& job, uint32_t code);
  // The last file has been acted on: all of them go in place, or none.
  void FilesDone();
  // Tells the files a commit could not put in place, or that it could not save, when none.
  void ReportCommitFailures(const std::vector<CommitFailure>& failures);
  void FinishRun();
  // A server's manifest was taken as far as its plan (works) or failed before: a check moves on
  // to the next server, or ends after the last; a run goes on as ServerFailed says.
  void ServerChecked(bool works);

  // Queues the fetch of a text into a temporary file of its own; step takes its end.
  void QueueText(int kind, const std::string& url, const std::string& serverName, uint64_t maxBytes,
                 TextStep step);
  void Queue(std::unique_ptr<ScheduledTask> job);
  const ServerEntry* SelectedServer() const;
  // A line for the log, stamped with the local time (a check's are not).
  void Log(const std::string& text, uint32_t code);
  void Status(const std::string& text);
  void EnableChoice(bool enable);

  const UpdateSettings& settings_;
  Seams seams_;
  InstallationStore& store_;
  TaskScheduler& scheduler_;
  std::function<std::tm()> clock_;         // log lines' local time
  std::function<int64_t()> secondsClock_;  // seconds since 1970, for signatures' expiry

  ServerList servers_;
  size_t selected_ = 0;      // in servers_, when it holds any
  ServerRotation standIns_;  // who takes over when the selected server fails an automatic run
  RunCatalogue remoteCatalogue_;
  std::string manifestText_;   // the server's manifest as it arrived, saved at a clean end
  std::string signatureText_;  // the signature manifestText_ was accepted with, if any
  uint32_t filesLeft_ = 0;     // file jobs queued and not yet acted on
  std::vector<CatalogueEntry> arrived_;  // files of this run whole under their ".update" names
  uint64_t totalBytes_ = 0;              // 64-bit: runs of 4 GiB and more count right
  uint64_t bytesDone_ = 0;
  bool fileFailed_ = false;
  bool choiceEnabled_ = true;
  bool finished_ = false;
  bool launchFailed_ = false;  // exec could not be started after a finished run
  bool halted_ = false;        // the configuration forbids any update
};
