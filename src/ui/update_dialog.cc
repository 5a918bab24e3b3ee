#include "ui/update_dialog.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>
#include <vector>

#include "catalogue/fetch_limits.h"
#include "catalogue/minisign.h"
#include "catalogue/record_names.h"
#include "platform/crash_point.h"
#include "platform/file_system.h"
#include "platform/install_file.h"
#include "platform/local_time.h"
#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"
#include "transfer/url_path.h"
#include "ui/display_text.h"
#include "ui/format_text.h"
#include "ui/server_list_parser.h"

namespace {

constexpr int kTrayFrameFirst = 130;
constexpr int64_t kSecondsPerDay = 86400;
constexpr size_t kTrayTipMax = 63;
const char kTrayTipStart[] = "正在自动更新";

int64_t SecondsSince1970() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// part * 100 / whole without overflow for any 64-bit counts; whole must not be 0.
uint64_t Percent(uint64_t part, uint64_t whole) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(part) * 100u / whole);
}

int BarPosition(uint64_t percent) {
  return percent > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(percent);
}

// The view's combo box as the server list fills it: readable names, while the entries keep their
// bytes. Window's thread.
class DisplayComboBox {
 public:
  explicit DisplayComboBox(UpdateView& view) : view_(view) {}
  int AddString(const std::string& text) { return view_.AddString(DisplayText(text)); }
  void SetItemData(int index, ServerEntry* entry) { view_.SetItemData(index, entry); }
  void SetCurSel(int index) { view_.SetCurSel(index); }

 private:
  UpdateView& view_;
};

}  // namespace

UpdateDialog::UpdateDialog(UpdateView& view, MessageTarget& notifyWindow, UpdateSettings settings,
                           Launcher& launcher)
    : view_(view),
      notifyWindow_(notifyWindow),
      settings_(std::move(settings)),
      launcher_(launcher),
      clock_(LocalTimeNow),
      secondsClock_(SecondsSince1970),
      remoteCatalogue(settings_.moduleDirectory),
      progress_(settings_.moduleDirectory),
      maxRunning(settings_.connections > 0 ? settings_.connections : 1) {}

UpdateDialog::~UpdateDialog() {
  // Every running transfer is told to stop first, so that they wind down together rather than
  // one after the other as each is joined below.
  for (CInetFile* task : running_) {
    task->cancel = true;
  }
  // Tasks still queued are cancelled and joined one by one; the temporary files of the server
  // list and the manifest would otherwise stay behind in the temporary directory.
  while (CInetFile* task = downloadQueue.Front()) {
    std::string temporary = task->kind != KindFile ? task->localPath : std::string();
    downloadQueue.RemoveAndDelete(task);
    if (!temporary.empty()) {
      DeleteFileAt(temporary);
    }
  }
  // Closed in the middle of a run: what did arrive need not be fetched again.
  SaveProgress();
}

bool UpdateDialog::SaveProgress() {
  flushes_.FlushAll();  // the renames the record claims last first
  return !progress_.HasNews() || progress_.Save();
}

void UpdateDialog::SetClock(std::function<std::tm()> clock) {
  clock_ = std::move(clock);
}

void UpdateDialog::SetSecondsClock(std::function<int64_t()> clock) {
  secondsClock_ = std::move(clock);
}

bool UpdateDialog::OnInitDialog() {
  if (!settings_.configurationProblem.empty()) {
    // The file asks for signatures (or their expiry) that cannot be had as asked: nothing is
    // fetched, installed or launched, and the user reads why until closing the window.
    halted_ = true;
    EnableControls(false);
    AddLogLine(settings_.configurationProblem, 0);
    // What loses a value most often: an unquoted ":" stops the reader there.
    AddLogLine("含有 \":\" 的值须用引号括起来, 如 param:\"a:b\"", 0);
    SetStatusText(settings_.configurationProblem);
    return true;
  }
  if (settings_.serverlist.empty()) {
    return false;  // the front end ends at once
  }
  view_.StartTimer(kTimerId, kTimerPeriodMs);
  if (!trayIconAdded) {
    trayTip = CutAtCharBoundary(kTrayTipStart, kTrayTipMax);
    view_.AddTrayIcon(kTrayFrameFirst, trayTip);
    trayIconAdded = true;
  }
  FetchServerList(settings_.serverlist);
  // The list is fetched at once; the timer starts whatever would be left waiting.
  LockGuard guard(&dialogLock);
  StartQueuedTask();
  return true;
}

