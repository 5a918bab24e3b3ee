#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/lock_guard.h"
#include "catalogue/file_catalogue.h"
#include "catalogue/progress_record.h"
#include "platform/install_file.h"
#include "platform/launch.h"
#include "transfer/download_queue.h"
#include "transfer/messages.h"
#include "transfer/server_list.h"
#include "ui/update_settings.h"
#include "ui/update_view.h"

class CInetFile;

// The only window's logic and the owner of an update run's state: the server list, the
// manifest, the file tasks. Toolkit-free; it draws through UpdateView. Window's thread only:
// the front end's loop calls the handlers and Dispatch for each posted message.
class UpdateDialog {
 public:
  static constexpr unsigned kTimerId = 1000;
  static constexpr unsigned kTimerPeriodMs = 100;
  // Servers taken from one server list at most.
  static constexpr size_t kMaxServers = 1000;

  // notifyWindow receives the workers' messages; it must outlive the dialog.
  UpdateDialog(UpdateView& view, MessageTarget& notifyWindow, UpdateSettings settings,
               Launcher& launcher);
  // Deletes every queued task (a running one is cancelled and joined) with its temporary file.
  virtual ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // False when the program is to end at once (empty serverlist). A configuration problem is
  // shown instead of fetching anything, and the window stays open for the user to read it.
  bool OnInitDialog();
  void OnTimer(unsigned id);
  // Handles copies of one progress message as if each had come alone.
  long OnTransferProgress(uint32_t wParam, CInetFile* lParam, size_t copies = 1);
  long OnTransferDone(uint32_t wParam, CInetFile* lParam);
  void OnUpdateNow();
  // Routes WM_TRANSFER_PROGRESS and WM_TRANSFER_DONE to their handlers; ignores the rest, and
  // any message whose task is not running. A task that ends behind a running head waits its turn:
  // its end is acted on once it is the head.
  // copies: the same message posted that many times in a row.
  void Dispatch(const PostedMessage& message, size_t copies = 1);
  // Removes the tray icon; runs whenever the dialog ends.
  void DestroyWindow();

  // True once FinishRun ended the dialog: the process exits with status 0.
  bool RunFinished() const;
  // True while the user is expected to act: the controls are enabled and nothing is queued.
  bool WaitingForUser();
  // True when the configuration forbids any update: nothing will happen until the window closes.
  bool Halted() const { return halted_; }

  // The local time that log lines are stamped with; tests fix it.
  void SetClock(std::function<std::tm()> clock);
  // The seconds since 1970 that signatures are judged by for expiry; tests fix them.
  void SetSecondsClock(std::function<int64_t()> clock);

 protected:
  // Starts one queued task; true when a worker runs it. A seam for tests of a failed start.
  virtual bool StartTask(CInetFile& task);

