#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "texts/texts.h"
#include "ui/update_settings.h"

class JsonObject;

// The application object: holds the configuration values for the whole process, read once at
// start and never written back. Used on the window's thread.
class UpdateApp {
 public:
  static constexpr int kDefaultConnections = 5;
  static constexpr int kMinConnections = 1;
  static constexpr int kMaxConnections = 16;
  // maxage beyond this many days (over two million years) is read as this many.
  static constexpr int64_t kMaxAgeDaysLimit = 1000000000;

  // How start-up treats the application's folder: a run tidies it, a check only reads.
  enum class StartUpMode { kRun, kCheck };

  // Reads the configuration file at path. False when it cannot be opened or read; every value then
  // keeps its default, and a note that stops the run says why.
  bool ReadConfiguration(const std::string& path);
  // Takes the values from the configuration text. Whatever members the reader completed before a
  // failure count, the rest get their defaults; where and why it stopped is noted. A text that
  // asks for signatures, expiry or roots which the reader did not read as asked sets
  // configurationProblem; one without a usable serverlist stops the run too. Unknown keys and an
  // unknown language are noted.
  void ApplyConfiguration(const std::string& text);
  // Notes an exec that names nothing beside the executable and starts or ends with a blank (one
  // after ":" is part of the value): no stop, the run goes on.
  void CheckExec(const std::string& moduleDirectory);

  // Removes what a run killed while it saved its records left in the application's folder. The
  // downloads (".update" files) stay: the next run overwrites them.
  static void TidyApplicationFolder(const std::string& moduleDirectory);

  // Completes the commit a run killed halfway left in the application's folder, if any.
  static void CompleteCommit(const std::string& moduleDirectory);

  // Start-up beside the executable: completes a commit left halfway (a run only), reads the
  // configuration, chooses the process's language, makes cacert's roots the ones https is
  // verified against, tidies the application's folder (a run only) and gives the values as the
  // update run takes them. Before any transfer.
  UpdateSettings StartUp(StartUpMode mode = StartUpMode::kRun);

  // The values as the update run takes them, with the application's directory.
  UpdateSettings Settings(const std::string& moduleDirectory) const;

  std::string serverlist;  // URL of the server list; empty ends the program at once
  bool automatic = false;  // the key "auto": on only when its value reads as the integer 1
  std::string exec;        // launched after a finished run, relative to the executable's directory
  std::string param;       // its parameters
  bool failover = false;   // automatic mode tries the list's next server when one fails
  // PEM file of the roots https servers are verified against instead of the system's; relative to
  // the executable's directory unless absolute. Empty: the system's roots.
  std::string cacert;
  std::string pubkey;  // the base64 line of the publisher's minisign key; empty: unsigned
  unsigned connections = kDefaultConnections;  // transfers in flight at once
  int64_t maxAgeDays = 0;  // signatures older than this many days are refused; 0: no expiry
  // Why nothing may be installed, for the user; empty when the configuration is sound.
  std::string configurationProblem;
  // The language texts are shown in: "language" zh (the default), en, or auto (the user's).
  Language language = Language::kChinese;
  std::string languageSetting;  // "language" as written, blanks around it dropped; "" without
  // What the configuration gets wrong, a line each in its language; with configurationStops
  // nothing may run.
  std::vector<std::string> configurationNotes;
  bool configurationStops = false;
  bool configurationRead = false;  // the file was read

 private:
  // The problem with what the text says about pubkey and maxage, or "".
  std::string SignatureProblem(const std::string& text, const JsonObject& document);
  // Takes language and languageSetting from the document; false for a value it does not know.
  bool ReadLanguage(const JsonObject& document);
  void Note(const std::string& text, bool stops);
  // The text of id in the configuration's language.
  const char* Says(TextId id) const { return Text(id, language); }
};
