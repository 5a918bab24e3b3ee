#include "app/update_app.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "app/configured_roots.h"
#include "base/install_names.h"
#include "base/utf8.h"
#include "catalogue/minisign.h"
#include "catalogue/whole_number.h"
#include "json/json_value.h"
#include "platform/file_system.h"
#include "platform/module_directory.h"
#include "platform/user_language.h"
#include "ui/disk_interface.h"
#include "ui/format_text.h"
#include "ui/installation_store.h"

namespace {

// The keys Lodestar.cfg may hold; any other is a misspelling or a leftover.
constexpr std::string_view kKnownKeys[] = {"serverlist", "auto",    "exec",        "param",
                                           "pubkey",     "maxage",  "connections", "language",
                                           "cacert",     "failover"};

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// Why the reader stopped at text[at]: the byte tells, or that the text ended.
TextId ReaderStop(const std::string& text, size_t at) {
  if (at >= text.size()) {
    return TextId::kReaderEndsOpen;
  }
  switch (text[at]) {
    case ':':
      return TextId::kReaderColonInValue;
    case '{':
    case '[':
      return TextId::kReaderBracketForKey;
    case '}':
    case ']':
      return TextId::kReaderClosingBracket;
    default:
      return TextId::kReaderAfterBracket;  // a quote or a backslash
  }
}

// path as the user would write it: a separator doubled by joining a folder and a name is shown
// once (a leading pair, a network path's, stays).
std::string ShownPath(const std::string& path) {
  std::string shown;
  for (size_t i = 0; i < path.size(); ++i) {
    const bool separator = path[i] == '/' || path[i] == '\\';
    if (separator && i > 1 && (path[i - 1] == '/' || path[i - 1] == '\\')) {
      continue;
    }
    shown += path[i];
  }
  return shown;
}

// Where text[at] stands as an editor shows it: its line and its column in characters, from 1.
void EditorPosition(const std::string& text, size_t at, int& line, int& column) {
  line = 1;
  column = 1;
  for (size_t i = 0; i < at && i < text.size();) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
      ++i;
      continue;
    }
    i += ReadUtf8Char(text, i).length;
    ++column;
  }
}

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
  std::string reason;
  switch (ReadWholeFile(path, text, reason)) {
    case ReadResult::kRead:
      configurationRead = true;
      ApplyConfiguration(text);
      return true;
    case ReadResult::kMissing:
      Note(FormatText(Says(TextId::kConfigMissing), ShownPath(path).c_str()), true);
      return false;
    case ReadResult::kFailed:
      // A read error (a directory, say) is no configuration at all.
      Note(FormatText(Says(TextId::kConfigUnreadable), ShownPath(path).c_str(), reason.c_str()),
           true);
      return false;
  }
  return false;
}

void UpdateApp::ApplyConfiguration(const std::string& text) {
  JsonObject document;
  size_t stoppedAt = 0;
  const bool whole = document.parse(text, false, nullptr, nullptr, &stoppedAt);
  configurationNotes.clear();
  configurationStops = false;
  // Every note is in the language the file asks for.
  const bool languageKnown = ReadLanguage(document);
  if (text.empty()) {
    Note(Says(TextId::kReaderEmpty), false);
  } else if (!whole) {
    int line = 0;
    int column = 0;
    EditorPosition(text, stoppedAt, line, column);
    Note(FormatText(Says(TextId::kConfigReaderStopped), line, column,
                    Says(ReaderStop(text, stoppedAt))),
         false);
  }
  for (const auto& member : document.memberMap()) {
    const std::string& key = member.first;
    // A "," after the last member leaves an empty key behind, which is no mistake.
    if (!key.empty() &&
        std::find(std::begin(kKnownKeys), std::end(kKnownKeys), key) == std::end(kKnownKeys)) {
      Note(FormatText(Says(TextId::kConfigUnknownKey), key.c_str()), false);
    }
  }
  if (!languageKnown) {
    Note(FormatText(Says(TextId::kConfigLanguageUnknown), languageSetting.c_str()), false);
  }
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
    configurationProblem = Says(TextId::kCacertUnread);
  }
  if (!configurationProblem.empty()) {
    Note(configurationProblem, true);
  }
  if (TrimBlanks(serverlist).empty()) {
    Note(Says(TextId::kConfigNoServerlist), true);
  }
}

bool UpdateApp::ReadLanguage(const JsonObject& document) {
  const std::string* setting = document.getString("language");
  languageSetting = setting != nullptr ? std::string(TrimBlanks(*setting)) : std::string();
  if (languageSetting == "en") {
    language = Language::kEnglish;
  } else if (languageSetting == "auto") {
    language = LanguageOfLocale(UserLanguage());
  } else {
    language = Language::kChinese;
    return languageSetting.empty() || languageSetting == "zh";
  }
  return true;
}

void UpdateApp::CheckExec(const std::string& moduleDirectory) {
  // A first run may well bring exec with it, so only a name that cannot be meant is noted now; a
  // launch that fails is reported when it happens.
  if (exec.empty() || TrimBlanks(exec) == exec || PathTaken(moduleDirectory + "/" + exec)) {
    return;
  }
  Note(FormatText(Says(TextId::kConfigExecBlank), exec.c_str()), false);
}

void UpdateApp::Note(const std::string& text, bool stops) {
  configurationNotes.push_back(text);
  configurationStops = configurationStops || stops;
}

std::string UpdateApp::SignatureProblem(const std::string& text, const JsonObject& document) {
  // A file that names a key the reader did not read as asked (an unquoted ":" before it stops the
  // reader) must not leave the installation unprotected without a word. A false alarm only asks
  // the user to fix the file.
  const std::string spelled = KeySpellings(text);
  MinisignPublicKey key;
  if (spelled.find("pubkey") != std::string::npos && !ParseMinisignPublicKey(pubkey, key)) {
    return Says(pubkey.empty() ? TextId::kPubkeyUnread : TextId::kPubkeyInvalid);
  }
  const std::string* age = document.getString("maxage");
  if (spelled.find("maxage") != std::string::npos &&
      (age == nullptr || !ReadMaxAgeDays(*age, maxAgeDays))) {
    return Says(TextId::kMaxAgeInvalid);
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

UpdateSettings UpdateApp::StartUp(StartUpMode mode) {
  const std::string directory = ModuleDirectory();
  // Before anything looks at the application: a run killed while it put its files in place left
  // a mix that only its journal can finish. One that cannot be finished stays; the run tells why.
  // A check only looks.
  if (mode == StartUpMode::kRun) {
    CompleteCommit(directory);
  }
  ReadConfiguration(directory + "/" + kConfigurationName);
  CheckExec(directory);
  SetLanguage(language);
  // In the language just chosen: the problem is told in it.
  if (configurationProblem.empty()) {
    configurationProblem = UseConfiguredRoots(cacert, directory);
    if (!configurationProblem.empty()) {
      Note(configurationProblem, true);
    }
  }
  if (mode == StartUpMode::kRun) {
    TidyApplicationFolder(directory);
  }
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
  settings.configurationNotes = configurationNotes;
  settings.configurationStops = configurationStops;
  settings.moduleDirectory = moduleDirectory;
  return settings;
}
