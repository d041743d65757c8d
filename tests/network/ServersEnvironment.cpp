// The servers of the network tests start before the first test and end after the last.
#include <gtest/gtest.h>

#include "NetworkServers.h"

namespace {

// GIO takes the session's address at its first use: the servers start before
// any test, and end with the test program.
class ServersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { NetworkServers::Get(); }
  void TearDown() override { NetworkServers::Get().Stop(); }
};

[[maybe_unused]] ::testing::Environment* const kServers = ::testing::AddGlobalTestEnvironment(new ServersEnvironment);

}  // namespace
