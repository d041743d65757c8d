// A location GVfs gives no FUSE path: listed through GIO as a folder known by
// its URI, entered and left, kept in the tabs and state files, and followed
// while shown.
#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "FormFixture.h"
#include "NetworkServers.h"
#include "WaitUntil.h"
#include "app/Pane.h"
#include "platform/namespace/LocationPath.h"
#include "platform/network/GioFolder.h"
#include "platform/network/Location.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {

TEST(LocationPathTest, NamesGoInAndOutOfTheUriEscaped) {
  std::string root;
  std::vector<std::string> names;
  ASSERT_TRUE(SplitLocationUri("sftp://me@host:2222/srv/a%20b/%E6%97%A5%23%3F//", root, names));
  EXPECT_EQ(root, "sftp://me@host:2222/");
  ASSERT_EQ(names, (std::vector<std::string>{"srv", "a b", "日#?"}));
  // Back the way GIO writes a path element: '#' and '?' stay escaped, so the name is whole.
  EXPECT_EQ(JoinLocationUri(root, names), "sftp://me@host:2222/srv/a%20b/%E6%97%A5%23%3F");
  EXPECT_EQ(LocationChildUri("sftp://h/", "x/y%"), "sftp://h/x%2Fy%25");
  ASSERT_TRUE(SplitLocationUri("smb://nas", root, names));
  EXPECT_EQ(root, "smb://nas/");
  EXPECT_TRUE(names.empty());
  // Nothing that would climb out of the folder named, or is no location.
  for (const char* bad : {"sftp://h/a/../b", "sftp://h/%2E%2E/x", "sftp://h/a%00b", "sftp://h/a%2", "file:///tmp",
                          "/tmp/x", "sftp:///x", "sftp://h/a?x=1"})
    EXPECT_FALSE(SplitLocationUri(bad, root, names)) << bad;
}

class GioFolderPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
  }
  void TearDown() override {
    f.Close();
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  void Type(TForm1* form, const std::string& text) {
    ASSERT_TRUE(f.Focus(form->Edit1));
    form->Edit1->setText(QString::fromStdString(text));
    QTest::keyClick(form->Edit1, Qt::Key_Return);
  }
  // The list shows the location's folder, every row come.
  static bool Shows(TShellListView* list, const std::string& uri) {
    return list->GetPathName() == network::GioFolderUri(uri) && !list->Reading() && !list->FileList()->Growing();
  }
  std::string MakeRemote(const std::string& name, int files) {
    const std::string folder = servers.Remote() + "/" + name;
    ::mkdir(folder.c_str(), 0755);
    for (int i = 0; i < files; ++i) std::ofstream(folder + "/file" + std::to_string(i) + ".txt") << i;
    return folder;
  }
  std::string Why() const { return f.messages.empty() ? "" : f.messages[0]; }
  // The folder typed into the left pane from a server of the test's own, which it can stall.
  TForm1* OpenThrough(SshServer& server, const std::string& folder, std::string& uri) {
    std::string why;
    EXPECT_TRUE(server.Start(servers.Root(), why)) << why;
    uri = servers.Uri(NetworkServers::kKeyUser, folder, server.Port());
    TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
    Type(form, uri);
    WaitUntil([&] { return Shows(form->LV1, uri); });
    return form;
  }

  NetworkServers& servers = NetworkServers::Get();
  FormFixture f;
};

}  // namespace

