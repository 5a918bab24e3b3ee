#include "terminal_run.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "support/manifest_text.h"
#include "support/served_release.h"

const char kFailedRun[] = "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。";

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool HasTimeStamp(const std::string& line) {
  if (line.size() < 9) {
    return false;
  }
  for (int i : {0, 1, 3, 4, 6, 7}) {
    if (line[i] < '0' || line[i] > '9') {
      return false;
    }
  }
  return line[2] == ':' && line[5] == ':' && line[8] == ' ';
}

}  // namespace

void TerminalRun::SetUp() {
  program_ = app_.File("Lodestar");
  std::filesystem::copy_file(LODESTAR_BINARY, program_);
  ::chmod(program_.c_str(), 0755);
  tmp_ = work_.File("tmp");
  ::mkdir(tmp_.c_str(), 0700);
}

std::string TerminalRun::Publish(const std::string& name, const std::vector<std::string>& skip) {
  std::map<std::string, std::string> files = {{"start.sh", kStartScript},
                                              {"data/readme.txt", "read me\n"},
                                              {"data/deep/core.bin", std::string(3000, 'c')}};
  for (const std::string& relative : skip) {
    files.erase(relative);
  }
  std::string manifest =
      ManifestText({{"/start.sh", static_cast<int64_t>(std::strlen(kStartScript)), 1, true},
                    {"data/readme.txt", 8, 1},
                    {"data/deep/core.bin", 3000, 4}},
                   "\"head\":{\"date\":\"2024-05-01 10:00:00\"}");
  ServeRelease(server_, "/" + name, work_.File(name), files, manifest);
  return manifest;
}

void TerminalRun::Configure(bool automatic, const std::string& extra) {
  WriteFileBytes(app_.File("Lodestar.cfg"),
                 "\"serverlist\":\"" + server_.Url("/servers.txt") +
                     "\",\n\"auto\":" + (automatic ? "1" : "0") +
                     ",\n\"exec\":\"start.sh\",\n\"param\":\"--from 'the updater'\"" + extra +
                     "\n");
}

RunResult TerminalRun::Run(const std::string& input, std::chrono::seconds limit,
                           const std::function<void(pid_t)>& whileRunning) {
  ChildOptions options;
  // The language comes from Lodestar.cfg, and from LANG (in extraEnvironment_) alone when that
  // says "auto".
  options.unset = {"DISPLAY", "WAYLAND_DISPLAY", "TMPDIR", "LANGUAGE", "LC_ALL", "LC_MESSAGES"};
  options.extra = extraEnvironment_;
  options.extra.push_back("TMPDIR=" + tmp_);
  options.input = input;
  options.limit = limit;
  options.fileSizeLimit = fileSizeLimit_;
  options.whileRunning = whileRunning;
  RunResult result;
  std::vector<std::string> argv = {program_};
  argv.insert(argv.end(), arguments_.begin(), arguments_.end());
  static_cast<ChildResult&>(result) = RunChild(argv, options);
  EXPECT_FALSE(result.timedOut) << "the program hangs";
  if (!arguments_.empty()) {
    return result;  // not a run: no log
  }
  for (const std::string& line : Lines(result.out)) {
    EXPECT_TRUE(HasTimeStamp(line)) << line;
    result.log.push_back(line.size() > 9 ? line.substr(9) : line);
  }
  return result;
}

std::string TerminalRun::WaitForLaunch() {
  WaitForFile(app_.File("launched.txt"));
  return ReadFileBytes(app_.File("launched.txt"));
}

size_t TerminalRun::FileRequests() const {
  size_t count = 0;
  for (const auto& request : server_.Requests()) {
    count +=
        request.path.find("/version.txt") == std::string::npos && request.path != "/servers.txt";
  }
  return count;
}
