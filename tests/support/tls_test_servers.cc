#include "support/tls_test_servers.h"

#include <sstream>

TlsTestServers::TlsTestServers() {
  failure_ = RunScript("start");
  if (!failure_.empty()) {
    return;
  }
  std::istringstream ready(ReadFileBytes(dir_.File("ready")));
  std::string name;
  unsigned port = 0;
  while (ready >> name >> port) {
    ports_[name] = static_cast<uint16_t>(port);
  }
  if (ports_.size() != 7) {
    failure_ = "tls-test-servers wrote no ports";
  }
}

TlsTestServers::~TlsTestServers() {
  RunScript("stop");
}

uint16_t TlsTestServers::Port(const std::string& name) const {
  auto found = ports_.find(name);
  return found == ports_.end() ? 0 : found->second;
}

std::string TlsTestServers::Url(const std::string& name, const std::string& path) const {
  return "https://localhost:" + std::to_string(Port(name)) + path;
}

void TlsTestServers::Serve(const std::string& path, const std::string& data) const {
  WriteTestFile(dir_.File("www/" + path), data);
}

std::string TlsTestServers::ProxyLog() const {
  return ReadFileBytes(dir_.File("squid-access.log"));
}
