#include "app/check_command.h"

#include <chrono>
#include <string>
#include <vector>

#include "app/configured_roots.h"
#include "base/install_names.h"
#include "catalogue/minisign.h"
#include "platform/file_system.h"
#include "platform/launch.h"
#include "texts/texts.h"
#include "transfer/messages.h"
#include "ui/format_text.h"
#include "ui/update_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

// The run's log lines and messages as lines of the check's report; the rest a window would show
// means nothing here. Main thread.
class CheckView : public UpdateView {
 public:
  explicit CheckView(const std::function<void(const std::string&)>& print) : print_(print) {}

  void Started(unsigned) override {}
  void ServersListed(const std::vector<std::string>&, size_t) override {}
  void ChoiceEnabled(bool) override {}
  void LogLine(const std::string& line, uint32_t) override { print_(line); }
  void LogCleared() override {}
  void StatusChanged(const std::string&) override {}
  void FileProgress(int) override {}
  void RunProgress(int) override {}
  void ChunksArrived(size_t, int64_t) override {}
  void ShowMessage(const std::string& text) override { print_(text); }
  void Finished() override { ended_ = true; }

  bool Ended() const { return ended_; }

 private:
  const std::function<void(const std::string&)>& print_;
  bool ended_ = false;
};

// What Lodestar.cfg was understood to say, a line per key.
void ReportConfiguration(const UpdateApp& app, const UpdateSettings& settings,
                         const std::function<void(const std::string&)>& print) {
  // The folder keeps its separator: the file's path as the user would write it.
  print(FormatText(Text(TextId::kCheckConfigFile),
                   (settings.moduleDirectory + kConfigurationName).c_str()));
  if (!app.configurationRead) {
    return;  // a note says why
  }
  print(FormatText(Text(TextId::kCheckServerlist), app.serverlist.c_str()));
  print(Text(app.automatic ? TextId::kCheckAutoOn : TextId::kCheckAutoOff));
  if (app.exec.empty()) {
    print(Text(TextId::kCheckExecNone));
  } else {
    const bool found = PathTaken(settings.moduleDirectory + "/" + app.exec);
    print(FormatText(Text(found ? TextId::kCheckExec : TextId::kCheckExecMissing),
                     ("\"" + app.exec + "\"").c_str()));
  }
  if (!app.param.empty()) {
    // The words as the program will get them.
    std::string words;
    for (const std::string& word : SplitShellWords(app.param)) {
      words += (words.empty() ? "[" : " [") + word + "]";
    }
    print(FormatText(Text(TextId::kCheckParam), words.c_str()));
  }
  MinisignPublicKey key;
  if (ParseMinisignPublicKey(app.pubkey, key)) {
    print(FormatText(Text(TextId::kCheckPubkey), MinisignKeyIdText(key.keyId).c_str()));
  } else if (app.pubkey.empty()) {
    print(Text(TextId::kCheckPubkeyNone));
  }
  if (app.maxAgeDays > 0) {
    print(FormatText(Text(TextId::kCheckMaxAge), static_cast<long long>(app.maxAgeDays)));
  } else {
    print(Text(TextId::kCheckMaxAgeNone));
  }
  if (app.cacert.empty()) {
    print(Text(TextId::kCheckCacertNone));
  } else {
    print(FormatText(Text(TextId::kCheckCacert),
                     ConfiguredRootsPath(app.cacert, settings.moduleDirectory).c_str()));
  }
  print(Text(app.failover ? TextId::kCheckFailoverOn : TextId::kCheckFailoverOff));
  print(FormatText(Text(TextId::kCheckConnections), app.connections));
  const std::string chosen = app.language == Language::kEnglish ? "en" : "zh";
  print(FormatText(Text(TextId::kCheckLanguage),
                   (app.languageSetting == "auto" ? "auto: " + chosen : chosen).c_str()));
}

}  // namespace

int RunCheck(const UpdateApp& app, const UpdateSettings& settings,
             const std::function<void(const std::string& line)>& print) {
  ReportConfiguration(app, settings, print);
  for (const std::string& note : settings.configurationNotes) {
    print(note);
  }
  if (settings.configurationStops) {
    print(Text(TextId::kCheckStopped));
    return 1;
  }
  UpdateSettings checked = settings;
  checked.checkOnly = true;
  CheckView view(print);
  // Declared before the dialog: workers still post while the dialog's destruction joins them.
  MessageQueue queue;
  int status = 1;
  {
    // Nothing is launched by a check; the launcher is there because a run has one.
    UpdateDialog dialog(view, queue, checked, SystemLauncher());
    if (dialog.OnInitDialog()) {
      const std::chrono::milliseconds period(UpdateDialog::kTimerPeriodMs);
      Clock::time_point nextTick = Clock::now() + period;
      while (!view.Ended()) {
        if (Clock::now() >= nextTick) {
          dialog.OnTimer(UpdateDialog::kTimerId);
          nextTick = Clock::now() + period;
        }
        if (queue.Wait(std::chrono::milliseconds(20))) {
          queue.Deliver(
              [&](const PostedMessage& message, size_t copies) {
                dialog.Dispatch(message, copies);
                return !view.Ended();
              },
              MessageQueue::kDeliverySlice);
        }
      }
    }
    dialog.OnClose();
    queue.Close();
    status = dialog.ExitStatus();
  }
  return status;
}
