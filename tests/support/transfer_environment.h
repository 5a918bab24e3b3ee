#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/test_platform.h"
#include "transfer/transfer_library.h"

// A silent server is given up after this many seconds in tests (read once per process).
constexpr int kTestStallSeconds = 3;

// Starts the HTTP layer for a test binary, keeps proxies from the environment away from loopback
// traffic and makes stalls end quickly. Register it once per binary, at namespace scope:
//   static auto* const kTransfers = testing::AddGlobalTestEnvironment(new TransferEnvironment);
// Runs on the main thread before any test starts its threads.
class TransferEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    SetEnvironmentValue("no_proxy", "127.0.0.1,localhost");
    SetEnvironmentValue("NO_PROXY", "127.0.0.1,localhost");
    SetEnvironmentValue("LODESTAR_STALL_TIMEOUT_SECONDS", std::to_string(kTestStallSeconds));
    ASSERT_TRUE(InitializeTransfers());
  }
  void TearDown() override { ShutdownTransfers(); }
};
