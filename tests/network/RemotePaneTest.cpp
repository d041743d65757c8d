// A location typed into a pane's filter edit: mounted on a worker with our
// password dialog, listed through its FUSE path, kept as a URI in the edit,
// the tab, the history and the state files, and reopened at the next start.
#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "FormFixture.h"
#include "NetworkServers.h"
#include "WaitUntil.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/network/Location.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"
#include "shell/ShellReportView.h"

namespace {

// Answers our password dialog as a user does, each time it comes up.
class PasswordTyper {
 public:
  explicit PasswordTyper(std::string password) : password_(std::move(password)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != QStringLiteral("mountPasswordDialog") || !top->isVisible()) continue;
        ++shown;
        top->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(QString::fromStdString(password_));
        QTest::mouseClick(top->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
      }
    });
    timer_.start(30);
  }
  int shown = 0;

 private:
  std::string password_;
  QTimer timer_;
};

class RemotePaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
  }
  void TearDown() override {
    f.Close();
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  // Types text into the left filter edit and presses Enter.
  void Type(TForm1* form, const std::string& text) {
    ASSERT_TRUE(f.Focus(form->Edit1));
    form->Edit1->setText(QString::fromStdString(text));
    QTest::keyClick(form->Edit1, Qt::Key_Return);
  }
  bool Shows(TForm1* form, const std::string& uri) {
    const std::string local = network::LocalPathOf(uri);
    return !local.empty() && form->LV1->GetPathName() == local && !form->LV1->Reading();
  }
  std::string MakeRemote(const std::string& name, int files) {
    const std::string folder = servers.Remote() + "/" + name;
    ::mkdir(folder.c_str(), 0755);
    for (int i = 0; i < files; ++i) std::ofstream(folder + "/file" + std::to_string(i) + ".txt") << i;
    return folder;
  }

  NetworkServers& servers = NetworkServers::Get();
  FormFixture f;
};

}  // namespace

TEST_F(RemotePaneTest, ATypedLocationAsksItsPasswordAndListsTenThousandFiles) {
  const std::string folder = MakeRemote("big", 10000);
  const std::string uri = servers.Uri(NetworkServers::kPasswordUser, folder);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  PasswordTyper typer(NetworkServers::kPassword);
  Type(form, uri);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  EXPECT_EQ(typer.shown, 1);
  EXPECT_EQ(form->LV1->FileList()->Count(), 10000);
  EXPECT_GE(FormFixture::RowOf(form->LV1, "file9999.txt"), 0);
  // The URI, never the FUSE path, is what the pane shows and keeps.
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");
  EXPECT_EQ(form->Left.Lines[0], uri);
  EXPECT_EQ(form->Left.History[0], uri);
  EXPECT_EQ(form->TC1->tabText(0).toStdString(), "big");
  EXPECT_TRUE(f.messages.empty());
}

TEST_F(RemotePaneTest, ALocationThatCannotBeOpenedLeavesThePaneWhereItWas) {
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  SshServer gone;
  std::string why;
  ASSERT_TRUE(gone.Start(servers.Root(), why)) << why;
  const int port = gone.Port();
  gone.Kill();
  Type(form, servers.Uri(NetworkServers::kKeyUser, "/", port));
  ASSERT_TRUE(WaitUntil([&] { return !f.messages.empty(); }));
  EXPECT_NE(f.messages[0].find("開けません"), std::string::npos) << f.messages[0];
  EXPECT_EQ(form->LV1->GetPathName(), f.HomePath());
  EXPECT_EQ(form->Edit1->text().toStdString(), f.HomePath() + "/*.*");
  EXPECT_EQ(form->Left.Lines[0], f.HomePath());

  // A scheme without a backend names the package to install.
  f.messages.clear();
  Type(form, "nosuchscheme://host/share");
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("gvfs-backends"), std::string::npos);
  EXPECT_EQ(form->LV1->GetPathName(), f.HomePath());
}

