#include "publish/client_config.h"

#include "json/json_value.h"

namespace {

// Appends `key:"value"` on a line of its own when value is not empty; the document library quotes
// as its reader, the client's, unquotes.
void AddMember(std::string& text, const char* key, const std::string& value) {
  if (value.empty()) {
    return;
  }
  text += (text.empty() ? "" : ",\n") + std::string(key) + ":";
  JsonString(value).write(text, false, 0);
}

}  // namespace

std::string ClientConfigText(const ClientConfig& config) {
  std::string text;
  AddMember(text, "serverlist", config.serverList);
  if (config.automatic) {
    text += std::string(text.empty() ? "" : ",\n") + "auto:1";
  }
  AddMember(text, "exec", config.exec);
  AddMember(text, "param", config.param);
  AddMember(text, "pubkey", config.publicKey);
  AddMember(text, "language", config.language);
  AddMember(text, "cacert", config.caCert);
  if (config.failover) {
    text += std::string(text.empty() ? "" : ",\n") + "failover:1";
  }
  return text + "\n";
}