void UpdateDialog::DestroyWindow() {
  if (trayIconAdded) {
    view_.RemoveTrayIcon();
    trayIconAdded = false;
  }
}

bool UpdateDialog::RunFinished() const {
  return runFinished_;
}

bool UpdateDialog::WaitingForUser() {
  return updateButtonEnabled_ && comboBoxEnabled_ && downloadQueue.Size() == 0 && !runFinished_;
}

void UpdateDialog::Dispatch(const PostedMessage& message, size_t copies) {
  if (message.message != WM_TRANSFER_PROGRESS && message.message != WM_TRANSFER_DONE) {
    return;
  }
  // Only a running task is heard of; a message about anything else would name a task that is
  // gone. A worker posts its end last, so no message about a task follows its end.
  if (message.lParam == nullptr || running_.count(message.lParam) == 0) {
    return;
  }
  if (message.message == WM_TRANSFER_PROGRESS) {
    OnTransferProgress(message.wParam, message.lParam, copies);
  } else {
    LockGuard guard(&dialogLock);
    TransferEnded(message.lParam, message.wParam);
  }
}

bool UpdateDialog::StartTask(CInetFile& task) {
  return task.StartTransfer();
}

void UpdateDialog::OnTimer(unsigned id) {
  if (id != kTimerId) {
    return;
  }
  LockGuard guard(&dialogLock);
  StartQueuedTask();
}

void UpdateDialog::StartQueuedTask() {
  // A start that fails ends its task here, and that end asks for the next start: the loop below
  // takes it on rather than nesting one call per failed task.
  if (dispatching_) {
    dispatchAgain_ = true;
    return;
  }
  dispatching_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{dispatching_};
  do {
    dispatchAgain_ = false;
    while (!waiting_.empty() && runningCount < maxRunning && MayStart(*waiting_.front())) {
      CInetFile* task = waiting_.front();
      waiting_.pop_front();
      if (task->startCount != 0) {
        continue;  // never tried twice, whoever started it
      }
      if (task == downloadQueue.Front()) {
        ShowStartedFile(*task);
      }
      bool started = StartTask(*task);
      if (task->startCount == 0) {
        task->startCount = 1;
      }
      ++runningCount;
      running_.insert(task);
      aloneRunning_ = task->kind != KindFile;
      if (!started) {
        // No worker will ever report on this task: it ends here as a failed transfer, so the
        // queue moves on instead of stalling behind it.
        TransferEnded(task, MakeTransferWParam(task->kind, ServerRefused));
      }
    }
  } while (dispatchAgain_);
}

bool UpdateDialog::MayStart(const CInetFile& task) const {
  return !aloneRunning_ && (task.kind == KindFile || runningCount == 0);
}

bool UpdateDialog::CountEnd(CInetFile* task) {
  if (running_.erase(task) == 0) {
    return false;
  }
  --runningCount;
  if (running_.empty()) {
    aloneRunning_ = false;
  }
  return true;
}

void UpdateDialog::TransferEnded(CInetFile* task, uint32_t wParam) {
  if (task == downloadQueue.Front()) {
    OnTransferDone(wParam, task);
    return;
  }
  if (!CountEnd(task)) {
    return;
  }
  // Its worker posted the end as its last act: the thread goes now rather than when its turn
  // comes.
  task->Join();
  ended_.emplace(task, wParam);
  StartQueuedTask();
}

long UpdateDialog::OnTransferProgress(uint32_t wParam, CInetFile* lParam, size_t copies) {
  LockGuard guard(&dialogLock);
  if (lParam == nullptr || copies == 0) {
    return 0;
  }
  const uint32_t chunk = LowWord(wParam);
  const int kind = static_cast<int>(HighWord(wParam));
  // The file bar is the head's, not that of a task running behind it; the total bar counts every
  // byte.
  const bool behindHead = lParam != downloadQueue.Front() && running_.count(lParam) != 0;
  if (lParam->expectedSize > 0 && !behindHead) {
    view_.SetFileProgress(BarPosition(Percent(lParam->bytesReceived.load(), lParam->expectedSize)));
  }
  // The tip is the run's percentage while files arrive, empty otherwise.
  bool percentTip = false;
  uint64_t percent = 0;
  if (kind == KindFile) {
    bytesDone += static_cast<uint64_t>(chunk) * copies;
    if (totalBytes > 0) {
      percent = Percent(bytesDone, totalBytes);
      view_.SetTotalProgress(BarPosition(percent));
      percentTip = true;
    }
  }
  if (trayIconAdded) {
    trayFrame += static_cast<uint32_t>(copies);  // wraps as one step each would
    view_.SetTrayIcon(kTrayFrameFirst + static_cast<int>(trayFrame % 3));
    // Its text follows from the percentage alone, so it is made and compared only when that
    // changes, not for every chunk.
    if (percentTip && !(trayTipIsPercent_ && trayTipPercent_ == percent)) {
      SetTrayTip(CutAtCharBoundary(FormatText("%llu%%", static_cast<unsigned long long>(percent)),
                                   kTrayTipMax));
      trayTipIsPercent_ = true;
      trayTipPercent_ = percent;
    } else if (!percentTip && !trayTip.empty()) {
      SetTrayTip(std::string());
    }
  }
  return 0;
}

