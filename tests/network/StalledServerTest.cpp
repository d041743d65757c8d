// A server that stalls (SIGSTOP) or dies (SIGKILL) while a pane shows one of
// its folders: the window's event loop keeps turning through moving in and
// out, re-reading and switching tabs, Esc stops the wait, and once the server
// answers again (or another folder is chosen) everything works as before.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "FormFixture.h"
#include "NetworkServers.h"
#include "TickGaps.h"
#include "WaitUntil.h"
#include "ScriptedFileOperationUI.h"
#include "app/InputNewDirDlg.h"
#include "app/LocationOpener.h"
#include "app/Pane.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/Location.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {

// Answers K's and R's name dialogs with the names given, and presses Esc in
// the progress window of a wait when told to.
class CommandAnswers {
 public:
  CommandAnswers() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      // A job in the engine's progress: its cancel, as Esc in that window gives.
      if (ui && escape && !cancelled_ && ui->ProgressHasStarted()) {
        cancelled_ = true;
        ++escaped;
        ui->Cancel();
      }
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) return;
      if (auto* ask = qobject_cast<TInputNewDirDlg*>(modal)) {
        shownFolder = ask->txtInitialDir->text().toStdString();
        QTest::keyClicks(ask->edtDirName, QString::fromStdString(folderName));
        ask->btnOK->click();
      } else if (auto* rename = qobject_cast<QInputDialog*>(modal)) {
        rename->setTextValue(QString::fromStdString(newName));
        rename->accept();
      } else if (qobject_cast<QProgressDialog*>(modal) && escape) {
        ++escaped;
        QTest::keyClick(modal, Qt::Key_Escape);
      }
    });
    timer_.start(20);
  }
  std::string folderName, newName, shownFolder;
  ScriptedFileOperationUI* ui = nullptr;
  bool escape = false;
  int escaped = 0;

 private:
  bool cancelled_ = false;
  QTimer timer_;
};

class StalledServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
    std::string why;
    ASSERT_TRUE(server.Start(servers.Root(), why)) << why;
  }
  void TearDown() override {
    SetFileOperationUIOverride(nullptr);
    server.Pause(false);
    f.Close();
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  std::string Uri(const std::string& path) { return servers.Uri(NetworkServers::kKeyUser, path, server.Port()); }
  std::string MakeRemote(const std::string& name) {
    const std::string folder = servers.Remote() + "/" + name;
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/sub").c_str(), 0755);
    std::ofstream(folder + "/sub/inner.txt") << "inner";
    std::ofstream(folder + "/a.txt") << "a";
    return folder;
  }
  // The left pane with the location in its first tab and home in its second.
  TForm1* OpenOnLocation(const std::string& uri) {
    f.WriteLines("log/Path1SL.text", {uri, f.HomePath()});
    f.WriteLines("log/Path2SL.text", {f.HomePath()});
    TForm1* form = f.Open();
    EXPECT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  bool Shows(TForm1* form, const std::string& uri) {
    const std::string local = network::LocalPathOf(uri);
    return !local.empty() && form->LV1->GetPathName() == local && !form->LV1->Reading();
  }
  void Press(TForm1* form, Qt::Key key) {
    QTest::keyClick(QApplication::focusWidget(), key);
    WaitUntil([&] { return !form->KeyTimer->isActive(); }, 5000);
  }
  // A click on the tab, as the user does.
  void SwitchTab(TForm1* form, int index) {
    QTest::mouseClick(form->TC1, Qt::LeftButton, {}, form->TC1->tabRect(index).center());
    QTest::qWait(20);
  }
  void EnterOn(TForm1* form, const std::string& name) {
    FormFixture::SelectOnly(form->LV1, name);
    Press(form, Qt::Key_Return);
  }

  NetworkServers& servers = NetworkServers::Get();
  SshServer server;
  FormFixture f;
};

}  // namespace

