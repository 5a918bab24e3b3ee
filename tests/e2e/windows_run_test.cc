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
  // closeWhen() holds, the window is closed as the user would with its close box. With output,
  // the program's standard output is a file whose content lands there.
  int Run(const std::function<bool()>& closeWhen = nullptr, const std::wstring& arguments = L"",
          std::string* output = nullptr) {
    std::wstring command = L"\"" + Wide(app_.File("Lodestar.exe")) + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE out = INVALID_HANDLE_VALUE;
    const std::string outPath = work_.File("stdout.txt");
    if (output != nullptr) {
      SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
      out = CreateFileW(Wide(outPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                        CREATE_ALWAYS, 0, nullptr);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = out;
      startup.hStdError = out;
    }
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr,
                                        output != nullptr, 0, nullptr, nullptr, &startup, &process);
    if (out != INVALID_HANDLE_VALUE) {
      CloseHandle(out);
    }
    if (!started) {
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
    if (output != nullptr) {
      *output = ReadFileBytes(outPath);
    }
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

// --check writes its report to the standard output it is given, in UTF-8, changing nothing.
TEST_F(WindowsRun, CheckReportsOnItsStandardOutputAndChangesNothing) {
  Publish("r1");
  Configure("r1");
  std::string report;
  EXPECT_EQ(Run(nullptr, L" --check", &report), 0) << report;
  EXPECT_NE(report.find("Main：可以更新, 将下载 3 个文件"), std::string::npos) << report;
  EXPECT_NE(report.find("自动选择的服务器是 Main：可以更新\r\n"), std::string::npos) << report;
  EXPECT_FALSE(FileExists(app_.File("version.txt")));
  EXPECT_FALSE(FileExists(app_.File("data")));
}

}  // namespace
