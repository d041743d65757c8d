// The commands where a location without a FUSE path is on one side or both:
// copies down and up with the conflict question and undo, a move between two
// remote folders, a new folder, a rename and a delete, all through GIO.
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "GioFolderFixture.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/ui/FileOperationDialogs.h"

namespace {

class GioFolderCommandsTest : public GioFolderFixture {};

}  // namespace

TEST_F(GioFolderCommandsTest, CopiesDownAndUpAskOnAConflictAndUndo) {
  const std::string remote = Remote("updown");
  std::ofstream(remote + "/a.txt") << "remote a";
  std::ofstream(remote + "/b.txt") << "remote b";
  const std::string local = f.HomePath() + "/down";
  ::mkdir(local.c_str(), 0755);
  std::ofstream(local + "/b.txt") << "local b";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(local, local);
  OpenIn(form->Edit1, form->LV1, uri);

  // Down: b.txt is there already and is kept (No), a.txt comes.
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"a.txt", "b.txt"});
  ui.replaceAnswers = {ConflictAnswer::No};
  CCExecute(*form);
  EXPECT_EQ(Read(local + "/a.txt"), "remote a");
  EXPECT_EQ(Read(local + "/b.txt"), "local b");
  ASSERT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(ui.replaceCalls[0].existing.path, local + "/b.txt");
  EXPECT_EQ(ui.replaceCalls[0].incoming.size, 8u);
  EXPECT_TRUE(NoPartLeft(local));
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];

  // Undo takes back the copy made, not the file that was kept.
  UndoKey(*form, form->Left);
  EXPECT_FALSE(Exists(local + "/a.txt"));
  EXPECT_EQ(Read(local + "/b.txt"), "local b");
  EXPECT_EQ(Read(remote + "/a.txt"), "remote a");

  // Up: the local b.txt replaces the remote one once the user says so.
  ASSERT_TRUE(f.Focus(form->LV2));
  Select(form->LV2, {"b.txt"});
  ui.replaceAnswers = {ConflictAnswer::Yes};
  CCExecute(*form);
  EXPECT_EQ(Read(remote + "/b.txt"), "local b");
  EXPECT_EQ(ui.replaceCalls.size(), 2u);
  EXPECT_TRUE(NoPartLeft(remote));
  // The shown location is read again: no watch would tell it.
  EXPECT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && form->LV1->FileList()->Count() == 2; }));

  // A copy up that replaced nothing is undone on the server.
  std::ofstream(local + "/c.txt") << "local c";
  form->LV2->RefreshList();
  Select(form->LV2, {"c.txt"});
  CCExecute(*form);
  ASSERT_EQ(Read(remote + "/c.txt"), "local c");
  // Changed on the server since: undo leaves it alone and says so.
  std::ofstream(remote + "/c.txt") << "changed on the server";
  UndoKey(*form, form->Right);
  EXPECT_EQ(Read(remote + "/c.txt"), "changed on the server");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("元に戻しませんでした"), std::string::npos);
}

TEST_F(GioFolderCommandsTest, AMoveBetweenTwoRemoteFoldersAndItsUndo) {
  const std::string from = Remote("movefrom");
  const std::string to = Remote("moveto");
  ::mkdir((from + "/tree").c_str(), 0755);
  std::ofstream(from + "/tree/inner.txt") << "inner";
  std::ofstream(from + "/one.txt") << "one";
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  OpenIn(form->Edit1, form->LV1, servers.Uri(NetworkServers::kKeyUser, from));
  OpenIn(form->Edit2, form->LV2, servers.Uri(NetworkServers::kKeyUser, to));
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"tree", "one.txt"});
  MMExecute(*form);
  EXPECT_EQ(Read(to + "/tree/inner.txt"), "inner");
  EXPECT_EQ(Read(to + "/one.txt"), "one");
  EXPECT_FALSE(Exists(from + "/tree"));
  EXPECT_FALSE(Exists(from + "/one.txt"));
  EXPECT_TRUE(NoPartLeft(to));
  EXPECT_TRUE(WaitUntil([&] { return form->LV2->FileList()->Count() == 2 && form->LV1->FileList()->Count() == 0; }));

  UndoKey(*form, form->Left);
  EXPECT_EQ(Read(from + "/tree/inner.txt"), "inner");
  EXPECT_EQ(Read(from + "/one.txt"), "one");
  EXPECT_FALSE(Exists(to + "/one.txt"));

  // Into itself is refused, and nothing moves.
  ASSERT_TRUE(WaitUntil([&] { return FormFixture::RowOf(form->LV1, "tree") >= 0; }));
  Select(form->LV1, {"tree"});
  EXPECT_FALSE(form->TryTransferSelection(form->LV1, form->LV1->GetPathName() + "/tree", true));
  EXPECT_TRUE(Exists(from + "/tree/inner.txt"));
  EXPECT_FALSE(ui.messages.empty());
}

