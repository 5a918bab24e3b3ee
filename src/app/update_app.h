#pragma once

#include <cstdint>
#include <string>

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

  // Reads the configuration file at path. False when it cannot be opened or read; every value then
  // keeps its default.
  bool ReadConfiguration(const std::string& path);
  // Takes the values from the configuration text. The reader's verdict is not looked at: whatever
  // members it completed before a failure count, the rest get their defaults. A text that asks for
  // signatures or expiry which the reader did not read as asked sets configurationProblem.
  void ApplyConfiguration(const std::string& text);

  // Removes what a run killed while it saved its records left in the application's folder. The
  // downloads (".update" files) stay: the next run overwrites them.
  static void TidyApplicationFolder(const std::string& moduleDirectory);

  // Completes the commit a run killed halfway left in the application's folder, if any.
  static void CompleteCommit(const std::string& moduleDirectory);

  // Start-up beside the executable: completes a commit left halfway, reads the configuration,
  // makes cacert's roots the ones https is verified against, tidies the application's folder and
  // gives the values as the update run takes them. After InitializeTransfers.
  UpdateSettings StartUp();

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

 private:
  // The problem with what the text says about pubkey and maxage, or "".
  std::string SignatureProblem(const std::string& text, const JsonObject& document);
};
