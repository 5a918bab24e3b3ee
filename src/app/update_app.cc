#include "app/update_app.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "app/configured_roots.h"
#include "base/install_names.h"
#include "catalogue/minisign.h"
#include "catalogue/whole_number.h"
#include "json/json_value.h"
#include "platform/file_system.h"
#include "platform/module_directory.h"
#include "ui/disk_interface.h"
#include "ui/installation_store.h"

namespace {

// Short enough for the window's log list and status line.
const char kPubkeyUnread[] = "未能读出 Lodestar.cfg 中的 pubkey, 不进行更新";
const char kPubkeyInvalid[] = "Lodestar.cfg 中的 pubkey 不是有效的公钥, 不进行更新";
const char kMaxAgeInvalid[] = "Lodestar.cfg 中的 maxage 不是 1 以上的整数, 不进行更新";
const char kCacertUnread[] = "未能读出 Lodestar.cfg 中的 cacert, 不进行更新";

std::string TextOrEmpty(const std::string* text) {
  return text != nullptr ? *text : std::string();
}

// The text as the reader could spell a key out of it: quotes and backslashes dropped, letters in
// lower case. A key the file names is found in it however it was quoted or escaped.
std::string KeySpellings(const std::string& text) {
  std::string folded;
  folded.reserve(text.size());
  for (char c : text) {
    if (c != '"' && c != '\'' && c != '\\') {
      folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return folded;
}

// maxage's days: a whole number, 1 or more, blanks around it allowed; beyond the limit it reads as
// the limit. False for anything else.
bool ReadMaxAgeDays(const std::string& text, int64_t& days) {
  std::string_view digits = text;
  while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) {
    digits.remove_prefix(1);
  }
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) {
    digits.remove_suffix(1);
  }
  while (digits.size() > 1 && digits.front() == '0') {
    digits.remove_prefix(1);
  }
  int64_t value = 0;
  if (digits.size() > 18 && digits.find_first_not_of("0123456789") == std::string_view::npos) {
    value = UpdateApp::kMaxAgeDaysLimit;
  } else if (!ReadWholeNumber(digits, value) || value < 1) {
    return false;
  }
  days = std::min(value, UpdateApp::kMaxAgeDaysLimit);
  return true;
}

}  // namespace

bool UpdateApp::ReadConfiguration(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    return false;  // a read error (a directory, say) is no configuration at all
  }
  ApplyConfiguration(text);
  return true;
}

void UpdateApp::ApplyConfiguration(const std::string& text) {
  JsonObject document;
  document.parse(text, false);
  serverlist = TextOrEmpty(document.getString("serverlist"));
  int mode = 0;
  document.getInt("auto", mode);
  automatic = mode == 1;
  exec = TextOrEmpty(document.getString("exec"));
  param = TextOrEmpty(document.getString("param"));
  int standIn = 0;
  document.getInt("failover", standIn);
  failover = standIn == 1;
  cacert = TextOrEmpty(document.getString("cacert"));
  pubkey = TextOrEmpty(document.getString("pubkey"));
  int wanted = kDefaultConnections;
  document.getInt("connections", wanted);
  // Out of range is taken as the nearest value that is in range.
  connections = static_cast<unsigned>(std::clamp(wanted, kMinConnections, kMaxConnections));
  maxAgeDays = 0;
  configurationProblem = SignatureProblem(text, document);
  // Roots lost that way would quietly widen the trust to the system's.
  if (configurationProblem.empty() && cacert.empty() &&
      KeySpellings(text).find("cacert") != std::string::npos) {
    configurationProblem = kCacertUnread;
  }
}

std::string UpdateApp::SignatureProblem(const std::string& text, const JsonObject& document) {
  // A file that names a key the reader did not read as asked (an unquoted ":" before it stops the
  // reader) must not leave the installation unprotected without a word. A false alarm only asks
  // the user to fix the file.
  const std::string spelled = KeySpellings(text);
  MinisignPublicKey key;
  if (spelled.find("pubkey") != std::string::npos && !ParseMinisignPublicKey(pubkey, key)) {
    return pubkey.empty() ? kPubkeyUnread : kPubkeyInvalid;
  }
  const std::string* age = document.getString("maxage");
  if (spelled.find("maxage") != std::string::npos &&
      (age == nullptr || !ReadMaxAgeDays(*age, maxAgeDays))) {
    return kMaxAgeInvalid;
  }
  return std::string();
}

void UpdateApp::TidyApplicationFolder(const std::string& moduleDirectory) {
  for (const char* record :
       {kManifestName, kProgressRecordName, kSignatureName, kCommitJournalName}) {
    RemoveReplacementLeftovers(moduleDirectory + "/" + record);
  }
}

void UpdateApp::CompleteCommit(const std::string& moduleDirectory) {
  std::vector<CommitFailure> failures;
  InstallationStore(moduleDirectory, RealDisk()).FinishCommit(failures);
}

UpdateSettings UpdateApp::StartUp() {
  const std::string directory = ModuleDirectory();
  // Before anything looks at the application: a run killed while it put its files in place left
  // a mix that only its journal can finish. One that cannot be finished stays; the run tells why.
  CompleteCommit(directory);
  ReadConfiguration(directory + "/" + kConfigurationName);
  if (configurationProblem.empty()) {
    configurationProblem = UseConfiguredRoots(cacert, directory);
  }
  TidyApplicationFolder(directory);
  return Settings(directory);
}

UpdateSettings UpdateApp::Settings(const std::string& moduleDirectory) const {
  UpdateSettings settings;
  settings.serverlist = serverlist;
  settings.automatic = automatic;
  settings.failover = failover;
  settings.exec = exec;
  settings.param = param;
  settings.pubkey = pubkey;
  settings.connections = connections;
  settings.maxAgeDays = maxAgeDays;
  settings.configurationProblem = configurationProblem;
  settings.moduleDirectory = moduleDirectory;
  return settings;
}
