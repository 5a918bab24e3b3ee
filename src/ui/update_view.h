#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the update run tells a front end, in the run's own words: the front end decides how a
// toolkit shows it (a sorted combo box, a numbered list, bars, a tray icon). Each front end
// implements it; tests record it. Window's thread only.
class UpdateView {
 public:
  // The timer by which the front end drives the run (Listener::OnTimer).
  static constexpr unsigned kTimerId = 1000;

  // What the user did, and the front end's heartbeat. The run implements it; the front end calls
  // it on the window's thread.
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void OnTimer(unsigned id) = 0;
    // The user chose the server at index of the list as ServersListed gave it.
    virtual void OnServerChosen(size_t index) = 0;
    // "立即更新".
    virtual void OnUpdateNow() = 0;
    // The window closes: nothing more reaches the run, whose transfers are told to stop.
    virtual void OnClose() = 0;
  };

  virtual ~UpdateView() = default;

  // The run has begun: the front end calls OnTimer(kTimerId) every periodMs from now on, and
  // shows its tray icon where it has one.
  virtual void Started(unsigned periodMs) = 0;
  // The servers to choose from, in the server list's order, and the index of the one chosen for
  // now. Names are readable text.
  virtual void ServersListed(const std::vector<std::string>& names, size_t selected) = 0;
  // Whether the user may choose a server and press "立即更新".
  virtual void ChoiceEnabled(bool enabled) = 0;
  // A time-stamped line for the log, with the result code it reports (0 for none).
  virtual void LogLine(const std::string& line, uint32_t code) = 0;
  virtual void LogCleared() = 0;
  virtual void StatusChanged(const std::string& text) = 0;
  // The current file's and the whole run's progress in percent; above 100 shows full.
  virtual void FileProgress(int percent) = 0;
  virtual void RunProgress(int percent) = 0;
  // copies chunks of data arrived, one after the other (the tray icon animates by them);
  // runPercent is the run's percentage while files arrive, -1 while anything else does.
  virtual void ChunksArrived(size_t copies, int64_t runPercent) = 0;
  // A message the user must acknowledge; returns once it was.
  virtual void ShowMessage(const std::string& text) = 0;
  // The run is finished: the window closes once the current message has been handled.
  virtual void Finished() = 0;
};