void UpdateDialog::SetTrayTip(std::string tip) {
  trayTipIsPercent_ = false;
  if (tip != trayTip) {
    trayTip = std::move(tip);
    view_.SetTrayTip(trayTip);
  }
}

long UpdateDialog::OnTransferDone(uint32_t wParam, CInetFile* lParam) {
  LockGuard guard(&dialogLock);
  CountEnd(lParam);
  ActOnHead(wParam, lParam);
  // Tasks that ended behind it are acted on in queue order as they come to the head.
  for (;;) {
    CInetFile* head = downloadQueue.Front();
    auto ended = head != nullptr ? ended_.find(head) : ended_.end();
    if (runFinished_ || ended == ended_.end()) {
      break;
    }
    const uint32_t endedWParam = ended->second;
    ended_.erase(ended);
    ShowHead();
    ActOnHead(endedWParam, head);
  }
  ShowHead();
  // The next queued task starts now rather than on the next tick.
  if (!runFinished_) {
    StartQueuedTask();
  }
  return 0;
}

void UpdateDialog::ActOnHead(uint32_t wParam, CInetFile* task) {
  const uint32_t code = LowWord(wParam);
  const int kind = static_cast<int>(HighWord(wParam));
  if (task != nullptr) {
    switch (kind) {
      case KindServerList:
        ParseServerList(*task, code);
        break;
      case KindManifest:
        HandleManifest(*task, code);
        break;
      case KindFile:
        HandleFile(*task, code);
        break;
      case KindSignature:
        HandleSignature(*task, code);
        break;
      default:
        break;
    }
  }

  fileEntries_.erase(task);
  downloadQueue.RemoveAndDelete(task);
  if (downloadQueue.Size() == 0) {
    if (kind == KindFile && !fileFailed) {
      SetStatusText("更新完毕");
      AddLogLine("更新完毕", 0);
      if (SaveServerManifest()) {
        FinishRun();
      } else {
        AddLogLine("保存下载进度遇到异常!", 0);
      }
    } else if (kind == KindFile) {
      // The next run fetches only what is still missing.
      if (!SaveProgress()) {
        AddLogLine("保存下载进度遇到异常!", 0);
      }
      const char* text = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";
      SetStatusText(text);
      AddLogLine(text, 0);
    }
    EnableControls(true);
  }
}

void UpdateDialog::ShowStartedFile(const CInetFile& task) {
  if (task.kind == KindFile) {
    SetStatusText(FormatText("正在更新文件：%s", DisplayText(task.displayName).c_str()));
  }
}

void UpdateDialog::ShowHead() {
  CInetFile* head = downloadQueue.Front();
  if (head == nullptr || head->kind != KindFile || head->startCount == 0) {
    return;  // one not started yet is named when it starts
  }
  ShowStartedFile(*head);
  if (head->expectedSize > 0) {
    view_.SetFileProgress(BarPosition(Percent(head->bytesReceived.load(), head->expectedSize)));
  }
}

void UpdateDialog::HandleManifest(CInetFile& task, uint32_t code) {
  if (code != 0) {
    AddLogLine(
        FormatText("%s：%s", task.GetErrorText().c_str(), DisplayText(task.serverName).c_str()),
        code);
    // Nothing will read the partial manifest; don't leave it in the temporary directory.
    DeleteFileAt(task.localPath);
    return;
  }
  AddLogLine(FormatText("获取更新文件列表成功：%s", DisplayText(task.serverName).c_str()), 0);
  // Unreadable, it stays empty, which no catalogue loads and no signature covers.
  if (!ReadWholeFile(task.localPath, manifestText)) {
    manifestText.clear();
  }
  DeleteFileAt(task.localPath);
  signatureText_.clear();
  if (!settings_.pubkey.empty()) {
    QueueSignatureFetch(task);
    return;
  }
  FileCatalogue localCatalogue(settings_.moduleDirectory);
  localCatalogue.Load(settings_.moduleDirectory + "/" + kManifestName);
  ApplyManifest(task.serverName, localCatalogue);
}

