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

// GLib is built without frame pointers, so the sanitizer's fast unwinder stops inside it
// and what GIO keeps for the process (see scripts/lsan.supp) could not be told from a
// leak of ours. The network tests unwind fully; the environment's options still win.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
