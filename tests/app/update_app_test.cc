#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/configured_roots.h"
#include "app/update_app.h"
#include "base/install_names.h"
#include "platform/module_directory.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"

namespace {

// A fresh directory for one test's configuration file, removed afterwards.
class UpdateAppConfig : public ::testing::Test {
 protected:
  // Writes text as the configuration and reads it into a fresh application object.
  UpdateApp Read(const std::string& text) {
    const std::string path = directory_ + "/" + kConfigurationName;
    WriteFileBytes(path, text);
    UpdateApp app;
    EXPECT_TRUE(app.ReadConfiguration(path));
    return app;
  }

  TempDir dir_;
  const std::string directory_ = dir_.path();
};

TEST_F(UpdateAppConfig, MissingOrUnreadableFileKeepsDefaults) {
  UpdateApp app;
  EXPECT_FALSE(app.ReadConfiguration(directory_ + "/none.cfg"));
  std::filesystem::create_directory(directory_ + "/" + kConfigurationName);
  EXPECT_FALSE(app.ReadConfiguration(directory_ + "/" + kConfigurationName));
  const UpdateSettings settings = app.Settings("/opt/app/");
  EXPECT_EQ(settings.serverlist, "");
  EXPECT_FALSE(settings.automatic);
  EXPECT_EQ(settings.exec, "");
  EXPECT_EQ(settings.param, "");
  EXPECT_EQ(settings.moduleDirectory, "/opt/app/");
  // Each says where, and stops the run.
  ASSERT_EQ(settings.configurationNotes.size(), 2u);
  EXPECT_EQ(settings.configurationNotes[0],
            "找不到 Lodestar.cfg：" + directory_ + "/none.cfg, 不进行更新");
  EXPECT_EQ(settings.configurationNotes[1].rfind(
                "无法读取 Lodestar.cfg：" + directory_ + "/" + kConfigurationName + " (", 0),
            0u)
      << settings.configurationNotes[1];
  EXPECT_TRUE(settings.configurationStops);
}

// What the reader could not take, or what the program does not know, is said with where and why;
// a file without a usable serverlist stops the run, the rest only warns.
TEST_F(UpdateAppConfig, NotesSayWhatIsWrongAndWhere) {
  const struct {
    std::string text;
    std::vector<std::string> notes;
    bool stops;
  } cases[] = {
      {"serverlist:\"http://h/l\",\nauto:1,\n", {}, false},
      {"", {"Lodestar.cfg 是空的", "Lodestar.cfg 中没有可用的 serverlist"}, true},
      {"serverlsit:\"http://h/l\"",
       {"Lodestar.cfg 中的 serverlsit 不是可识别的设置", "Lodestar.cfg 中没有可用的 serverlist"},
       true},
      {"{serverlist:\"http://h/l\"}",
       {"Lodestar.cfg 第 1 行第 1 列：应为键名处出现了括号",
        "Lodestar.cfg 中没有可用的 serverlist"},
       true},
      {"auto:1,\n测试:1,serverlist:http://h/l",
       {"Lodestar.cfg 第 2 行第 21 列：值中含有未加引号的 \":\"",
        "Lodestar.cfg 中的 测试 不是可识别的设置", "Lodestar.cfg 中没有可用的 serverlist"},
       true},
      {"serverlist:\"http://h/l\",param:\"a", {"Lodestar.cfg 第 1 行第 33 列：文本在引号"}, false},
      {"serverlist: ", {"Lodestar.cfg 中没有可用的 serverlist"}, true},
      {"serverlist:\"x\",language:de", {"Lodestar.cfg 中的 language 应为 zh、en 或 auto"}, false},
      {"language:en,serverlist:\"x\",Exec:a",
       {"Lodestar.cfg: Exec is not a key Lodestar knows, ignored"},
       false},
  };
  for (const auto& c : cases) {
    const UpdateSettings settings = Read(c.text).Settings("/opt/app/");
    ASSERT_EQ(settings.configurationNotes.size(), c.notes.size()) << c.text;
    for (size_t i = 0; i < c.notes.size(); ++i) {
      EXPECT_EQ(settings.configurationNotes[i].rfind(c.notes[i], 0), 0u)
          << c.text << "\n"
          << settings.configurationNotes[i];
    }
    EXPECT_EQ(settings.configurationStops, c.stops) << c.text;
  }
}

// "exec: start.sh" names " start.sh": said at once, since that cannot be meant; a plain name that
// is missing may come with the update.
TEST_F(UpdateAppConfig, ExecWithABlankThatNamesNothingIsNoted) {
  WriteFileBytes(directory_ + "/start.sh", "");
  const std::pair<const char*, bool> cases[] = {
      {"exec: start.sh", true}, {"exec:start.sh", false}, {"exec:later.sh", false}};
  for (const auto& [text, noted] : cases) {
    UpdateApp app = Read(std::string("serverlist:\"x\",") + text);
    app.CheckExec(directory_ + "/");
    EXPECT_EQ(app.configurationNotes.size(), noted ? 1u : 0u) << text;
    EXPECT_FALSE(app.configurationStops) << text;
  }
}

TEST_F(UpdateAppConfig, LanguageIsChineseUnlessAskedOtherwise) {
  ScopedEnvironment environment;
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
    environment.Set(name, nullptr);
  }
  const struct {
    const char* text;
    const char* locale;
    Language language;
  } cases[] = {
      {"exec:x", "en_US.UTF-8", Language::kChinese},
      {"language:zh", "en_US.UTF-8", Language::kChinese},
      {"language:en", "zh_CN.UTF-8", Language::kEnglish},
      {"language: en ", "zh_CN.UTF-8", Language::kEnglish},
      {"language:auto", "zh_CN.UTF-8", Language::kChinese},
      {"language:auto", "en_US.UTF-8", Language::kEnglish},
      {"language:auto", "C", Language::kEnglish},
      {"language:fr", "en_US.UTF-8", Language::kChinese},
  };
  for (const auto& c : cases) {
    if (!kUserLanguageFromEnvironment && std::string(c.text) == "language:auto") {
      continue;  // the interface language of the test's session decides
    }
    environment.Set("LANG", c.locale);
    EXPECT_EQ(Read(c.text).language, c.language) << c.text << " " << c.locale;
  }
}

