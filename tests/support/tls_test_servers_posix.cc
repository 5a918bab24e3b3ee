#include <unistd.h>

#include "support/child_process.h"
#include "support/tls_test_servers.h"

std::string TlsTestServers::RunScript(const std::string& command) {
  ChildOptions options;
  options.mergeOutput = true;
  ChildResult result = RunChild(
      {"/bin/bash", LODESTAR_TLS_TEST_SERVERS, command, dir_.path(), std::to_string(::getpid())},
      options);
  if (result.status == 0) {
    return "";
  }
  const std::string why = ReadFileBytes(dir_.File("failed"));
  return "tls-test-servers " + command + " failed: " + (why.empty() ? result.out : why);
}

std::string TrustInSystemStore(const std::string&) {
  return "the system's roots are the host's own";
}
