#include "ui/update_run.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>
#include <vector>

#include "base/install_names.h"
#include "catalogue/fetch_limits.h"
#include "catalogue/minisign.h"
#include "platform/crash_point.h"
#include "platform/launch.h"
#include "platform/local_time.h"
#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"
#include "ui/disk_interface.h"
#include "ui/display_text.h"
#include "ui/file_job.h"
#include "ui/format_text.h"
#include "ui/installation_store.h"
#include "ui/server_list_parser.h"
#include "ui/transfer_job.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
const char kFailedRun[] = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";
constexpr uint64_t kWholeRun = 100;  // percent

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

}  // namespace

UpdateRun::UpdateRun(const UpdateSettings& settings, Seams seams, InstallationStore& store,
                     TaskScheduler& scheduler)
    : settings_(settings),
      seams_(seams),
      store_(store),
      scheduler_(scheduler),
      clock_(LocalTimeNow),
      secondsClock_(SecondsSince1970),
      remoteCatalogue_(settings.moduleDirectory) {}

// The window opens. A configuration problem is shown instead of fetching anything, and the
// window stays open for the user to read it.
bool UpdateRun::Open() {
  if (!settings_.configurationProblem.empty()) {
    // The file asks for signatures (or their expiry) that cannot be had as asked: nothing is
    // fetched, installed or launched, and the user reads why until closing the window.
    halted_ = true;
    EnableChoice(false);
    Log(settings_.configurationProblem, 0);
    // What loses a value most often: an unquoted ":" stops the reader there.
    Log("含有 \":\" 的值须用引号括起来, 如 param:\"a:b\"", 0);
    Status(settings_.configurationProblem);
    return true;
  }
  if (settings_.serverlist.empty()) {
    return false;  // the front end ends at once
  }
  seams_.view.Started(kTimerPeriodMs);
  FetchServerList();
  return true;
}

void UpdateRun::FetchServerList() {
  remoteCatalogue_.Clear();
  seams_.view.FileProgress(0);
  seams_.view.RunProgress(0);
  Log("正在连接获取服务器列表", 0);
  bytesDone_ = 0;
  QueueText(KindServerList, settings_.serverlist, std::string(), kServerListMaxBytes,
            &UpdateRun::ServerListArrived);
}

void UpdateRun::ServerListArrived(const CInetFile& list, uint32_t code) {
  // Whatever arrived whole is used. A list that cannot be read at all (no temporary file could be
  // made) counts as one without servers, so the user is told.
  std::string content;
  if (!seams_.disk.Read(list.localPath, content)) {
    content.clear();
  }
  // A transfer that broke off may have cut its last line anywhere, even inside a URL.
  if (code != TransferOk) {
    content.erase(content.find_last_of('\n') + 1);
  }
  std::vector<ServerLine> lines = ParseServerLines(content);
  // No one chooses among more servers than that, and no box could show them: the last lines
  // are kept, so the server selected at first stays the last usable line.
  if (lines.size() > kMaxServers) {
    lines.erase(lines.begin(), lines.end() - kMaxServers);
  }
  unsigned taken = 0;
  for (const ServerLine& line : lines) {
    if (servers_.AddEntry(line.name, line.url)) {
      ++taken;
    }
  }
  if (taken == 0) {
    Log("获得服务器列表失败", 0);
    return;
  }
  Log(FormatText("获取服务器列表成功,共取得 %u 个可选服务器", taken), code);
  ListServers();
  if (settings_.automatic) {
    if (settings_.failover) {
      std::vector<std::string> urls;
      for (size_t i = 0; i < servers_.Size(); ++i) {
        urls.push_back(servers_.At(i).url);
      }
      standIns_ = ServerRotation(std::move(urls), selected_);
    }
    StartManifestFetch();
  }
}

void UpdateRun::ListServers() {
  // The last server of the list is the choice until the user makes another.
  selected_ = servers_.Size() - 1;
  ShowServers();
}

void UpdateRun::ShowServers() {
  std::vector<std::string> names;
  names.reserve(servers_.Size());
  for (size_t i = 0; i < servers_.Size(); ++i) {
    names.push_back(DisplayText(servers_.At(i).name));
  }
  seams_.view.ServersListed(names, selected_);
}