TEST_F(GioFolderCommandsTest, NewFolderRenameAndDeleteOnTheServer) {
  const std::string remote = Remote("edits");
  std::ofstream(remote + "/old.txt") << "old";
  std::ofstream(remote + "/taken.txt") << "taken";
  ::mkdir((remote + "/gone").c_str(), 0755);
  // A link inside the folder deleted points outside it: what it names stays.
  const std::string outside = Remote("outside");
  std::ofstream(outside + "/keep.txt") << "keep";
  ASSERT_EQ(::symlink(outside.c_str(), (remote + "/gone/link").c_str()), 0);
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  OpenIn(form->Edit1, form->LV1, uri);

  EXPECT_TRUE(MakeLocationFolder(*form, form->LV1, QStringLiteral("新しいフォルダ")));
  EXPECT_TRUE(std::filesystem::is_directory(remote + "/新しいフォルダ"));
  EXPECT_TRUE(MakeLocationFolder(*form, form->LV1, QStringLiteral("新しいフォルダ")));
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("もうあります"), std::string::npos) << f.messages[0];
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "old.txt") >= 0; }));

  // R: the dialog's name, never over a name that is taken.
  QStringList names{QStringLiteral("taken.txt"), QStringLiteral("new.txt")};
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QInputDialog*>(top);
      if (!dialog || !dialog->isVisible() || names.isEmpty()) continue;
      dialog->setTextValue(names.takeFirst());
      dialog->accept();
    }
  });
  answer.start(20);
  Select(form->LV1, {"old.txt"});
  ASSERT_TRUE(f.Focus(form->LV1));
  RExecute(*form);
  EXPECT_EQ(Read(remote + "/taken.txt"), "taken");
  EXPECT_EQ(Read(remote + "/old.txt"), "old");
  ASSERT_EQ(f.messages.size(), 2u);
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "old.txt") >= 0; }));
  Select(form->LV1, {"old.txt"});
  ASSERT_TRUE(f.Focus(form->LV1));
  RExecute(*form);
  EXPECT_EQ(Read(remote + "/new.txt"), "old");
  EXPECT_FALSE(Exists(remote + "/old.txt"));

  // D: sftp has no trash, so the delete for good is asked first; No keeps everything.
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "gone") >= 0; }));
  Select(form->LV1, {"gone", "new.txt"});
  ui.deleteAnswers = {false, true};
  ASSERT_TRUE(f.Focus(form->LV1));
  DExecute(*form);
  EXPECT_TRUE(Exists(remote + "/gone/link"));
  ASSERT_EQ(ui.deleteCalls.size(), 1u);
  EXPECT_TRUE(ui.deleteCalls[0].second);
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "gone") >= 0; }));
  Select(form->LV1, {"gone", "new.txt"});
  ASSERT_TRUE(f.Focus(form->LV1));
  DExecute(*form);
  EXPECT_FALSE(Exists(remote + "/gone"));
  EXPECT_FALSE(Exists(remote + "/new.txt"));
  EXPECT_EQ(Read(outside + "/keep.txt"), "keep");
  EXPECT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && form->LV1->FileList()->Count() == 2; }));
}

