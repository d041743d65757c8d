// The servers of the tests of locations without a FUSE path: GVfs runs
// without its FUSE daemon, from before the first test to after the last.
#include <gtest/gtest.h>

#include "NetworkServers.h"

namespace {

class WithoutFuseEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    NetworkServers::WithoutFuse();
    NetworkServers::Get();
  }
  void TearDown() override { NetworkServers::Get().Stop(); }
};

[[maybe_unused]] ::testing::Environment* const kServers =
    ::testing::AddGlobalTestEnvironment(new WithoutFuseEnvironment);

}  // namespace

// As in the other network tests: GLib unwinds only slowly.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