void UpdateDialog::QueueSignatureFetch(const CInetFile& manifest) {
  auto task = std::make_unique<CInetFile>();
  task->kind = KindSignature;
  task->notifyWindow = &notifyWindow_;
  task->url = manifest.url + ".minisig";
  task->serverName = manifest.serverName;
  task->localPath = MakeTempFile();
  task->maxBytes = kSignatureMaxBytes;
  task->deadlineSeconds = kTextFetchDeadlineSeconds;
  QueueTask(std::move(task));
}

void UpdateDialog::HandleSignature(CInetFile& task, uint32_t code) {
  std::string signature;
  const bool fetched = code == 0 && ReadWholeFile(task.localPath, signature);
  DeleteFileAt(task.localPath);
  const std::string server = DisplayText(task.serverName);
  // Missing, malformed, made with another key or for other bytes, or without a timestamp: the
  // manifest cannot be told from a forged one.
  MinisignPublicKey key;
  VerifiedSignature verified;
  if (!fetched || !ParseMinisignPublicKey(settings_.pubkey, key) ||
      VerifyMinisignSignature(key, manifestText, signature, verified) != SignatureCheck::kValid) {
    AddLogLine(FormatText("更新文件列表签名无效, 请选择其他服务器进行尝试：%s", server.c_str()),
               code);
    return;
  }
  FileCatalogue localCatalogue(settings_.moduleDirectory);
  localCatalogue.Load(settings_.moduleDirectory + "/" + kManifestName);
  const char* refusal = SignatureRefusal(verified.timestamp, localCatalogue.HeadTimestamp());
  if (refusal != nullptr) {
    AddLogLine(FormatText(refusal, server.c_str()), 0);
    return;
  }
  signatureText_ = std::move(signature);
  ApplyManifest(task.serverName, localCatalogue);
}

const char* UpdateDialog::SignatureRefusal(int64_t timestamp, int64_t localHeadTimestamp) const {
  // A release signed before the one installed is a replay, however valid its signature. The
  // installed release is known by the signature accepted last and by the timestamp its manifest
  // carries under the signature, which an installation made from a release folder has from the
  // start. The same release again is fine.
  if (timestamp < std::max(AcceptedTimestamp(), localHeadTimestamp)) {
    return "更新文件列表早于当前版本, 请选择其他服务器进行尝试：%s";
  }
  // Otherwise a mirror could hold its clients on an old release for ever.
  if (settings_.maxAgeDays > 0 &&
      timestamp < secondsClock_() - settings_.maxAgeDays * kSecondsPerDay) {
    return "更新文件列表已过期, 请选择其他服务器进行尝试：%s";
  }
  return nullptr;
}

void UpdateDialog::ApplyManifest(const std::string& serverName, FileCatalogue& localCatalogue) {
  progress_.Begin(localCatalogue);
  if (!remoteCatalogue.LoadText(manifestText)) {
    view_.ShowMessageBox("装载远程版本信息失败!");
  } else {
    fileCount = remoteCatalogue.MarkChanged(localCatalogue);
    totalBytes = remoteCatalogue.TotalLength();
    if (fileCount == 0) {
      AddLogLine("你当前的版本是最新的", 0);
      // Earlier runs' files complete the installation: the server's manifest now describes it.
      // Nothing was put in place by this run, so a failure here keeps a true picture.
      if (!(progress_.Present() ? SaveServerManifest() : SaveAcceptedSignature())) {
        AddLogLine("保存下载进度遇到异常!", 0);
      }
      FinishRun();
    } else {
      AddLogLine(FormatText("需更新文件总数: %u, 文件总长度: %llu KB", fileCount,
                            static_cast<unsigned long long>(totalBytes / 1024)),
                 0);
    }
    // The combo box has been disabled since the manifest was asked for: this is its server.
    ServerEntry* server = SelectedServer();
    while (std::unique_ptr<CatalogueEntry> entry = remoteCatalogue.TakeNext()) {
      if (server == nullptr) {
        continue;
      }
      auto file = std::make_unique<CInetFile>();
      file->kind = KindFile;
      file->notifyWindow = &notifyWindow_;
      file->url = server->url + "/" + EncodeUrlPath(entry->remotePath);
      file->localPath = entry->localPath;
      file->serverName = serverName;
      file->displayName = entry->name;
      file->expectedSize = entry->length > 0 ? static_cast<uint64_t>(entry->length) : 0;
      file->sizeRequired = true;
      file->registerAfter = entry->registerAfter;
      file->runAfter = entry->runAfter;
      file->runParameters = entry->runParameters;
      file->executable = entry->executable;
      file->expectedHash = entry->hash;
      // A signed manifest vouches for a file only through its hash.
      file->hashRequired = !settings_.pubkey.empty();
      fileEntries_.emplace(file.get(), std::move(*entry));
      QueueTask(std::move(file));
    }
  }
}

