// A server killed (SIGKILL, its sessions first) while a large file copies
// down from or up to a location without a FUSE path: the failure is said in
// Japanese, the source is whole, nothing half-copied carries the final name
// on either side, and the pane goes on working.
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "GioFolderFixture.h"
#include "app/commands/Commands.h"

namespace {

constexpr off_t kBig = off_t(768) << 20;

// A large file, mostly a hole, with marks at both ends that show it whole.
void MakeBig(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
  ASSERT_EQ(::pwrite(fd, "tail", 4, kBig - 4), 4);
  ::close(fd);
}

bool Whole(const std::string& path) {
  struct stat st;
  char head[4] = {}, tail[4] = {};
  const int fd = ::open(path.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size == kBig && ::pread(fd, head, 4, 0) == 4 &&
                  ::pread(fd, tail, 4, kBig - 4) == 4 && std::string(head, 4) == "head" &&
                  std::string(tail, 4) == "tail";
  if (fd >= 0) ::close(fd);
  return ok;
}

// The bytes of our hidden part folders' files in folder so far.
off_t PartBytes(const std::string& folder) {
  off_t bytes = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().filename().string().rfind(".tolvane-part-", 0) == 0)
      for (const auto& inner : std::filesystem::directory_iterator(entry.path(), error)) {
        struct stat st;
        if (::lstat(inner.path().c_str(), &st) == 0) bytes += st.st_size;
      }
  return bytes;
}

class GioFolderKilledServerTest : public GioFolderFixture {
 protected:
  // Kills server once the part being written in folder holds some data,
  // while the copy's progress window turns the events.
  void KillWhenUnderWay(SshServer& server, const std::string& folder) {
    killed = false;
    watch.setInterval(5);
    watch.disconnect();
    QObject::connect(&watch, &QTimer::timeout, [&server, folder, this] {
      if (killed || PartBytes(folder) < (off_t(8) << 20)) return;
      server.Kill();
      killed = true;
      watch.stop();
    });
    watch.start();
  }
  // The pane goes elsewhere and lists it: nothing of the dead server holds it.
  void PaneStillWorks(TForm1* form, const std::string& local) {
    ASSERT_TRUE(f.Focus(form->Edit1));
    form->Edit1->setText(QString::fromStdString(local + "/"));
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil(
        [&] { return form->LV1->GetPathName() == local && FormFixture::RowOf(form->LV1, "big.bin") >= 0; }, 20000))
        << form->LV1->GetPathName() << " " << (f.messages.empty() ? "" : f.messages.back());
  }

  QTimer watch;
  bool killed = false;
};

TEST_F(GioFolderKilledServerTest, AServerKilledMidCopyDownOrUpLeavesNoPartialFileAndTheSourceWhole) {
  const std::string remote = Remote("killed");
  MakeBig(remote + "/big.bin");
  const std::string local = f.HomePath() + "/killed";
  ::mkdir(local.c_str(), 0755);
  TForm1* form = f.OpenOn(local, local);

  // Down from a server of its own, killed while the file comes.
  SshServer dying;
  std::string why;
  ASSERT_TRUE(dying.Start(servers.Root(), why)) << why;
  OpenIn(form->Edit1, form->LV1, servers.Uri(NetworkServers::kKeyUser, remote, dying.Port()));
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"big.bin"});
  KillWhenUnderWay(dying, local);
  CCExecute(*form);
  ASSERT_TRUE(killed) << "the copy ended before the server was killed";
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("コピーできませんでした"), std::string::npos) << ui.messages[0];
  EXPECT_FALSE(Exists(local + "/big.bin"));
  EXPECT_TRUE(NoPartLeft(local));
  EXPECT_TRUE(Whole(remote + "/big.bin"));

  // Up to another, killed while the file goes.
  std::filesystem::rename(remote + "/big.bin", local + "/big.bin");
  PaneStillWorks(form, local);
  SshServer dyingToo;
  ASSERT_TRUE(dyingToo.Start(servers.Root(), why)) << why;
  OpenIn(form->Edit2, form->LV2, servers.Uri(NetworkServers::kKeyUser, remote, dyingToo.Port()));
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"big.bin"});
  ui.messages.clear();
  KillWhenUnderWay(dyingToo, remote);
  CCExecute(*form);
  ASSERT_TRUE(killed) << "the copy ended before the server was killed";
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("コピーできませんでした"), std::string::npos) << ui.messages[0];
  EXPECT_FALSE(Exists(remote + "/big.bin"));
  EXPECT_TRUE(Whole(local + "/big.bin"));
  // The dead location's pane goes elsewhere as ever.
  ASSERT_TRUE(f.Focus(form->Edit2));
  form->Edit2->setText(QString::fromStdString(local + "/"));
  QTest::keyClick(form->Edit2, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil(
      [&] { return form->LV2->GetPathName() == local && FormFixture::RowOf(form->LV2, "big.bin") >= 0; }, 20000));
}

}  // namespace
