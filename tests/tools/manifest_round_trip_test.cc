#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "catalogue/file_catalogue.h"
#include "json/json_value.h"
#include "platform/crypto.h"
#include "publish/client_config.h"
#include "publish/publisher.h"
#include "support/temp_dir.h"

namespace {

// What a client's catalogue makes of the published manifest must be exactly the release.
TEST(ManifestRoundTrip, ClientsLoadExactlyThePublishedFiles) {
  TempDir scratch;
  const std::map<std::string, std::string> release = {
      {"start.sh", "#!/bin/sh\necho started\n"},
      {"empty.dat", ""},
      {"a:b.txt", "colon"},
      {"one,two", "comma"},
      {"say \"hi\" 'there'", "quotes"},
      {" padded name ", "blanks at either end"},
      {"back`tick{[]}", "brackets"},
      {"plugins/net/\xc3\xbc"
       "ber-\xe7\xbd\x91.dll",
       "non-ASCII"},
      {"plugins/net/deeper:still/x", "nested"},
      {"tab\there", "tab"},
  };
  for (const auto& [path, content] : release) {
    WriteTestFile(scratch.File("app/" + path), content, path == "start.sh" ? 0755 : 0644);
  }
  WriteTestFile(scratch.File("app/Lodestar.cfg"), "serverlist:x");

  PublishOptions options;
  options.appDir = scratch.File("app");
  options.outDir = scratch.File("out");
  Publish(options);

  WriteTestFile(scratch.File("client/Lodestar"), "");
  FileCatalogue catalogue(scratch.File("client/"));
  ASSERT_TRUE(catalogue.Load(scratch.File("out/version.txt")));
  std::map<std::string, std::string> loaded;
  while (std::unique_ptr<CatalogueEntry> entry = catalogue.TakeNext()) {
    // remotePath is "key/name.txt", with a leading "/" at the top.
    std::string path = entry->remotePath.substr(entry->remotePath[0] == '/' ? 1 : 0);
    path.resize(path.size() - 4);
    SCOPED_TRACE(path);
    EXPECT_EQ(entry->version, 1);
    EXPECT_EQ(entry->executable, path == "start.sh");
    ASSERT_EQ(release.count(path), 1u);
    EXPECT_EQ(entry->length, static_cast<int64_t>(release.at(path).size()));
    EXPECT_EQ(ReadFileBytes(scratch.File("out/" + entry->remotePath)), release.at(path));
    Sha256 content;
    content.Update(release.at(path).data(), release.at(path).size());
    EXPECT_EQ(entry->hash, content.HexDigest());
    EXPECT_EQ(entry->localPath.substr(entry->localPath.size() - entry->name.size()), entry->name);
    loaded[path] = release.at(path);
  }
  EXPECT_EQ(loaded, release);
  // Loading creates the folders the manifest names below the client.
  EXPECT_TRUE(FileExists(scratch.File("client/plugins/net/deeper:still")));
}

// Compressed copies and patches add keys that clients before them ignore: the catalogue and its
// comparison make of a manifest with them exactly what they make of it without.
TEST(ManifestRoundTrip, TheKeysOfCompressedCopiesAndPatchesChangeNothingForClients) {
  TempDir scratch;
  PublishOptions options;
  options.appDir = scratch.File("app");
  options.outDir = scratch.File("out");
  const std::string text = "line of text\n";
  std::string big;
  for (int i = 0; i < 2000; ++i) {
    big += text + std::to_string(i);
  }
  WriteTestFile(scratch.File("app/same.txt"), big);
  WriteTestFile(scratch.File("app/lib/grows.txt"), big);
  WriteTestFile(scratch.File("app/run.sh"), big, 0755);
  Publish(options);
  const std::string first = ReadFileBytes(scratch.File("out/version.txt"));
  WriteTestFile(scratch.File("app/lib/grows.txt"), big + "more");
  WriteTestFile(scratch.File("app/run.sh"), "#!/bin/sh\n" + big, 0755);
  Publish(options);
  const std::string served = ReadFileBytes(scratch.File("out/version.txt"));
  ASSERT_THAT(served, ::testing::HasSubstr("\"z\":\""));
  ASSERT_THAT(served, ::testing::HasSubstr("\"p\":[\""));
  ASSERT_THAT(served, ::testing::HasSubstr("\"earlier\":\""));
  std::string plain =
      std::regex_replace(served, std::regex(",\"(p\":\\[[^\\]]*\\]|z\":\"[0-9]+\")"), "");
  plain = std::regex_replace(plain, std::regex(",\"earlier\":\"[0-9a-f]+\""), "");
  ASSERT_NE(plain, served);
  ASSERT_THAT(plain, ::testing::Not(::testing::HasSubstr("\"z\"")));

  auto describe = [&](const std::string& manifest) {
    // The release's folder stands for an installation of it: its files on disk are the new ones.
    FileCatalogue catalogue(scratch.File("app/"));
    FileCatalogue local(scratch.File("app/"));
    EXPECT_TRUE(catalogue.LoadText(manifest));
    EXPECT_TRUE(local.LoadText(first));
    std::string listed;
    for (const CatalogueEntry& e : catalogue.Entries()) {
      listed += e.name + "|" + std::to_string(e.length) + "|" + std::to_string(e.version) + "|" +
                e.localPath + "|" + e.remotePath + "|" + e.hash + "|" +
                std::to_string(e.executable) + "\n";
    }
    listed += "timestamp " + std::to_string(catalogue.HeadTimestamp()) + "\n";
    uint32_t changed = catalogue.MarkChanged(local);
    listed += "changed " + std::to_string(changed) + ", " +
              std::to_string(catalogue.TotalLength()) + " bytes\n";
    for (const CatalogueEntry& e : catalogue.Entries()) {
      listed += e.remotePath + (e.needsDownload ? " fetched\n" : " kept\n");
    }
    return listed;
  };
  EXPECT_EQ(describe(served), describe(plain));
  EXPECT_THAT(describe(served), ::testing::HasSubstr("changed 2"));
}

// The client's reader gives back exactly the values an installation's Lodestar.cfg was written
// with, whatever bytes they hold.
TEST(ManifestRoundTrip, ClientsReadBackTheConfigurationAsGiven) {
  const std::vector<std::string> values = {
      "http://updates.example.com:8000/servers.txt",
      "a \"quoted\" 'word', [x]{y}: z",
      "back\\slash\\",
      " leading and trailing blanks ",
      "two\nlines\r\n",
      "\xe6\x9b\xb4\xe6\x96\xb0",
  };
  for (const std::string& value : values) {
    SCOPED_TRACE(value);
    ClientConfig config{value, value, value, value, true, value, value, true};
    JsonObject document;
    EXPECT_TRUE(document.parse(ClientConfigText(config), false));
    for (const char* key : {"serverlist", "pubkey", "exec", "param", "language", "cacert"}) {
      const std::string* read = document.getString(key);
      ASSERT_NE(read, nullptr) << key;
      EXPECT_EQ(*read, value) << key;
    }
    for (const char* key : {"auto", "failover"}) {
      int on = 0;
      EXPECT_TRUE(document.getInt(key, on)) << key;
      EXPECT_EQ(on, 1) << key;
    }
  }
  EXPECT_EQ(ClientConfigText({"http://h/s.txt", "", "", "", true, "", "", false}),
            "serverlist:\"http://h/s.txt\",\nauto:1\n");
}

}  // namespace
