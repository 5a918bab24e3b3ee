#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "support/temp_dir.h"

// nginx serving a folder over TLS and squid as a forward proxy, on 127.0.0.1, with a test CA and
// certificates made afresh by tests/support/tls-test-servers (see there). On Windows they run
// beside Wine, which starts the host's programs. One test's, on its thread; stopped when the
// object goes.
class TlsTestServers {
 public:
  TlsTestServers();
  ~TlsTestServers();
  TlsTestServers(const TlsTestServers&) = delete;
  TlsTestServers& operator=(const TlsTestServers&) = delete;

  // Why the servers are not running; "" when they are.
  const std::string& failure() const { return failure_; }

  // "https://localhost:<port>" + path on the server with the certificate called name: "good"
  // (localhost and 127.0.0.1, from the test CA), "other" (another host name), "expired",
  // "stranger" (from a CA nobody trusts) or "revoked" (in the test CA's list of revoked
  // certificates, which only it names). localhost, for Wine matches no address in a certificate.
  std::string Url(const std::string& name, const std::string& path) const;
  uint16_t Port(const std::string& name) const;
  // The test CA's certificate and the stranger CA's, as PEM files.
  std::string CaFile() const { return dir_.File("ca.pem"); }
  std::string StrangerCaFile() const { return dir_.File("stranger-ca.pem"); }
  // Puts a file to be served at "/" + path.
  void Serve(const std::string& path, const std::string& data) const;
  // What squid has logged so far, a line per request.
  std::string ProxyLog() const;

 private:
  // Runs the script with command ("start" or "stop") and its folder, and waits until it has
  // written "ready" or "failed" (start) or "stopped" (stop) there. "" when it ran, else why not.
  // Per platform.
  std::string RunScript(const std::string& command);

  TempDir dir_;
  void* owner_ = nullptr;  // Windows: a file held open while the servers are ours
  std::map<std::string, uint16_t> ports_;
  std::string failure_;
};

// Makes the system trust the test CA of caFile for https as it trusts its own roots, for this
// test process and those after it; "" when done, else why it cannot be. Only Windows can here:
// elsewhere the system's roots are the host's own, which tests leave alone.
std::string TrustInSystemStore(const std::string& caFile);
