#include "support/served_release.h"

#include "support/temp_dir.h"

void ServeRelease(LoopbackHttpServer& server, const std::string& urlPrefix, const std::string& root,
                  const std::map<std::string, std::string>& files, const std::string& manifest) {
  for (const auto& [path, content] : files) {
    WriteTestFile(root + "/" + path + ".txt", content);
  }
  WriteTestFile(root + "/version.txt", manifest);
  server.ServeDirectory(urlPrefix, root);
}
