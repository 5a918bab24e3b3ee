#include <string>

#include "app/update_app.h"
#include "catalogue/minisign.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "json/json_value.h"

int FuzzConfiguration(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  UpdateApp app;
  app.ApplyConfiguration(text);
  const UpdateSettings settings = app.Settings("/opt/app/");
  FUZZ_CHECK(settings.moduleDirectory == "/opt/app/");

  // Reading is a function of the text alone: a second parse of the text, by the same reused
  // reader, gives the same values (so one that completes nothing leaves every default).
  JsonObject document;
  document.parse(text, false);
  const auto textOf = [&document](const char* key) {
    const std::string* value = document.getString(key);
    return value != nullptr ? *value : std::string();
  };
  int mode = 0;
  document.getInt("auto", mode);
  FUZZ_CHECK(app.serverlist == textOf("serverlist") && app.exec == textOf("exec") &&
             app.param == textOf("param") && app.automatic == (mode == 1));

  // A configuration taken as sound never holds a key that cannot check signatures, nor an age
  // out of range.
  MinisignPublicKey key;
  FUZZ_CHECK(!settings.configurationProblem.empty() || settings.pubkey.empty() ||
             ParseMinisignPublicKey(settings.pubkey, key));
  FUZZ_CHECK(settings.maxAgeDays >= 0 && settings.maxAgeDays <= UpdateApp::kMaxAgeDaysLimit);
  return 0;
}