TEST_F(RemotePaneTest, ARestartReopensTheRemoteTab) {
  const std::string folder = MakeRemote("kept", 3);
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  Type(form, uri);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  f.Close();
  std::ifstream saved(f.StatePath("log/Path1SL.text"));
  std::string line;
  std::getline(saved, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  EXPECT_EQ(line, uri);

  // The next start finds the server unmounted and mounts it again.
  servers.UnmountAll();
  ASSERT_FALSE(network::IsMounted(uri));
  form = f.Open();
  EXPECT_EQ(form->TC1->tabText(0).toStdString(), "kept");
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  EXPECT_EQ(form->LV1->FileList()->Count(), 3);
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");
}

TEST_F(RemotePaneTest, WhileARestartAsksThePasswordThePaneIsEmptyAndACancelPutsItBack) {
  const std::string folder = MakeRemote("asked", 2);
  const std::string uri = servers.Uri(NetworkServers::kPasswordUser, folder);
  f.WriteLines("log/Path1SL.text", {uri});
  f.WriteLines("log/Path2SL.text", {f.HomePath()});
  auto asking = [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == QStringLiteral("mountPasswordDialog") && top->isVisible()) return top;
    return static_cast<QWidget*>(nullptr);
  };
  // The start shows the dialog before it hands the window over: looked at as it comes.
  int rows = -1;
  std::string tab, edit, status;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    QWidget* dialog = asking();
    if (!dialog || rows >= 0) return;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* shown = dynamic_cast<TForm1*>(top)) {
        rows = shown->LV1->ReportView()->model()->rowCount();
        status = shown->Left.Status->text().toStdString();
        tab = shown->TC1->tabText(0).toStdString();
        edit = shown->Edit1->text().toStdString();
      }
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
  });
  look.start(30);
  TForm1* form = f.Open();
  ASSERT_TRUE(WaitUntil([&] { return rows >= 0; }));
  // No rows of the desktop meanwhile: the tab and the edit name the location.
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(status.rfind("0 個の項目", 0), 0u) << status;
  EXPECT_EQ(tab, "asked");
  EXPECT_EQ(edit, uri + "/*.*");
  // Given up: what the pane showed before comes back.
  EXPECT_TRUE(WaitUntil([&] { return form->LV1->ReportView()->model()->rowCount() > 0; }));
  EXPECT_EQ(form->Left.Lines[0], uri);
  look.stop();
  f.Close();

  PasswordTyper typer(NetworkServers::kPassword);
  form = f.Open();
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  EXPECT_EQ(typer.shown, 1);
  EXPECT_EQ(form->LV1->FileList()->Count(), 2);
}

TEST_F(RemotePaneTest, AShownLocationFollowsChangesMadeOnTheServer) {
  const std::string folder = MakeRemote("changing", 2);
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  Type(form, uri);
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  ASSERT_EQ(form->LV1->FileList()->Count(), 2);
  // The focus stays on the user's file through the reads.
  form->LV1->SetFocusedRow(1);
  const std::string focused = form->LV1->FileList()->Items(1)->GetDisplayName();
  // The rows stay shown while the folder is read again: a stalled server
  // would otherwise leave the pane empty.
  int emptied = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { emptied += form->LV1->FileList()->Count() == 0; });
  watch.start(1);
  // Made by someone else, straight on the server: no event reaches us.
  std::ofstream(folder + "/new.txt") << "new";
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "new.txt") >= 0; }, 20000));
  EXPECT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, focused));
  ::unlink((folder + "/file0.txt").c_str());
  EXPECT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "file0.txt") < 0; }, 20000));
  EXPECT_EQ(form->Edit1->text().toStdString(), uri + "/*.*");
  EXPECT_EQ(emptied, 0);
}

TEST_F(RemotePaneTest, TheDriveListOffersTheBookmarkedLocationsAndOpensThem) {
  const std::string folder = MakeRemote("marked", 4);
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  // The fixture's own configuration folder stands for the user's.
  const std::string gtk = f.state.path() + "/config/gtk-3.0";
  ::mkdir(gtk.c_str(), 0755);
  std::ofstream(gtk + "/bookmarks") << "file:///tmp Temp\n" << uri << " 作業サーバー\nsmb://nas.invalid/share\n";
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  ASSERT_TRUE(f.Focus(form->LV1));
  const QString entry = QString::fromStdString("ネットワーク - 作業サーバー (" + uri + ")");
  f.ChooseEntry(entry);
  NExecute(*form);
  const QStringList texts = FormFixture::VisibleTexts(form->History);
  EXPECT_TRUE(texts.contains(entry)) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.contains(QStringLiteral("ネットワーク - smb://nas.invalid/share")))
      << texts.join('|').toStdString();
  EXPECT_FALSE(texts.join('|').contains(QStringLiteral("Temp")));
  ASSERT_TRUE(WaitUntil([&] { return Shows(form, uri); })) << (f.messages.empty() ? "" : f.messages[0]);
  EXPECT_EQ(form->LV1->FileList()->Count(), 4);
  EXPECT_EQ(form->Left.Lines[0], uri);
}
