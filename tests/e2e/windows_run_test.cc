// The real Lodestar.exe, in its window and in automatic mode, against a loopback server: what
// lands on disk, the exit status and the launch of exec with param.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "support/loopback_http_server.h"
#include "support/manifest_text.h"
#include "support/served_release.h"
#include "support/temp_dir.h"

namespace {

// Records its parameters beside itself, as the application started after a run would see them.
constexpr char kStartScript[] =
    "@echo %*> \"%~dp0launched.tmp\"\r\n"
    "@move /y \"%~dp0launched.tmp\" \"%~dp0launched.txt\" >nul\r\n";

std::wstring Wide(const std::string& text) {
  return std::filesystem::u8path(text).wstring();
}

class WindowsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "the window needs a display (scripts/test runs this pass on Xvfb)";
    }
    // The build tree's path is a Unix one; Wine shows the Unix root as drive Z:.
    std::filesystem::copy_file(std::string("Z:") + LODESTAR_EXE,
                               std::filesystem::u8path(app_.File("Lodestar.exe")));
  }

  // Publishes a release under /<name>, leaving out the files in skip; returns its manifest.
  std::string Publish(const std::string& name, const std::string& skip = "") {
    std::map<std::string, std::string> files = {{"start.bat", kStartScript},
                                                {"data/readme.txt", "read me\n"},
                                                {"data/deep/core.bin", std::string(3000, 'c')}};
    files.erase(skip);
    std::string manifest =
        ManifestText({{"/start.bat", static_cast<int64_t>(std::strlen(kStartScript)), 1, true},
                      {"data/readme.txt", 8, 1},
                      {"data/deep/core.bin", 3000, 4}});
    ServeRelease(server_, "/" + name, work_.File(name), files, manifest);
    return manifest;
  }

  void Configure(const std::string& release) {
    server_.SetBody("/servers.txt", "Main|" + server_.Url("/" + release) + "\n");
    WriteFileBytes(app_.File("Lodestar.cfg"),
                   "\"serverlist\":\"" + server_.Url("/servers.txt") +
                       "\",\n\"auto\":1,\n\"exec\":\"start.bat\",\n\"param\":\"--from updater\"\n");
  }

  // Runs the program to its end (at most a minute); its exit status, or -1 when it hung. Once
  // closeWhen() holds, the window is closed as the user would with its close box.
  int Run(const std::function<bool()>& closeWhen = nullptr) {
    std::wstring command = L"\"" + Wide(app_.File("Lodestar.exe")) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      ADD_FAILURE() << "cannot start Lodestar.exe: " << GetLastError();
      return -1;
    }
    DWORD status = static_cast<DWORD>(-1);
    DWORD waited = 0;
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT && (waited += 100) < 60000) {
      HWND window = FindWindowW(nullptr, L"Varnholm自动更新客户端");
      if (closeWhen && window != nullptr && closeWhen()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
      }
    }
    if (waited < 60000) {
      GetExitCodeProcess(process.hProcess, &status);
    } else {
      ADD_FAILURE() << "Lodestar.exe hangs";
      TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
  }

  TempDir work_;
  TempDir app_;
  LoopbackHttpServer server_;
};

TEST_F(WindowsRun, AutomaticRunInstallsSavesTheManifestAndLaunchesExecWithParam) {
  std::string manifest = Publish("r1");
  Configure("r1");

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(ReadFileBytes(app_.File("data/readme.txt")), "read me\n");
  EXPECT_EQ(ReadFileBytes(app_.File("data/deep/core.bin")), std::string(3000, 'c'));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), manifest);
  ASSERT_TRUE(WaitForFile(app_.File("launched.txt")));
  EXPECT_EQ(ReadFileBytes(app_.File("launched.txt")), "--from updater\r\n");
}

TEST_F(WindowsRun, FailedFileKeepsTheOldManifestExitsOneAndLaunchesNothing) {
  Publish("broken", "data/readme.txt");
  Configure("broken");
  WriteFileBytes(app_.File("version.txt"), "\"paths\":[]\n");

  // A failed run leaves the window open for another try; the user closes it.
  EXPECT_EQ(Run([this] { return server_.Requests().size() >= 5; }), 1);
  EXPECT_FALSE(FileExists(app_.File("data/readme.txt")));
  EXPECT_EQ(ReadFileBytes(app_.File("version.txt")), "\"paths\":[]\n");
  EXPECT_FALSE(FileExists(app_.File("launched.txt")));
}

}  // namespace