TEST_F(StalledServerTest, AStalledServerNeverHoldsTheWindowAndEscStopsTheWait) {
  const std::string folder = MakeRemote("stalled");
  const std::string uri = Uri(folder);
  TForm1* form = OpenOnLocation(uri);
  ASSERT_TRUE(Shows(form, uri));
  ASSERT_GE(FormFixture::RowOf(form->LV1, "sub"), 0);
  const std::string shown = form->LV1->GetPathName();

  server.Pause(true);
  TickGaps gaps;
  // Into a subfolder: the pane waits for the server without the window.
  TLocationOpener* opener = TLocationOpener::Of(form, form->LV1);
  EnterOn(form, "sub");
  QTest::qWait(500);
  EXPECT_EQ(form->LV1->GetPathName(), shown);
  EXPECT_TRUE(opener->Busy());
  Press(form, Qt::Key_Escape);
  EXPECT_FALSE(opener->Busy());
  EXPECT_EQ(form->LV1->GetPathName(), shown);
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");
  // Up, and a re-read.
  Press(form, Qt::Key_Backspace);
  QTest::qWait(300);
  Press(form, Qt::Key_Escape);
  EXPECT_EQ(form->LV1->GetPathName(), shown);
  Press(form, Qt::Key_G);
  QTest::qWait(300);
  EXPECT_TRUE(form->LV1->Reading());
  Press(form, Qt::Key_Escape);
  EXPECT_TRUE(WaitUntil([&] { return !form->LV1->Reading(); }, 2000));
  // To the local tab and back; the poll comes round meanwhile.
  SwitchTab(form, 1);
  EXPECT_TRUE(WaitUntil([&] { return form->LV1->GetPathName() == f.HomePath(); }, 2000));
  QTest::qWait(3500);
  SwitchTab(form, 0);
  QTest::qWait(300);
  ASSERT_TRUE(f.Focus(form->LV1));
  Press(form, Qt::Key_Escape);
  EXPECT_LT(gaps.Longest(), kLongestGapMs);
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];

  // The server answers again: everything works.
  server.Pause(false);
  SwitchTab(form, 1);
  SwitchTab(form, 0);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  EnterOn(form, "sub");
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri + "/sub"); })) << (f.messages.empty() ? "" : f.messages[0]);
  EXPECT_GE(FormFixture::RowOf(form->LV1, "inner.txt"), 0);
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/sub/*.*");
  Press(form, Qt::Key_Backspace);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); }));
  std::ofstream(folder + "/b.txt") << "b";
  Press(form, Qt::Key_G);
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "b.txt") >= 0; }, 10000));
}

TEST_F(StalledServerTest, ADeadServerIsReportedAndThePaneStaysUsable) {
  const std::string folder = MakeRemote("dead");
  const std::string uri = Uri(folder);
  TForm1* form = OpenOnLocation(uri);
  ASSERT_TRUE(Shows(form, uri));

  TickGaps gaps;
  server.Kill();
  EnterOn(form, "sub");
  ASSERT_TRUE(WaitUntil([&] { return !f.messages.empty(); }, 30000));
  EXPECT_NE(f.messages[0].find("開けません"), std::string::npos) << f.messages[0];
  // The pane shows what it showed, or the nearest local folder; either way it works.
  SwitchTab(form, 1);
  EXPECT_TRUE(WaitUntil([&] { return form->LV1->GetPathName() == f.HomePath(); }, 5000));
  ASSERT_TRUE(f.Focus(form->LV1));
  Press(form, Qt::Key_Backspace);
  const std::string home = f.HomePath();
  EXPECT_TRUE(WaitUntil([&] { return form->LV1->GetPathName() == home.substr(0, home.rfind('/')); }, 5000));
  EXPECT_LT(gaps.Longest(), kLongestGapMs);
}

TEST_F(StalledServerTest, OpenNewFolderRenameAndDeleteOnAStalledServerWaitOffTheWindowAndEscEndsThem) {
  const std::string folder = MakeRemote("edits");
  const std::string uri = Uri(folder);
  ScriptedFileOperationUI ui;
  SetFileOperationUIOverride(&ui);
  TForm1* form = OpenOnLocation(uri);
  ASSERT_TRUE(Shows(form, uri));
  CommandAnswers answers;
  answers.ui = &ui;

  server.Pause(true);
  TickGaps gaps;
  answers.escape = true;
  // Enter on a file: how it opens is asked aside.
  EnterOn(form, "a.txt");
  EXPECT_EQ(answers.escaped, 1);
  ASSERT_TRUE(f.Focus(form->LV1));
  answers.folderName = "made";
  Press(form, Qt::Key_K);
  EXPECT_EQ(answers.escaped, 2);
  // Where it is made, as the user knows the place.
  EXPECT_EQ(answers.shownFolder, uri);
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "a.txt");
  answers.newName = "renamed.txt";
  Press(form, Qt::Key_R);
  EXPECT_EQ(answers.escaped, 3);
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "a.txt");
  ui.deleteAnswers = {true};
  Press(form, Qt::Key_D);
  EXPECT_EQ(answers.escaped, 4);
  EXPECT_LT(gaps.Longest(), kLongestGapMs);
  // Stopped by the user: nothing to report.
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];

  // The server answers again: each works, and the list follows.
  server.Pause(false);
  answers.escape = false;
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); }));
  ASSERT_TRUE(f.Focus(form->LV1));
  answers.folderName = "made2";
  Press(form, Qt::Key_K);
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "made2") >= 0; }, 10000));
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/made2"));
  ASSERT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "a.txt") >= 0 && !form->LV1->Reading(); }));
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "a.txt");
  answers.newName = "b.txt";
  Press(form, Qt::Key_R);
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "b.txt") >= 0; }, 10000));
  struct stat st;
  EXPECT_EQ(::stat((folder + "/b.txt").c_str(), &st), 0);
  EXPECT_NE(::stat((folder + "/a.txt").c_str(), &st), 0);
  ASSERT_TRUE(WaitUntil([&] { return !form->LV1->Reading(); }));
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "sub");
  ui.deleteAnswers = {true};
  Press(form, Qt::Key_D);
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "sub") < 0; }, 10000));
  EXPECT_NE(::stat((folder + "/sub").c_str(), &st), 0);
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];
}
