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
#include "texts/texts.h"
#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"
#include "ui/disk_interface.h"
#include "ui/display_text.h"
#include "ui/failure_detail.h"
#include "ui/file_job.h"
#include "ui/format_text.h"
#include "ui/installation_store.h"
#include "ui/server_list_parser.h"
#include "ui/transfer_job.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
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
      remoteCatalogue_(settings.moduleDirectory, settings.checkOnly) {}

RunCatalogue::RunCatalogue(std::string moduleDirectory, bool keepOffDisk)
    : FileCatalogue(std::move(moduleDirectory)), keepOffDisk_(keepOffDisk) {}

void RunCatalogue::CreateDirectories(const std::string& key) {
  if (!keepOffDisk_) {
    FileCatalogue::CreateDirectories(key);
  }
}

// The window opens. A configuration that stops the run is shown in a message box instead of
// fetching anything; one that forbids signed updates keeps the window open for the user to read
// it. What only warns is logged, and the run goes on. A check has reported the configuration
// itself.
bool UpdateRun::Open() {
  if (settings_.configurationStops && !settings_.checkOnly) {
    std::string notes;
    for (const std::string& note : settings_.configurationNotes) {
      notes += notes.empty() ? note : "\n" + note;
    }
    seams_.view.ShowMessage(notes);
    if (settings_.configurationProblem.empty()) {
      return false;  // nothing to run: the front end ends at once
    }
  }
  if (!settings_.configurationProblem.empty()) {
    // The file asks for signatures (or their expiry) that cannot be had as asked: nothing is
    // fetched, installed or launched, and the user reads why until closing the window.
    halted_ = true;
    EnableChoice(false);
    Log(settings_.configurationProblem, 0);
    // What loses a value most often: an unquoted ":" stops the reader there.
    Log(Text(TextId::kQuoteHint), 0);
    Status(settings_.configurationProblem);
    return true;
  }
  if (!settings_.checkOnly) {
    for (const std::string& note : settings_.configurationNotes) {
      Log(note, 0);
    }
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
  Log(Text(TextId::kListConnecting), 0);
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
    Log(Text(TextId::kListFailed), 0);
    Log(code != TransferOk ? TransferDetail(list, code) : UnusableListDetail(list.url), 0);
    if (settings_.checkOnly) {
      Log(Text(TextId::kCheckNoServer), 0);
      seams_.view.Finished();
    }
    return;
  }
  Log(FormatText(Text(TextId::kListReceived), taken), code);
  ListServers();
  if (settings_.checkOnly) {
    selected_ = 0;  // every server in the list's order; the last is the one a run would use
    StartManifestFetch();
  } else if (settings_.automatic) {
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
    Status(Text(TextId::kUpdateFinishedWithErrors));
    Log(Text(TextId::kUpdateFinishedWithErrors), 0);
    return;
  }
  remoteCatalogue_.Clear();
  seams_.view.FileProgress(0);
  seams_.view.RunProgress(0);
  Log(FormatText(Text(TextId::kServerConnecting), DisplayText(server->name).c_str()), 0);
  bytesDone_ = 0;
  QueueText(KindManifest, server->url + "/" + kManifestName, server->name, kManifestMaxBytes,
            &UpdateRun::ManifestArrived);
}

void UpdateRun::ManifestArrived(const CInetFile& manifest, uint32_t code) {
  const std::string server = DisplayText(manifest.serverName);
  if (code != TransferOk) {
    Log(FormatText(Text(TextId::kManifestFailed), manifest.GetErrorText().c_str(), server.c_str()),
        code);
    Log(TransferDetail(manifest, code), 0);
    ServerChecked(false);
    return;
  }
  Log(FormatText(Text(TextId::kManifestReceived), server.c_str()), 0);
  // Unreadable, it stays empty, which no catalogue loads and no signature covers.
  if (!seams_.disk.Read(manifest.localPath, manifestText_)) {
    manifestText_.clear();
  }
  signatureText_.clear();
  if (!settings_.pubkey.empty()) {
    FetchSignature(manifest);
    return;
  }
  RunCatalogue local(settings_.moduleDirectory, settings_.checkOnly);
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
  SignatureCheck check = SignatureCheck::kMalformed;
  if (!fetched || !ParseMinisignPublicKey(settings_.pubkey, key) ||
      (check = VerifyMinisignSignature(key, manifestText_, text, verified)) !=
          SignatureCheck::kValid) {
    Log(FormatText(Text(TextId::kSignatureInvalid), server.c_str()), code);
    Log(SignatureDetail(signature, code, check, key, text), 0);
    ServerChecked(false);
    return;
  }
  RunCatalogue local(settings_.moduleDirectory, settings_.checkOnly);
  store_.LoadLocalManifest(local);
  const int64_t floor = store_.Floor(local);
  const char* refusal = SignatureRefusal(verified.timestamp, floor);
  if (refusal != nullptr) {
    Log(FormatText(refusal, server.c_str()), 0);
    Log(verified.timestamp < floor ? OlderDetail(verified.timestamp, floor)
                                   : ExpiredDetail(verified.timestamp, settings_.maxAgeDays),
        0);
    ServerChecked(false);
    return;
  }
  signatureText_ = std::move(text);
  Plan(signature.serverName, local);
}