TEST_F(GioFolderPaneTest, ALocationWithoutFusePathIsListedEnteredAndLeft) {
  ASSERT_FALSE(NetworkServers::Fuse());
  const std::string folder = MakeRemote("plain", 3000);
  ::mkdir((folder + "/sub dir").c_str(), 0755);
  std::ofstream(folder + "/sub dir/inner.txt") << "inner";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  Type(form, uri);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri); })) << Why();
  EXPECT_TRUE(network::LocalPathOf(uri).empty() || ::access(network::LocalPathOf(uri).c_str(), F_OK) != 0);
  EXPECT_EQ(form->LV1->FileList()->Count(), 3001);
  EXPECT_GE(FormFixture::RowOf(form->LV1, "file2999.txt"), 0);
  // The data came with the listing: size and kind without asking again.
  TShellFileItem* item = form->LV1->FileList()->Items(FormFixture::RowOf(form->LV1, "file2999.txt"));
  EXPECT_EQ(item->GetFindData().nFileSizeLow, 4u);
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");
  EXPECT_EQ(form->Left.Lines[0], uri);
  EXPECT_EQ(form->TC1->tabText(0).toStdString(), "plain");
  EXPECT_TRUE(f.messages.empty()) << Why();

  // Into the subfolder with Enter, and back onto its row with BackSpace.
  FormFixture::SelectOnly(form->LV1, "sub%20dir");
  ASSERT_TRUE(f.Focus(form->LV1));
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Return);
  const std::string sub = uri + "/sub%20dir";
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, sub); })) << form->LV1->GetPathName();
  EXPECT_EQ(form->LV1->FileList()->Count(), 1);
  EXPECT_EQ(form->Edit1->text().toStdString(), sub + "/*.*");
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Backspace);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri); })) << form->LV1->GetPathName();
  EXPECT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, "sub%20dir"));

  // The other pane takes the location from this one, as any folder.
  ASSERT_TRUE(f.Focus(form->LV2));
  form->LV2->SetPathName(form->LV1->GetPathName());
  EXPECT_TRUE(WaitUntil([&] { return Shows(form->LV2, uri); }));
  EXPECT_EQ(form->LV2->FileList()->Count(), 3001);
}

TEST_F(GioFolderPaneTest, EscStopsTheListingOfAStalledServer) {
  const std::string folder = MakeRemote("slow", 200);
  SshServer stalling;
  std::string uri;
  TForm1* form = OpenThrough(stalling, folder, uri);
  ASSERT_TRUE(Shows(form->LV1, uri)) << Why();
  // A server that stalls mid-listing: the re-read hangs until Esc.
  stalling.Pause(true);
  form->LV1->RefreshList();
  EXPECT_TRUE(form->LV1->FileList()->Growing());
  ASSERT_TRUE(f.Focus(form->LV1));
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Escape);
  EXPECT_FALSE(form->LV1->FileList()->Growing());
  stalling.Pause(false);
  EXPECT_EQ(form->LV1->GetPathName(), network::GioFolderUri(uri));
}

TEST_F(GioFolderPaneTest, BackSpaceLandsOnTheFolderLeftThoughTheServerSendsItsRowLate) {
  const std::string folder = MakeRemote("late", 2000);
  // Not the first row either: a row merely first in the list proves nothing.
  ::mkdir((folder + "/a folder").c_str(), 0755);
  ::mkdir((folder + "/sub dir").c_str(), 0755);
  SshServer stalling;
  std::string uri;
  TForm1* form = OpenThrough(stalling, folder, uri);
  ASSERT_TRUE(Shows(form->LV1, uri)) << Why();
  FormFixture::SelectOnly(form->LV1, "sub%20dir");
  ASSERT_TRUE(f.Focus(form->LV1));
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri + "/sub%20dir"); })) << form->LV1->GetPathName();
  // The parent's rows are held back by the server until after BackSpace is done.
  stalling.Pause(true);
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Backspace);
  EXPECT_TRUE(form->LV1->FileList()->Growing());
  QTest::qWait(200);
  stalling.Pause(false);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri); })) << form->LV1->GetPathName();
  ASSERT_EQ(form->LV1->FileList()->Count(), 2002);
  EXPECT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, "sub%20dir"));
}

TEST_F(GioFolderPaneTest, ARestartReopensTheTabAndChangesOnTheServerShow) {
  const std::string folder = MakeRemote("kept", 3);
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  Type(form, uri);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri); })) << Why();
  f.Close();
  std::ifstream saved(f.StatePath("log/Path1SL.text"));
  std::string line;
  std::getline(saved, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  EXPECT_EQ(line, uri);

  servers.UnmountAll();
  ASSERT_FALSE(network::IsMounted(uri));
  form = f.Open();
  EXPECT_EQ(form->TC1->tabText(0).toStdString(), "kept");
  ASSERT_TRUE(WaitUntil([&] { return Shows(form->LV1, uri); })) << Why();
  EXPECT_EQ(form->LV1->FileList()->Count(), 3);
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");

  // Made straight on the server: the poll of the shown folder sees it.
  std::ofstream(folder + "/new.txt") << "new";
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "new.txt") >= 0; }, 20000));
}