void UpdateRun::Choose(size_t index) {
  if (choiceEnabled_ && index < servers_.Size()) {
    selected_ = index;
  }
}

void UpdateRun::UpdateNow() {
  if (!choiceEnabled_) {
    return;  // a disabled button cannot be pressed
  }
  Status("");
  fileFailed_ = false;
  standIns_ = ServerRotation();  // the user's choice is the user's to change
  seams_.view.LogCleared();
  StartManifestFetch();
}

void UpdateRun::StartManifestFetch() {
  const ServerEntry* server = SelectedServer();
  if (server == nullptr) {
    return;
  }
  // A run stopped while it put its files in place is completed first (start-up tried already): a
  // new run over a mix could leave one for good.
  std::vector<CommitFailure> failures;
  if (store_.CommitPending() && store_.FinishCommit(failures) != CommitResult::kDone) {
    ReportCommitFailures(failures);
    Status(kFailedRun);
    Log(kFailedRun, 0);
    return;
  }
  remoteCatalogue_.Clear();
  seams_.view.FileProgress(0);
  seams_.view.RunProgress(0);
  Log(FormatText("正在连接：%s", DisplayText(server->name).c_str()), 0);
  bytesDone_ = 0;
  QueueText(KindManifest, server->url + "/" + kManifestName, server->name, kManifestMaxBytes,
            &UpdateRun::ManifestArrived);
}

void UpdateRun::ManifestArrived(const CInetFile& manifest, uint32_t code) {
  const std::string server = DisplayText(manifest.serverName);
  if (code != TransferOk) {
    Log(FormatText("%s：%s", manifest.GetErrorText().c_str(), server.c_str()), code);
    ServerFailed();
    return;
  }
  Log(FormatText("获取更新文件列表成功：%s", server.c_str()), 0);
  // Unreadable, it stays empty, which no catalogue loads and no signature covers.
  if (!seams_.disk.Read(manifest.localPath, manifestText_)) {
    manifestText_.clear();
  }
  signatureText_.clear();
  if (!settings_.pubkey.empty()) {
    FetchSignature(manifest);
    return;
  }
  FileCatalogue local(settings_.moduleDirectory);
  store_.LoadLocalManifest(local);
  Plan(manifest.serverName, local);
}

void UpdateRun::FetchSignature(const CInetFile& manifest) {
  QueueText(KindSignature, manifest.url + kSignatureSuffix, manifest.serverName, kSignatureMaxBytes,
            &UpdateRun::SignatureArrived);
}

void UpdateRun::SignatureArrived(const CInetFile& signature, uint32_t code) {
  std::string text;
  const bool fetched = code == TransferOk && seams_.disk.Read(signature.localPath, text);
  const std::string server = DisplayText(signature.serverName);
  // Missing, malformed, made with another key or for other bytes, or without a timestamp: the
  // manifest cannot be told from a forged one.
  MinisignPublicKey key;
  VerifiedSignature verified;
  if (!fetched || !ParseMinisignPublicKey(settings_.pubkey, key) ||
      VerifyMinisignSignature(key, manifestText_, text, verified) != SignatureCheck::kValid) {
    Log(FormatText("更新文件列表签名无效, 请选择其他服务器进行尝试：%s", server.c_str()), code);
    ServerFailed();
    return;
  }
  FileCatalogue local(settings_.moduleDirectory);
  store_.LoadLocalManifest(local);
  const char* refusal = SignatureRefusal(verified.timestamp, store_.Floor(local));
  if (refusal != nullptr) {
    Log(FormatText(refusal, server.c_str()), 0);
    ServerFailed();
    return;
  }
  signatureText_ = std::move(text);
  Plan(signature.serverName, local);
}

const char* UpdateRun::SignatureRefusal(int64_t timestamp, int64_t floor) const {
  // A release signed before the one installed is a replay, however valid its signature; the
  // same release again is fine.
  if (timestamp < floor) {
    return "更新文件列表早于当前版本, 请选择其他服务器进行尝试：%s";
  }
  // Otherwise a mirror could hold its clients on an old release for ever.
  if (settings_.maxAgeDays > 0 &&
      timestamp < secondsClock_() - settings_.maxAgeDays * kSecondsPerDay) {
    return "更新文件列表已过期, 请选择其他服务器进行尝试：%s";
  }
  return nullptr;
}

