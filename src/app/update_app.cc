#include "app/update_app.h"

#include <algorithm>

#include "catalogue/record_names.h"
#include "json/json_value.h"
#include "platform/file_system.h"
#include "platform/module_directory.h"

namespace {

std::string TextOrEmpty(const std::string* text) {
  return text != nullptr ? *text : std::string();
}

}  // namespace

bool UpdateApp::ReadConfiguration(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    return false;  // a read error (a directory, say) is no configuration at all
  }
  ApplyConfiguration(text);
  return true;
}

void UpdateApp::ApplyConfiguration(const std::string& text) {
  JsonObject document;
  document.parse(text, false);
  serverlist = TextOrEmpty(document.getString("serverlist"));
  int mode = 0;
  document.getInt("auto", mode);
  automatic = mode == 1;
  exec = TextOrEmpty(document.getString("exec"));
  param = TextOrEmpty(document.getString("param"));
  pubkey = TextOrEmpty(document.getString("pubkey"));
  int wanted = kDefaultConnections;
  document.getInt("connections", wanted);
  // Out of range is taken as the nearest value that is in range.
  connections = static_cast<unsigned>(std::clamp(wanted, kMinConnections, kMaxConnections));
}

void UpdateApp::TidyApplicationFolder(const std::string& moduleDirectory) {
  for (const char* record : {kManifestName, kProgressRecordName, kSignatureName}) {
    RemoveReplacementLeftovers(moduleDirectory + "/" + record);
  }
}

UpdateSettings UpdateApp::StartUp() {
  const std::string directory = ModuleDirectory();
  ReadConfiguration(directory + kConfigurationName);
  TidyApplicationFolder(directory);
  return Settings(directory);
}

UpdateSettings UpdateApp::Settings(const std::string& moduleDirectory) const {
  UpdateSettings settings;
  settings.serverlist = serverlist;
  settings.automatic = automatic;
  settings.exec = exec;
  settings.param = param;
  settings.pubkey = pubkey;
  settings.connections = connections;
  settings.moduleDirectory = moduleDirectory;
  return settings;
}
