#include <string>

#include "app/update_app.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "json/json_value.h"

int FuzzConfiguration(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  UpdateApp app;
  app.ApplyConfiguration(text);
  const UpdateSettings settings = app.Settings("/opt/app/");
  FUZZ_CHECK(settings.moduleDirectory == "/opt/app/");

  // Reading is a function of the text alone: a second application object over the same text
  // agrees, and a parse that completes nothing leaves every default.
  UpdateApp again;
  again.ApplyConfiguration(text);
  FUZZ_CHECK(again.serverlist == app.serverlist && again.automatic == app.automatic &&
             again.exec == app.exec && again.param == app.param);
  JsonObject document;
  document.parse(text, false);
  if (document.size() == 0) {
    FUZZ_CHECK(app.serverlist.empty() && !app.automatic && app.exec.empty() && app.param.empty());
  }
  return 0;
}
