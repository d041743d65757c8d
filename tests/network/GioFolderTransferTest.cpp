// Where a location without a FUSE path meets folders of the same name, an
// archive, or a drag: a folder merges into its namesake file by file, U
// extracts an archive on the server back onto it, and drags carry the
// location's URIs both ways, all through GIO.
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <gtest/gtest.h>

#include "GioFolderFixture.h"
#include "ShellRun.h"
#include "app/commands/Commands.h"
#include "platform/desktop/DropTarget.h"
#include "platform/ui/PlatformUi.h"
#include "shell/ShellListModel.h"

namespace {

class GioFolderTransferTest : public GioFolderFixture {
 protected:
  void TearDown() override {
    TShellListView::DragLoop = nullptr;
    GioFolderFixture::TearDown();
  }
  // Private temporary folders of U left behind.
  static int ExtractFoldersLeft() {
    return QDir(QDir::tempPath()).entryList({QStringLiteral("tolvane-extract-*")}, QDir::Dirs | QDir::Hidden).size();
  }
};

TEST_F(GioFolderTransferTest, AFolderMergesIntoItsNamesakeFileByFileAndUndoLeavesTheTarget) {
  const std::string remote = Remote("merge");
  ::mkdir((remote + "/tree").c_str(), 0755);
  std::ofstream(remote + "/tree/a.txt") << "remote a";
  std::ofstream(remote + "/tree/keep.txt") << "keep";
  const std::string local = f.HomePath() + "/merge";
  std::filesystem::create_directories(local + "/tree/sub");
  std::ofstream(local + "/tree/a.txt") << "local a";
  std::ofstream(local + "/tree/new.txt") << "new";
  std::ofstream(local + "/tree/sub/deep.txt") << "deep";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(f.HomePath(), local);
  OpenIn(form->Edit1, form->LV1, uri);

  // Up, a.txt kept (No): the rest goes in beside what the folder held.
  ASSERT_TRUE(f.Focus(form->LV2));
  Select(form->LV2, {"tree"});
  ui.replaceAnswers = {ConflictAnswer::No};
  CCExecute(*form);
  ASSERT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(ui.replaceCalls[0].incoming.path, local + "/tree/a.txt");
  EXPECT_EQ(Read(remote + "/tree/a.txt"), "remote a");
  EXPECT_EQ(Read(remote + "/tree/keep.txt"), "keep");
  EXPECT_EQ(Read(remote + "/tree/new.txt"), "new");
  EXPECT_EQ(Read(remote + "/tree/sub/deep.txt"), "deep");
  EXPECT_TRUE(NoPartLeft(remote + "/tree"));
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];

  // Undo takes what came, never the folder it came into or what it held.
  UndoKey(*form, form->Right);
  EXPECT_FALSE(Exists(remote + "/tree/new.txt"));
  EXPECT_FALSE(Exists(remote + "/tree/sub"));
  EXPECT_EQ(Read(remote + "/tree/a.txt"), "remote a");
  EXPECT_EQ(Read(remote + "/tree/keep.txt"), "keep");

  // A move that replaces (Yes to all): the source folder goes once all it held has.
  form->LV2->RefreshList();
  Select(form->LV2, {"tree"});
  ui.replaceAnswers = {ConflictAnswer::YesToAll};
  MMExecute(*form);
  EXPECT_EQ(Read(remote + "/tree/a.txt"), "local a");
  EXPECT_EQ(Read(remote + "/tree/keep.txt"), "keep");
  EXPECT_EQ(Read(remote + "/tree/sub/deep.txt"), "deep");
  EXPECT_FALSE(Exists(local + "/tree"));
  // Its undo brings the moved files back into a folder of the old name.
  UndoKey(*form, form->Right);
  EXPECT_EQ(Read(local + "/tree/sub/deep.txt"), "deep");
  EXPECT_EQ(Read(local + "/tree/new.txt"), "new");
  EXPECT_EQ(Read(remote + "/tree/keep.txt"), "keep");

  // A folder never lands on a file of its name: skipped, said so, the file kept.
  std::filesystem::remove_all(remote + "/tree");
  std::ofstream(remote + "/tree") << "a file";
  form->LV2->RefreshList();
  Select(form->LV2, {"tree"});
  ui.messages.clear();
  CCExecute(*form);
  EXPECT_EQ(Read(remote + "/tree"), "a file");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("飛ばしました"), std::string::npos) << ui.messages[0];
}