TEST_F(GioFolderCommandsTest, APreviewReadsAPrivateCopyAndCommandsThatNeedPathsSayWhy) {
  const std::string remote = Remote("paths");
  std::ofstream(remote + "/note.txt") << "note";
  std::ofstream(remote + "/data.bin") << "binary";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  OpenIn(form->Edit1, form->LV1, uri);
  ASSERT_TRUE(f.Focus(form->LV1));

  // V: the text is read into a copy only this user may enter, then shown.
  Select(form->LV1, {"note.txt"});
  const std::string copy = LocationPreviewFile(*form, form->LV1);
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(Read(copy), "note");
  struct stat st;
  ASSERT_EQ(::stat(copy.substr(0, copy.rfind('/')).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // What no preview shows is not read from the server.
  Select(form->LV1, {"data.bin"});
  EXPECT_TRUE(LocationPreviewFile(*form, form->LV1).empty());
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];

  // The terminal would get a URI for a folder: refused, said why.
  TerminalKey(*form, form->Left);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("gvfs-fuse"), std::string::npos) << f.messages[0];
  // A nested name would need folders made one by one: refused, nothing made.
  EXPECT_TRUE(MakeLocationFolder(*form, form->LV1, QStringLiteral("a/b")));
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_FALSE(Exists(remote + "/a"));
  EXPECT_EQ(Read(remote + "/note.txt"), "note");
}

TEST_F(GioFolderCommandsTest, ACopyUpShowsTheDetailedProgressAndEscStopsItWithNothingHalfMade) {
  const std::string remote = Remote("progress");
  const std::string local = f.HomePath() + "/big";
  ::mkdir(local.c_str(), 0755);
  constexpr int kFiles = 6;
  constexpr off_t kSize = 48 << 20;
  std::vector<const char*> names = {"f1.bin", "f2.bin", "f3.bin", "f4.bin", "f5.bin", "f6.bin"};
  for (const char* name : names) {
    const std::string path = local + "/" + name;
    { std::ofstream made(path); }
    ASSERT_EQ(::truncate(path.c_str(), kSize), 0);
  }
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(local, local);
  OpenIn(form->Edit2, form->LV2, uri);

  // The engine's own window, its labels read as the copy goes and Esc pressed in it.
  FileOperationDialogs dialogs(form);
  SetFileOperationUIOverride(&dialogs);
  std::vector<QString> items, bytes;
  std::vector<int> bars;
  QString file;
  bool escaped = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* window = form->findChild<QDialog*>(QStringLiteral("progressDialog"));
    if (!window || !window->isVisible()) return;
    items.push_back(window->findChild<QLabel*>(QStringLiteral("itemsLabel"))->text());
    bytes.push_back(window->findChild<QLabel*>(QStringLiteral("bytesLabel"))->text());
    // The bar as the copy goes; what it shows while the stop is made is not asked.
    if (!escaped) bars.push_back(window->findChild<QProgressBar*>(QStringLiteral("progressBar"))->value());
    file = window->findChild<QLabel*>(QStringLiteral("fileLabel"))->text();
    // Once the bar has moved twice, past the first file's start.
    if (!escaped && bars.size() >= 3 && bars.back() > bars.front() && bars.back() > 0) {
      escaped = true;
      QTest::keyClick(window, Qt::Key_Escape);
    }
  });
  watch.start(30);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"f1.bin", "f2.bin", "f3.bin", "f4.bin", "f5.bin", "f6.bin"});
  CCExecute(*form);
  watch.stop();
  SetFileOperationUIOverride(&ui);

  ASSERT_TRUE(escaped) << "the progress window never showed a moving bar";
  EXPECT_TRUE(items.front().endsWith(QStringLiteral(" / %1 個の項目").arg(kFiles))) << items.front().toStdString();
  EXPECT_FALSE(bytes.back().isEmpty());
  EXPECT_TRUE(file.endsWith(QStringLiteral(".bin"))) << file.toStdString();
  std::string shown;
  for (size_t k = 0; k < bars.size(); ++k) shown += std::to_string(bars[k]) + " " + items[k].toStdString() + "; ";
  EXPECT_TRUE(std::is_sorted(bars.begin(), bars.end())) << shown;
  // Stopped: every name there is whole, some never came, nothing half-made stays.
  int whole = 0;
  for (const char* name : names) {
    struct stat st {};
    if (::stat((remote + "/" + name).c_str(), &st) != 0) continue;
    EXPECT_EQ(st.st_size, kSize) << name;
    ++whole;
  }
  EXPECT_LT(whole, kFiles);
  EXPECT_TRUE(NoPartLeft(remote));
  auto* window = form->findChild<QDialog*>(QStringLiteral("progressDialog"));
  EXPECT_TRUE(!window || !window->isVisible());
}