void UpdateDialog::HandleFile(CInetFile& task, uint32_t code) {
  if (code != 0) {
    fileFailed = true;
    AddLogLine(
        FormatText("下载文件失败 [%s], 错误代码 [%u]", DisplayText(task.displayName).c_str(), code),
        code);
    return;
  }
  CrashPoint();  // crash tests: the download is whole, the old file still in place
  FinishFile(task);
}

void UpdateDialog::FinishFile(CInetFile& task) {
  const char* failure = nullptr;
  switch (InstallFile(task.localPath + ".update", task.localPath, task.executable)) {
    case InstallResult::Installed:
      break;
    case InstallResult::DeleteFailed:
      failure = "删除文件失败 [%s]";
      break;
    case InstallResult::RenameFailed:
      failure = "重命名文件失败 [%s]";
      break;
  }
  if (failure != nullptr) {
    // The old file (or none) stays and the download keeps its ".update" name: the installation
    // is not what the server's manifest says, so the run must not end as if it were.
    fileFailed = true;
    AddLogLine(FormatText(failure, DisplayText(task.displayName).c_str()), 0);
    return;
  }
  flushes_.Note(task.localPath);
  RecordInstalled(task);
  SetStatusText(FormatText("下载文件成功 [%s]", DisplayText(task.displayName).c_str()));
  if (task.runAfter) {
    launcher_.Launch(task.localPath, task.runParameters);
  }
  if (task.registerAfter) {
    launcher_.Launch("regsvr32", "/s " + task.localPath);
  }
}

void UpdateDialog::RecordInstalled(const CInetFile& task) {
  auto entry = fileEntries_.find(&task);
  if (entry != fileEntries_.end()) {
    progress_.Installed(entry->second);
  }
}

bool UpdateDialog::SaveServerManifest() {
  // The signature goes first: a crash after it leaves the old manifest under a floor raised to a
  // release whose files are all in place, which refuses only older releases; the other way round
  // the new files would stand under the old floor, open to a replay of the release they replaced.
  // The record goes next: a crash before the manifest is saved then leaves the old manifest
  // alone, which has files fetched again but never skips one wrongly. A record that cannot be
  // deleted would outlive the manifest it completes, so the manifest is not saved either.
  // Replaced whole or not at all: a full disk must not leave a cut manifest behind. The renames
  // it claims last before it does.
  flushes_.FlushAll();
  return SaveAcceptedSignature() && progress_.Drop() &&
         ReplaceFileContents(settings_.moduleDirectory + "/" + kManifestName, manifestText);
}

bool UpdateDialog::SaveAcceptedSignature() {
  if (signatureText_.empty()) {
    return true;
  }
  const std::string path = settings_.moduleDirectory + "/" + kSignatureName;
  std::string kept;
  return (ReadWholeFile(path, kept) && kept == signatureText_) ||
         ReplaceFileContents(path, signatureText_);
}

int64_t UpdateDialog::AcceptedTimestamp() const {
  // Written only by this program, atomically, after it was verified: its comment is trusted as
  // it stands, even when the key has changed since.
  std::string kept;
  std::string comment;
  int64_t seconds = -1;
  if (!ReadWholeFile(settings_.moduleDirectory + "/" + kSignatureName, kept) ||
      !ReadMinisignTrustedComment(kept, comment) || !TrustedCommentTimestamp(comment, seconds)) {
    return -1;
  }
  return seconds;
}

void UpdateDialog::FinishRun() {
  view_.EndDialog();
  runFinished_ = true;
  if (!settings_.exec.empty()) {
    launcher_.Launch(settings_.moduleDirectory + "/" + settings_.exec, settings_.param);
  }
}

