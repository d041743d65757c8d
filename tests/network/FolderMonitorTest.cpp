// GIO's change monitor of a folder: where the backend has one (the local
// file system here) its events come; sftp has none, which the monitor says,
// so the pane goes on polling such a location.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "NetworkServers.h"
#include "WaitUntil.h"
#include "platform/network/Location.h"
#include "platform/network/LocationChanges.h"

namespace {

struct NoQuestions : network::MountQuestions {
  bool AskPassword(const network::PasswordRequest&, network::PasswordAnswer&) override { return false; }
  int AskChoice(const std::string&, const std::vector<std::string>&) override { return -1; }
  bool AcceptHostKey(const std::string&, const std::string&, const std::string&) override { return false; }
};

}  // namespace

TEST(FolderMonitorTest, ABackendsMonitorReportsChangesAndSftpHasNone) {
  NetworkServers& servers = NetworkServers::Get();
  if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
  QTemporaryDir dir;
  std::atomic<int> changes{0};
  {
    network::FolderMonitor local("file://" + dir.path().toStdString(), [&] { ++changes; });
    ASSERT_TRUE(WaitUntil([&] { return local.Watching(); }, 5000));
    EXPECT_EQ(changes, 0);
    std::ofstream(dir.path().toStdString() + "/new.txt") << "new";
    EXPECT_TRUE(WaitUntil([&] { return changes > 0; }, 5000));
  }
  // Gone with its thread: nothing comes after.
  const int seen = changes;
  std::ofstream(dir.path().toStdString() + "/later.txt") << "later";
  QTest::qWait(1500);
  EXPECT_EQ(changes, seen);

  const std::string uri = servers.Uri(NetworkServers::kKeyUser, servers.Remote());
  NoQuestions questions;
  ASSERT_TRUE(network::MountLocation(uri, questions).ok);
  network::FolderMonitor remote(uri, [&] { ++changes; });
  EXPECT_TRUE(WaitUntil([&] { return remote.Unsupported(); }, 10000));
  EXPECT_FALSE(remote.Watching());
  servers.UnmountAll();
}