const char* UpdateRun::SignatureRefusal(int64_t timestamp, int64_t floor) const {
  // A release signed before the one installed is a replay, however valid its signature; the
  // same release again is fine.
  if (timestamp < floor) {
    return Text(TextId::kManifestOlder);
  }
  // Otherwise a mirror could hold its clients on an old release for ever.
  if (settings_.maxAgeDays > 0 &&
      timestamp < secondsClock_() - settings_.maxAgeDays * kSecondsPerDay) {
    return Text(TextId::kManifestExpired);
  }
  return nullptr;
}

void UpdateRun::Plan(const std::string& serverName, FileCatalogue& local) {
  if (!remoteCatalogue_.LoadText(manifestText_)) {
    seams_.view.ShowMessage(Text(TextId::kManifestUnloadable));
    if (const ServerEntry* server = SelectedServer()) {
      Log(UnloadableManifestDetail(server->url + "/" + kManifestName), 0);
    }
    ServerChecked(false);
    return;
  }
  const uint32_t fileCount = remoteCatalogue_.MarkChanged(local);
  totalBytes_ = remoteCatalogue_.TotalLength();
  if (settings_.checkOnly) {
    // What a run would do, and nothing of it.
    const std::string server = DisplayText(serverName);
    Log(fileCount == 0 ? FormatText(Text(TextId::kCheckServerUpToDate), server.c_str())
                       : FormatText(Text(TextId::kCheckServerWouldFetch), server.c_str(), fileCount,
                                    static_cast<unsigned long long>(totalBytes_)),
        0);
    remoteCatalogue_.Clear();
    ServerChecked(true);
    return;
  }
  if (fileCount == 0) {
    Log(Text(TextId::kUpToDate), 0);
    if (!store_.SaveAcceptedSignature(signatureText_)) {
      Log(Text(TextId::kSaveFailed), 0);
    }
    FinishRun();
    return;
  }
  Log(FormatText(Text(TextId::kFilesToUpdate), fileCount,
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
    Log(FormatText(Text(TextId::kFileFailed), name.c_str(), code), code);
    Log(TransferDetail(job.transfer(), code), 0);
  } else {
    CrashPoint();  // crash tests: the download is whole, nothing is in place yet
    arrived_.push_back(job.entry());
    Status(FormatText(Text(TextId::kFileDownloaded), name.c_str()));
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
    Status(Text(TextId::kUpdateFinishedWithErrors));
    Log(Text(TextId::kUpdateFinishedWithErrors), 0);
    return;
  }
  journal.manifestText = manifestText_;
  journal.signatureText = signatureText_;
  std::vector<CommitFailure> failures;
  const CommitResult result = store_.Commit(std::move(journal), failures);
  if (result == CommitResult::kNotStarted || !failures.empty()) {
    ReportCommitFailures(failures);
    Status(Text(TextId::kUpdateFinishedWithErrors));
    Log(Text(TextId::kUpdateFinishedWithErrors), 0);
    return;
  }
  Status(Text(TextId::kUpdateFinished));
  Log(Text(TextId::kUpdateFinished), 0);
  if (result == CommitResult::kDone) {
    FinishRun();
  } else {
    Log(Text(TextId::kSaveFailed), 0);  // every file is in place; the next start saves the rest
  }
}

void UpdateRun::ReportCommitFailures(const std::vector<CommitFailure>& failures) {
  for (const CommitFailure& failure : failures) {
    const char* format =
        Text(failure.result == InstallResult::kDeleteFailed ? TextId::kDeleteFailed
                                                            : TextId::kRenameFailed);
    Log(FormatText(format, DisplayText(failure.name).c_str()), 0);
  }
  if (failures.empty()) {
    Log(Text(TextId::kSaveFailed), 0);
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
    const std::string program = store_.PathOf(settings_.exec);
    std::string failure;
    if (!seams_.launcher.Launch(program, settings_.param, failure)) {
      launchFailed_ = true;
      Log(FormatText(Text(TextId::kLaunchFailed), DisplayText(program).c_str(), failure.c_str()),
          0);
    }
  }
}

void UpdateRun::ServerChecked(bool works) {
  if (!settings_.checkOnly) {
    if (!works) {
      ServerFailed();
    }
    return;
  }
  const ServerEntry* server = SelectedServer();
  if (server == nullptr) {
    return;
  }
  const std::string name = DisplayText(server->name);
  if (!works) {
    Log(FormatText(Text(TextId::kCheckServerFails), name.c_str()), 0);
  }
  if (selected_ + 1 < servers_.Size()) {
    ++selected_;
    StartManifestFetch();
    return;
  }
  Log(FormatText(Text(works ? TextId::kCheckWouldWork : TextId::kCheckWouldFail), name.c_str()), 0);
  finished_ = works;
  seams_.view.Finished();
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
  Status(FormatText(Text(TextId::kUpdatingFile), DisplayText(transfer.displayName).c_str()));
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
  if (settings_.checkOnly) {
    seams_.view.LogLine(text, code);  // a report, whose lines need no time
    return;
  }
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