void UpdateRun::Plan(const std::string& serverName, FileCatalogue& local) {
  if (!remoteCatalogue_.LoadText(manifestText_)) {
    seams_.view.ShowMessage("装载远程版本信息失败!");
    ServerFailed();
    return;
  }
  const uint32_t fileCount = remoteCatalogue_.MarkChanged(local);
  totalBytes_ = remoteCatalogue_.TotalLength();
  if (fileCount == 0) {
    Log("你当前的版本是最新的", 0);
    if (!store_.SaveAcceptedSignature(signatureText_)) {
      Log("保存下载进度遇到异常!", 0);
    }
    FinishRun();
    return;
  }
  Log(FormatText("需更新文件总数: %u, 文件总长度: %llu KB", fileCount,
                 static_cast<unsigned long long>(totalBytes_ / 1024)),
      0);
  QueueFiles(serverName);
}

void UpdateRun::QueueFiles(const std::string& serverName) {
  // The choice has been disabled since the manifest was asked for: this is its server.
  const ServerEntry* server = SelectedServer();
  while (std::unique_ptr<CatalogueEntry> entry = remoteCatalogue_.TakeNext()) {
    if (server == nullptr) {
      continue;
    }
    auto job =
        std::make_unique<FileJob>(std::move(*entry), server->url, serverName,
                                  !settings_.pubkey.empty(), seams_.notifyWindow, seams_.starter);
    FileJob* file = job.get();
    job->OnArrival([this, file](uint32_t code) { FileArrived(*file, code); });
    ++filesLeft_;
    Queue(std::move(job));
  }
}

void UpdateRun::FileArrived(FileJob& job, uint32_t code) {
  --filesLeft_;
  const std::string name = DisplayText(job.entry().name);
  if (code != TransferOk) {
    fileFailed_ = true;
    Log(FormatText("下载文件失败 [%s], 错误代码 [%u]", name.c_str(), code), code);
  } else {
    CrashPoint();  // crash tests: the download is whole, nothing is in place yet
    arrived_.push_back(job.entry());
    Status(FormatText("下载文件成功 [%s]", name.c_str()));
  }
  if (filesLeft_ == 0) {
    FilesDone();
  }
}

void UpdateRun::FilesDone() {
  CommitJournal journal;
  journal.files.swap(arrived_);
  // A failed run puts nothing in place: what arrived stays verified under its ".update" name, and
  // the next run takes it without fetching it again.
  if (fileFailed_) {
    Status(kFailedRun);
    Log(kFailedRun, 0);
    return;
  }
  journal.manifestText = manifestText_;
  journal.signatureText = signatureText_;
  std::vector<CommitFailure> failures;
  const CommitResult result = store_.Commit(std::move(journal), failures);
  if (result == CommitResult::kNotStarted || !failures.empty()) {
    ReportCommitFailures(failures);
    Status(kFailedRun);
    Log(kFailedRun, 0);
    return;
  }
  Status("更新完毕");
  Log("更新完毕", 0);
  if (result == CommitResult::kDone) {
    FinishRun();
  } else {
    Log("保存下载进度遇到异常!", 0);  // every file is in place; the next start saves the rest
  }
}

void UpdateRun::ReportCommitFailures(const std::vector<CommitFailure>& failures) {
  for (const CommitFailure& failure : failures) {
    const char* format = failure.result == InstallResult::kDeleteFailed ? "删除文件失败 [%s]"
                                                                        : "重命名文件失败 [%s]";
    Log(FormatText(format, DisplayText(failure.name).c_str()), 0);
  }
  if (failures.empty()) {
    Log("保存下载进度遇到异常!", 0);
  }
}

void UpdateRun::ServerFailed() {
  size_t next = 0;
  if (!standIns_.Next(next)) {
    return;  // the run ends; the user may choose again
  }
  selected_ = next;
  ShowServers();  // the server now fetched from is the one shown chosen
  StartManifestFetch();
}

