#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "transfer/transfer_library.h"

// Starts the HTTP layer for a test binary and keeps proxies from the environment away from
// loopback traffic. Register it once per binary, at namespace scope:
//   static auto* const kTransfers = testing::AddGlobalTestEnvironment(new TransferEnvironment);
// Runs on the main thread before any test starts its threads.
class TransferEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    ASSERT_TRUE(InitializeTransfers());
  }
  void TearDown() override { ShutdownTransfers(); }
};