TEST_F(GioFolderTransferTest, UExtractsAnArchiveOnTheServerBesideItThroughAPrivateCopy) {
  const std::string remote = Remote("archives");
  const std::string staging = f.HomePath() + "/staging";
  std::filesystem::create_directories(staging + "/sub");
  std::ofstream(staging + "/a.txt") << "alpha";
  std::ofstream(staging + "/sub/b.txt") << "beta";
  ASSERT_TRUE(RunIn(staging, "zip -qr '" + remote + "/many.zip' a.txt sub && zip -q '" + remote + "/one.zip' a.txt"));
  // The folder named after the archive is there with a file of the same name in it.
  ::mkdir((remote + "/many").c_str(), 0755);
  std::ofstream(remote + "/many/a.txt") << "older";
  std::ofstream(remote + "/many/keep.txt") << "keep";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  const int tempsBefore = ExtractFoldersLeft();
  TForm1* form = f.OpenOn(f.HomePath(), f.HomePath());
  OpenIn(form->Edit1, form->LV1, uri);
  ASSERT_TRUE(f.Focus(form->LV1));

  Select(form->LV1, {"many.zip"});
  ui.replaceAnswers = {ConflictAnswer::No};
  UExecute(*form);
  EXPECT_EQ(Read(remote + "/many/sub/b.txt"), "beta");
  EXPECT_EQ(Read(remote + "/many/a.txt"), "older");
  EXPECT_EQ(Read(remote + "/many/keep.txt"), "keep");
  ASSERT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(ui.replaceCalls[0].incoming.size, 5u);

  // One entry goes beside the archive; the list is read again and keeps its place.
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri); }));
  Select(form->LV1, {"one.zip"});
  UExecute(*form);
  EXPECT_EQ(Read(remote + "/a.txt"), "alpha");
  EXPECT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "a.txt") >= 0; }));
  EXPECT_TRUE(NoPartLeft(remote));
  EXPECT_TRUE(f.messages.empty()) << f.messages[0];
  EXPECT_EQ(ExtractFoldersLeft(), tempsBefore);

  // What is no archive, whatever it is called, is extracted from nowhere.
  std::ofstream(remote + "/fake.zip") << "not a zip";
  form->LV1->RefreshList();
  ASSERT_TRUE(WaitUntil([&] { return Listed(form->LV1, uri) && FormFixture::RowOf(form->LV1, "fake.zip") >= 0; }));
  Select(form->LV1, {"fake.zip"});
  try {
    UExecute(*form);
  } catch (const std::exception&) {
    // The archiver's refusal, as the key's handler shows it.
  }
  EXPECT_FALSE(Exists(remote + "/fake"));
  EXPECT_EQ(ExtractFoldersLeft(), tempsBefore);
}

TEST_F(GioFolderTransferTest, DragsCarryTheLocationsUrisAndDropsGoThroughGio) {
  InstallFileOperationDropHandler();  // as the program does when it starts
  InstallLocationDropHandler();
  const std::string remote = Remote("drags");
  std::ofstream(remote + "/down.txt") << "down";
  ::mkdir((remote + "/sub").c_str(), 0755);
  const std::string local = f.HomePath() + "/drags";
  ::mkdir(local.c_str(), 0755);
  std::ofstream(local + "/up.txt") << "up";
  std::ofstream(local + "/moved.txt") << "moved";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, remote);
  TForm1* form = f.OpenOn(f.HomePath(), local);
  OpenIn(form->Edit1, form->LV1, uri);

  // The desktop's drag loop, played by hand: onto a row, or the list's empty space.
  TShellListView* target = nullptr;
  std::string onto;
  Qt::KeyboardModifiers modifiers = Qt::ControlModifier;
  QList<QUrl> dragged;
  TShellListView::DragLoop = [&](QDrag* drag, Qt::DropActions actions) {
    dragged = drag->mimeData()->urls();
    QWidget* viewport = target->CurrentView()->viewport();
    QPoint at(10, viewport->height() - 5);
    if (!onto.empty())
      at = target->CurrentView()->visualRect(target->Model()->index(FormFixture::RowOf(target, onto), 0)).center();
    QDragEnterEvent enter(at, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(at, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &drop);
    drag->deleteLater();
  };
  auto dragRow = [&](TShellListView* from, const std::string& name) {
    QAbstractItemView* view = from->CurrentView();
    QPoint at = view->visualRect(from->Model()->index(FormFixture::RowOf(from, name), 0)).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QPoint to = at + QPoint(0, 12);
    QMouseEvent event(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &event);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
  };

  // Out of the location: its URI, which our own drop takes down through GIO.
  target = form->LV2;
  Select(form->LV1, {"down.txt"});
  dragRow(form->LV1, "down.txt");
  ASSERT_EQ(dragged.size(), 1);
  EXPECT_EQ(dragged[0].toString().toStdString(), network::GioFolderUri(uri) + "/down.txt");
  EXPECT_EQ(Read(local + "/down.txt"), "down");
  EXPECT_EQ(Read(remote + "/down.txt"), "down");

  // Onto the location's folder row: up into it; with Shift a move.
  target = form->LV1;
  onto = "sub";
  form->LV2->RefreshList();
  Select(form->LV2, {"up.txt"});
  dragRow(form->LV2, "up.txt");
  EXPECT_EQ(Read(remote + "/sub/up.txt"), "up");
  onto.clear();
  modifiers = Qt::ShiftModifier;
  Select(form->LV2, {"moved.txt"});
  dragRow(form->LV2, "moved.txt");
  EXPECT_EQ(Read(remote + "/moved.txt"), "moved");
  EXPECT_FALSE(Exists(local + "/moved.txt"));
  EXPECT_TRUE(NoPartLeft(remote));
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];

  // Another program's drop of a location's URI with the disk as target, and a link asked for: refused, said why.
  QMimeData data;
  data.setUrls({QUrl(QString::fromStdString(network::GioFolderUri(uri) + "/down.txt"))});
  const std::vector<std::string> sources = DroppedPaths(&data);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_FALSE(CurrentDropHandler()(sources, local + "/sub-none", DROPEFFECT_COPY));
  EXPECT_FALSE(CurrentDropHandler()(sources, local, DROPEFFECT_LINK));
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_FALSE(Exists(local + "/sub-none"));
}

}  // namespace