void UpdateRun::FinishRun() {
  // Whatever was counted on the way, a finished run is whole.
  seams_.view.RunProgress(static_cast<int>(kWholeRun));
  if (totalBytes_ > 0) {
    seams_.view.ChunksArrived(0, static_cast<int64_t>(kWholeRun));
  }
  seams_.view.Finished();
  finished_ = true;
  if (!settings_.exec.empty()) {
    seams_.launcher.Launch(store_.PathOf(settings_.exec), settings_.param);
  }
}

void UpdateRun::Drained() {
  EnableChoice(true);
}

void UpdateRun::HeadStarted(ScheduledTask& head, bool justStarted) {
  // Every task the run queues is a transfer job.
  const CInetFile& transfer = static_cast<const TransferJob&>(head).transfer();
  if (transfer.kind != KindFile) {
    return;
  }
  Status(FormatText("正在更新文件：%s", DisplayText(transfer.displayName).c_str()));
  // The file bar follows the head once it has been started, not one running behind it.
  if (!justStarted && transfer.expectedSize > 0) {
    seams_.view.FileProgress(
        BarPosition(Percent(transfer.bytesReceived.load(), transfer.expectedSize)));
  }
}

void UpdateRun::ChunksArrived(const CInetFile& transfer, uint32_t wParam, size_t copies,
                              bool behindHead) {
  if (copies == 0) {
    return;
  }
  if (transfer.expectedSize > 0 && !behindHead) {
    seams_.view.FileProgress(
        BarPosition(Percent(transfer.bytesReceived.load(), transfer.expectedSize)));
  }
  // The tip is the run's percentage while files arrive; every byte of them counts.
  int64_t runPercent = -1;
  if (static_cast<int>(HighWord(wParam)) == KindFile) {
    bytesDone_ += static_cast<uint64_t>(LowWord(wParam)) * copies;
    if (totalBytes_ > 0) {
      // A continued file fetched whole once more after all counts twice: never past the whole.
      const uint64_t percent = std::min(Percent(bytesDone_, totalBytes_), kWholeRun);
      seams_.view.RunProgress(BarPosition(percent));
      runPercent = static_cast<int64_t>(percent);
    }
  }
  seams_.view.ChunksArrived(copies, runPercent);
}

void UpdateRun::QueueText(int kind, const std::string& url, const std::string& serverName,
                          uint64_t maxBytes, TextStep step) {
  auto transfer = std::make_unique<CInetFile>();
  transfer->kind = kind;
  transfer->notifyWindow = &seams_.notifyWindow;
  transfer->url = url;
  transfer->serverName = serverName;
  transfer->localPath = seams_.disk.MakeTempFile();
  transfer->terms.maxBytes = maxBytes;
  transfer->terms.deadlineSeconds = kTextFetchDeadlineSeconds;
  const CInetFile* text = transfer.get();
  auto job = std::make_unique<TransferJob>(std::move(transfer), seams_.starter);
  job->OwnTemporaryFile(seams_.disk);
  job->OnArrival([this, text, step](uint32_t code) { (this->*step)(*text, code); });
  Queue(std::move(job));
}

void UpdateRun::Queue(std::unique_ptr<ScheduledTask> job) {
  EnableChoice(false);
  scheduler_.Queue(std::move(job));
}

const ServerEntry* UpdateRun::SelectedServer() const {
  return selected_ < servers_.Size() ? &servers_.At(selected_) : nullptr;
}

void UpdateRun::Log(const std::string& text, uint32_t code) {
  const std::tm now = clock_();
  seams_.view.LogLine(FormatText("%.2u:%.2u:%.2u %s", static_cast<unsigned>(now.tm_hour),
                                 static_cast<unsigned>(now.tm_min),
                                 static_cast<unsigned>(now.tm_sec), text.c_str()),
                      code);
}

void UpdateRun::Status(const std::string& text) {
  seams_.view.StatusChanged(text);
}

void UpdateRun::EnableChoice(bool enable) {
  choiceEnabled_ = enable;
  seams_.view.ChoiceEnabled(enable);
}