 private:
  // The timer's step: starts queued tasks from the front, in queue order, while fewer than
  // maxRunning run. Also taken at once after a task has ended, so that transfers follow each
  // other without waiting for a tick.
  void StartQueuedTask();
  // task's worker has ended with wParam: counts the end and acts on it, or keeps it until every
  // task ahead of it has been acted on.
  void TransferEnded(CInetFile* task, uint32_t wParam);
  // Acts on one ended task at the head: its kind's step, then the run's end when it was the last.
  void ActOnHead(uint32_t wParam, CInetFile* task);
  // The head changed: the status line and the file bar follow it once it has been started.
  // Names a file task on the status line as it starts or comes to the head.
  void ShowStartedFile(const CInetFile& task);
  void ShowHead();
  // The server list and the manifest run alone: nothing starts beside them, nor they beside others.
  bool MayStart(const CInetFile& task) const;
  // Counts the end of a started task; false when it was not running.
  bool CountEnd(CInetFile* task);
  void StartManifestFetch();
  void FetchServerList(const std::string& url);
  void ParseServerList(CInetFile& task, uint32_t code);
  void FillServerCombo();
  void HandleManifest(CInetFile& task, uint32_t code);
  // With a pubkey the manifest is used only once its signature, fetched from beside it, holds.
  void QueueSignatureFetch(const CInetFile& manifest);
  void HandleSignature(CInetFile& task, uint32_t code);
  // The log line's format (taking the server's name) for a validly signed manifest that must not
  // be used all the same, given its signature's timestamp and the local manifest's head
  // timestamp; null when it may be used.
  const char* SignatureRefusal(int64_t timestamp, int64_t localHeadTimestamp) const;
  // Compares manifestText with the local manifest (read from disk, consumed) and queues a task
  // per file that differs.
  void ApplyManifest(const std::string& serverName, FileCatalogue& localCatalogue);
  void HandleFile(CInetFile& task, uint32_t code);
  // Puts one downloaded file in place; a file that cannot be is a failed file.
  void FinishFile(CInetFile& task);
  void FinishRun();
  // Notes in the progress record that task's file now stands in place.
  void RecordInstalled(const CInetFile& task);
  // A run that did not finish keeps what arrived: the folders of its renames are flushed, then
  // the progress record saved if it has news. False when saving failed.
  bool SaveProgress();
  // A clean run's bookkeeping: the accepted signature is kept, the progress record goes, the
  // server's manifest becomes the local one. False when any of them fails.
  bool SaveServerManifest();
  // Keeps this run's accepted signature as "version.txt.minisig" unless it is there already.
  bool SaveAcceptedSignature();
  // The timestamp of the signature accepted last; -1 when none is kept.
  int64_t AcceptedTimestamp() const;
  // Shows tip on the tray icon when it differs from the tip shown.
  void SetTrayTip(std::string tip);
  void AddLogLine(const std::string& text, uint32_t code);
  void SetStatusText(const std::string& text);
  void EnableControls(bool enable);
  void QueueTask(std::unique_ptr<CInetFile> task);
  // The combo box's selected server, or null.
  ServerEntry* SelectedServer();

  UpdateView& view_;
  MessageTarget& notifyWindow_;
  UpdateSettings settings_;
  Launcher& launcher_;
  std::function<std::tm()> clock_;
  std::function<int64_t()> secondsClock_;

  CriticalSection dialogLock;
  ServerList serverList;
  FileCatalogue remoteCatalogue;
  std::string manifestText;
  std::string signatureText_;  // the signature file that manifestText was accepted with, if any
  ProgressRecord progress_;
  FolderFlushes flushes_;  // the folders this run renamed files in, not yet flushed
  // The plan entry each queued file task was made from, until the task has been handled.
  std::unordered_map<const CInetFile*, CatalogueEntry> fileEntries_;
  uint32_t fileCount = 0;
  uint64_t totalBytes = 0;  // 64-bit: runs of 4 GiB and more count right
  uint64_t bytesDone = 0;
  uint32_t maxRunning = 5;
  uint32_t runningCount = 0;
  // Queued tasks never started, in queue order: the started ones are always the queue's front.
  std::deque<CInetFile*> waiting_;
  // Tasks started whose end has not arrived yet.
  std::unordered_set<CInetFile*> running_;
  bool aloneRunning_ = false;  // the server list or the manifest runs
  // Tasks whose end arrived before they were the head, with their end's wParam.
  std::unordered_map<const CInetFile*, uint32_t> ended_;
  bool fileFailed = false;

  bool trayIconAdded = false;
  std::string trayTip;             // the tip the icon shows, at most 63 bytes
  uint32_t trayFrame = 0;          // one dialog per process, so this counts for the process
  bool trayTipIsPercent_ = false;  // trayTip is the text of trayTipPercent_
  uint64_t trayTipPercent_ = 0;

  bool updateButtonEnabled_ = true;
  bool comboBoxEnabled_ = true;
  bool runFinished_ = false;
  bool halted_ = false;         // the configuration forbids any update
  bool dispatching_ = false;    // StartQueuedTask is running
  bool dispatchAgain_ = false;  // a task ended meanwhile: look at the head again

  // Last, so that it is destroyed first: its tasks are cancelled and joined while the rest of
  // the dialog still stands.
  DownloadQueue downloadQueue;
};