TEST_F(UpdateAppConfig, ReadsTheFourValues) {
  const UpdateApp app = Read(
      "serverlist:\"http://127.0.0.1:8080/list.txt\",\r\nauto:1,\r\nexec:app/Main.exe,\r\n"
      "param:'-a \"b "
      "c\"',\r\npubkey:\"RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3\",\r\n"
      "failover:1,cacert:\"certs/ca.pem\"");
  const UpdateSettings settings = app.Settings("/opt/app/");
  EXPECT_EQ(settings.serverlist, "http://127.0.0.1:8080/list.txt");
  EXPECT_TRUE(settings.automatic);
  EXPECT_EQ(settings.exec, "app/Main.exe");
  EXPECT_EQ(settings.param, "-a \"b c\"");
  EXPECT_EQ(settings.pubkey, "RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3");
  EXPECT_TRUE(settings.failover);
  EXPECT_EQ(app.cacert, "certs/ca.pem");
  EXPECT_FALSE(Read("failover:2").failover);
}

TEST(ConfiguredRoots, RelativeToTheApplicationsFolderUnlessAbsolute) {
  const std::pair<const char*, const char*> paths[] = {
      {"certs/ca.pem", "/opt/app/certs/ca.pem"},
      {"/etc/ca.pem", "/etc/ca.pem"},
      {"C:\\ca.pem", "C:\\ca.pem"},
      {"\\\\host\\ca.pem", "\\\\host\\ca.pem"},
      {"C:ca.pem", "/opt/app/C:ca.pem"},
  };
  for (const auto& [cacert, path] : paths) {
    EXPECT_EQ(ConfiguredRootsPath(cacert, "/opt/app/"), path) << cacert;
  }
  EXPECT_EQ(ConfiguredRootsPath("ca.pem", "/opt/app"), "/opt/app/ca.pem");
  EXPECT_EQ(UseConfiguredRoots("", "/nowhere/"), "") << "the system's roots";
}

TEST_F(UpdateAppConfig, AutoIsOnOnlyForTheIntegerOne) {
  const std::pair<const char*, bool> forms[] = {
      {"auto:1", true},  {"auto: 1", true},   {"auto:\"\t01x\"", true}, {"auto:2", false},
      {"auto:0", false}, {"auto:yes", false}, {"auto:", false},         {"auto:{x:1}", false},
      {"exec:x", false}, {"AUTO:1", false},   {"auto:-1", false},       {"auto:4294967297", false},
  };
  for (const auto& [text, on] : forms) {
    EXPECT_EQ(Read(text).automatic, on) << text;
  }
}