void UpdateDialog::OnUpdateNow() {
  if (!updateButtonEnabled_) {
    return;  // a disabled button cannot be pressed
  }
  SetStatusText("");
  fileFailed = false;
  view_.ClearLog();
  StartManifestFetch();
  LockGuard guard(&dialogLock);
  StartQueuedTask();
}

void UpdateDialog::StartManifestFetch() {
  ServerEntry* server = SelectedServer();
  if (server == nullptr) {
    return;
  }
  std::string tempFile = MakeTempFile();
  remoteCatalogue.Clear();
  view_.SetFileProgress(0);
  view_.SetTotalProgress(0);
  AddLogLine(FormatText("正在连接：%s", DisplayText(server->name).c_str()), 0);
  bytesDone = 0;
  auto task = std::make_unique<CInetFile>();
  task->kind = KindManifest;
  task->notifyWindow = &notifyWindow_;
  task->url = server->url + "/" + kManifestName;
  task->serverName = server->name;
  task->localPath = tempFile;
  task->expectedSize = 0;
  task->maxBytes = kManifestMaxBytes;
  task->deadlineSeconds = kTextFetchDeadlineSeconds;
  QueueTask(std::move(task));
}

void UpdateDialog::FetchServerList(const std::string& url) {
  std::string tempFile = MakeTempFile();
  remoteCatalogue.Clear();
  view_.SetFileProgress(0);
  view_.SetTotalProgress(0);
  AddLogLine("正在连接获取服务器列表", 0);
  bytesDone = 0;
  auto task = std::make_unique<CInetFile>();
  task->kind = KindServerList;
  task->notifyWindow = &notifyWindow_;
  task->url = url;
  task->localPath = tempFile;
  task->expectedSize = 0;
  task->maxBytes = kServerListMaxBytes;
  task->deadlineSeconds = kTextFetchDeadlineSeconds;
  QueueTask(std::move(task));
}

void UpdateDialog::ParseServerList(CInetFile& task, uint32_t code) {
  // Whatever arrived whole is used. A list that cannot be read at all (no temporary file could be
  // made) counts as one without servers, so the user is told.
  std::string content;
  if (!ReadWholeFile(task.localPath, content)) {
    content.clear();
  }
  // A transfer that broke off may have cut its last line anywhere, even inside a URL.
  if (code != TransferOk) {
    content.erase(content.find_last_of('\n') + 1);
  }
  std::vector<ServerLine> lines = ParseServerLines(content);
  // No one chooses among more servers than that, and neither box could show them: the last
  // lines are kept, so the server selected at first stays the last usable line.
  if (lines.size() > kMaxServers) {
    lines.erase(lines.begin(), lines.end() - kMaxServers);
  }
  unsigned taken = 0;
  for (const ServerLine& line : lines) {
    if (serverList.AddEntry(line.name, line.url)) {
      ++taken;
    }
  }
  if (taken > 0) {
    AddLogLine(FormatText("获取服务器列表成功,共取得 %u 个可选服务器", taken), code);
    FillServerCombo();
    if (settings_.automatic) {
      StartManifestFetch();
    }
  } else {
    AddLogLine("获得服务器列表失败", 0);
  }
  DeleteFileAt(task.localPath);
}

void UpdateDialog::FillServerCombo() {
  while (view_.DeleteString(0)) {
  }
  DisplayComboBox comboBox(view_);
  serverList.FillComboBox(comboBox);
}

ServerEntry* UpdateDialog::SelectedServer() {
  int selection = view_.GetCurSel();
  if (selection < 0) {
    return nullptr;
  }
  return view_.GetItemData(selection);
}

void UpdateDialog::QueueTask(std::unique_ptr<CInetFile> task) {
  EnableControls(false);
  waiting_.push_back(task.get());
  downloadQueue.PushBack(std::move(task));
}

void UpdateDialog::EnableControls(bool enable) {
  updateButtonEnabled_ = enable;
  comboBoxEnabled_ = enable;
  view_.EnableUpdateButton(enable);
  view_.EnableComboBox(enable);
}

void UpdateDialog::AddLogLine(const std::string& text, uint32_t code) {
  std::tm now = clock_();
  view_.AppendLogLine(FormatText("%.2u:%.2u:%.2u %s", static_cast<unsigned>(now.tm_hour),
                                 static_cast<unsigned>(now.tm_min),
                                 static_cast<unsigned>(now.tm_sec), text.c_str()),
                      code);
}

void UpdateDialog::SetStatusText(const std::string& text) {
  view_.SetStatusLine(text);
}
