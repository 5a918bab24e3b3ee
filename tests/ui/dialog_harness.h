#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fake_transfers.h"
#include "faulty_disk.h"
#include "recording_view.h"
#include "support/loopback_http_server.h"
#include "support/manifest_text.h"
#include "support/served_release.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"
#include "transfer/messages.h"
#include "ui/update_dialog.h"

// One file as a server publishes it.
struct PublishedFile {
  PublishedFile(std::string fileKey, std::string fileName, std::string fileContent,
                int fileVersion = 1, std::string fileLength = "", bool fileExecutable = false)
      : key(std::move(fileKey)),
        name(std::move(fileName)),
        content(std::move(fileContent)),
        version(fileVersion),
        length(std::move(fileLength)),
        executable(fileExecutable) {}

  std::string key;  // directory key, "" for the application's directory
  std::string name;
  std::string content;
  int version = 1;
  std::string length;  // "l" when it must differ from the content's size
  bool executable = false;
  std::string hash;  // "h" when not empty
};

// The manifest text listing files, directories in order of first appearance.
inline std::string ManifestText(const std::vector<PublishedFile>& files,
                                const std::string& extraMembers = "") {
  std::vector<ManifestFile> listed;
  for (const PublishedFile& file : files) {
    listed.emplace_back(file.key + "/" + file.name,
                        file.length.empty() ? std::to_string(file.content.size()) : file.length,
                        file.version, file.executable);
    listed.back().hash = file.hash;
  }
  return ManifestText(listed, extraMembers);
}

// An application directory, a loopback server and the dialog between them, pumped by hand: the
// test thread plays the window's thread. With fake_ set before Open, no transfer reaches the
// server: FakeTransfers plays each on the test thread with what the server would answer.
class DialogHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv(kTempFolderVariable);
    hadTmpdir_ = old != nullptr;
    oldTmpdir_ = hadTmpdir_ ? old : "";
    tempFiles_ = work_.File("tmp");
    std::filesystem::create_directory(tempFiles_);
    SetEnvironmentValue(kTempFolderVariable, tempFiles_);
    moduleDirectory_ = app_.path() + "/";
  }

  void TearDown() override {
    dialog_.reset();  // joins a running transfer while the server still answers
    if (hadTmpdir_) {
      SetEnvironmentValue(kTempFolderVariable, oldTmpdir_);
    } else {
      UnsetEnvironmentValue(kTempFolderVariable);
    }
  }

  // Publishes files and their manifest under urlPrefix; returns the manifest text.
  std::string Publish(const std::string& urlPrefix, const std::vector<PublishedFile>& files,
                      const std::string& extraMembers = "") {
    std::string root = work_.File("srv" + std::to_string(++servedDirectories_));
    std::map<std::string, std::string> contents;
    for (const PublishedFile& file : files) {
      contents[file.key.empty() ? file.name : file.key + "/" + file.name] = file.content;
    }
    std::string manifest = ManifestText(files, extraMembers);
    ServeRelease(server_, urlPrefix, root, contents, manifest);
    roots_[urlPrefix] = root;
    return manifest;
  }

  std::string ServedPath(const std::string& urlPrefix, const std::string& relative) {
    return roots_[urlPrefix] + "/" + relative;
  }

  void SetServerList(const std::string& text) {
    server_.SetBody("/servers.txt", text);
    serverList_ = text;
  }

  UpdateSettings Settings() const {
    UpdateSettings settings;
    settings.serverlist = server_.Url("/servers.txt");
    settings.exec = "start.sh";
    settings.param = "--mode 'full run'";
    settings.moduleDirectory = moduleDirectory_;
    return settings;
  }

  // Makes the dialog (fixed clock 01:02:03) and opens it.
  bool Open(const UpdateSettings& settings) {
    fakes_.running.clear();  // those of a dialog that is gone
    TransferStarter& starter = fake_ ? static_cast<TransferStarter&>(fakes_) : RealStarter();
    dialog_ = std::make_unique<UpdateDialog>(view_, queue_, settings, launcher_, starter, disk_);
    FixClock();
    return dialog_->OnInitDialog();
  }

  void FixClock() {
    dialog_->SetSecondsClock([this] { return secondsNow_; });
    dialog_->SetClock([] {
      std::tm fixed{};
      fixed.tm_hour = 1;
      fixed.tm_min = 2;
      fixed.tm_sec = 3;
      return fixed;
    });
  }

  // Plays the window's thread: timer ticks and posted messages until done() holds.
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      dialog_->OnTimer(UpdateDialog::kTimerId);
      if (fake_) {
        if (!fakes_.FinishNext(
                [this](const std::string& url, std::string& body) { return Served(url, body); },
                [this](const PostedMessage& message, size_t copies) {
                  Dispatch(message, copies);
                }) &&
            !done()) {
          return false;  // nothing runs, nothing will change
        }
        continue;
      }
      if (queue_.Wait(std::chrono::milliseconds(2))) {
        queue_.Deliver(
            [this](const PostedMessage& message, size_t copies) {
              Dispatch(message, copies);
              return !view_.ended;
            },
            std::chrono::hours(1));
      }
    }
    return true;
  }

  void Dispatch(const PostedMessage& message, size_t copies) {
    if (beforeDispatch_) {
      beforeDispatch_(message, copies);
    }
    dialog_->Dispatch(message, copies);
  }

  // What the server would answer at url, for FakeTransfers.
  bool Served(const std::string& url, std::string& body) {
    const std::string base = server_.Url("");
    if (url.compare(0, base.size(), base) != 0) {
      return false;  // another host
    }
    const std::string path = url.substr(base.size());
    if (path == "/servers.txt") {
      body = serverList_;
      return true;
    }
    for (const auto& [prefix, root] : roots_) {
      if (path.compare(0, prefix.size() + 1, prefix + "/") == 0) {
        const std::string file = root + path.substr(prefix.size());
        if (!std::filesystem::is_regular_file(file)) {
          return false;
        }
        body = ReadFileBytes(file);
        return true;
      }
    }
    return false;
  }

  // Until the dialog ends or waits for the user.
  bool PumpUntilIdle() {
    return PumpUntil([this] { return view_.ended || dialog_->WaitingForUser(); });
  }

  // Opens the dialog on the server list and presses "立即更新" once it is filled.
  void OpenAndUpdate(const UpdateSettings& settings) {
    ASSERT_TRUE(Open(settings));
    ASSERT_TRUE(PumpUntilIdle());
    ASSERT_FALSE(view_.ended);
    dialog_->OnUpdateNow();
    ASSERT_TRUE(PumpUntilIdle());
  }

  std::string AppFile(const std::string& relative) const { return app_.path() + "/" + relative; }

  // Files left in the temporary directory.
  size_t TempFilesLeft() const {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tempFiles_)) {
      (void)entry;
      ++count;
    }
    return count;
  }

  TempDir work_;
  TempDir app_;
  std::string moduleDirectory_;
  std::string tempFiles_;
  LoopbackHttpServer server_;
  RecordingView view_;
  RecordingLauncher launcher_;
  MessageQueue queue_;
  bool fake_ = false;
  FakeTransfers fakes_;
  FaultyDisk disk_;
  std::unique_ptr<UpdateDialog> dialog_;
  int64_t secondsNow_ = 0;  // the seconds since 1970 that the dialog takes for now
  // Called with each posted message before the dialog handles it.
  std::function<void(const PostedMessage&, size_t copies)> beforeDispatch_;

 private:
  bool hadTmpdir_ = false;
  std::string oldTmpdir_;
  int servedDirectories_ = 0;
  std::string serverList_;
  std::map<std::string, std::string> roots_;
};