TEST_F(UpdateAppConfig, ConnectionsAreOneToSixteenDefaultFive) {
  const std::pair<const char*, unsigned> forms[] = {
      {"exec:x", 5},        {"connections:1", 1},  {"connections:16", 16}, {"connections:8", 8},
      {"connections:0", 1}, {"connections:-3", 1}, {"connections:17", 16}, {"connections:x", 1},
  };
  for (const auto& [text, connections] : forms) {
    EXPECT_EQ(Read(text).Settings("/opt/app/").connections, connections) << text;
  }
}

TEST_F(UpdateAppConfig, CompletedMembersCountWhenTheTextBreaksLater) {
  // The unquoted URL stops the reader at its ':'; what came before it still counts.
  const UpdateApp app = Read("auto:1,exec:run.sh,serverlist:http://host/list.txt,param:p");
  EXPECT_TRUE(app.automatic);
  EXPECT_EQ(app.exec, "run.sh");
  EXPECT_EQ(app.serverlist, "");
  EXPECT_EQ(app.param, "");

  const UpdateApp blanks = Read("serverlist: \"x\" ,exec:[a:1]");
  EXPECT_EQ(blanks.serverlist, " x ") << "blanks after ':' belong to the value";
  EXPECT_EQ(blanks.exec, "") << "a container is no text";
}

// A file that names pubkey, maxage or cacert and does not give them as asked forbids any update.
TEST_F(UpdateAppConfig, SignatureKeysMustBeReadAsAsked) {
  const std::string key = "\"RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3\"";
  const std::string unread = "未能读出 Lodestar.cfg 中的 pubkey",
                    maxage = "Lodestar.cfg 中的 maxage";
  const std::string invalid = "Lodestar.cfg 中的 pubkey 不是";
  const struct {
    std::string text, problem;
    int64_t days;
  } cases[] = {
      {"pubkey:" + key + ",maxage:30", "", 30},
      {"pubkey:" + key + ",maxage:\" 007\t\"", "", 7},
      {"maxage:'000099999999999999999999'", "", UpdateApp::kMaxAgeDaysLimit},
      {"exec:x", "", 0},
      {"serverlist:'http://h/l',param:a:b,pubkey:" + key, unread, 0},
      {"PubKey:" + key, unread, 0},
      {"'pub'\\key:x:y", unread, 0},
      {"pubkey:RWQf6LRCGA9i53ml", invalid, 0},
      {"pubkey:" + key + "x", invalid, 0},
      {"param:a:b,maxage:3", maxage, 0},
      {"maxage:0", maxage, 0},
      {"maxage:1.5", maxage, 0},
      {"maxage:{}", maxage, 0},
      {"cacert:\"ca.pem\"", "", 0},
      {"param:a:b,cacert:ca.pem", "未能读出 Lodestar.cfg 中的 cacert", 0},
      {"cacert:''", "未能读出 Lodestar.cfg 中的 cacert", 0},
  };
  for (const auto& c : cases) {
    const UpdateSettings settings = Read(c.text).Settings("/opt/app/");
    EXPECT_EQ(settings.configurationProblem.substr(0, c.problem.size()), c.problem) << c.text;
    EXPECT_EQ(settings.configurationProblem.empty(), c.problem.empty()) << c.text;
    EXPECT_EQ(settings.maxAgeDays, c.days) << c.text;
  }
}

TEST(ModuleDirectory, CutsAfterTheLastSeparator) {
  EXPECT_EQ(DirectoryOfPath("/opt/app/Lodestar"), "/opt/app/");
  EXPECT_EQ(DirectoryOfPath("C:\\App\\Lodestar.exe"), "C:\\App\\");
  EXPECT_EQ(DirectoryOfPath("/a\\b/c"), "/a\\b/");
  EXPECT_EQ(DirectoryOfPath("/Lodestar"), "/");
  EXPECT_EQ(DirectoryOfPath("Lodestar"), "Lodestar");

  const std::string here = ModuleDirectory();
  ASSERT_FALSE(here.empty());
  EXPECT_TRUE(here.back() == '/' || here.back() == '\\') << here;
  EXPECT_TRUE(std::filesystem::exists(here + "/app_tests") ||
              std::filesystem::exists(here + "/app_tests.exe"))
      << here;
}

}  // namespace
