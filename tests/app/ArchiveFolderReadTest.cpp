// Archives as folders on a real main window, while they are read and after:
// the rows of a big archive come while it is still listed, a change of the
// archive on the disk is read again, and a drag of entries out of it onto the
// other pane copies them out.
#include <QDrag>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "ShellRun.h"
#include "app/commands/Commands.h"
#include "platform/desktop/DropTarget.h"
#include "platform/fileops/FileOperation.h"
#include "platform/ui/PlatformUi.h"

namespace {

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// A ZIP of count empty stored files named names(i), written directly: the
// tools would need as many files on the disk first.
void WriteZip(const std::string& path, int count, const std::function<std::string(int)>& names) {
  std::string body, central;
  for (int i = 0; i < count; ++i) {
    const std::string name = names(i);
    const auto offset = static_cast<uint32_t>(body.size());
    Put32(body, 0x04034b50);
    for (uint32_t v : {10u, 0u, 0u, 0u, 0x5021u}) Put16(body, v);  // version, flags, method, time, date
    for (int k = 0; k < 3; ++k) Put32(body, 0);                    // crc, sizes
    Put16(body, static_cast<uint32_t>(name.size()));
    Put16(body, 0);
    body += name;
    Put32(central, 0x02014b50);
    for (uint32_t v : {20u, 10u, 0u, 0u, 0u, 0x5021u}) Put16(central, v);
    for (int k = 0; k < 3; ++k) Put32(central, 0);
    for (uint32_t v : {static_cast<uint32_t>(name.size()), 0u, 0u, 0u, 0u}) Put16(central, v);
    Put32(central, 0);  // attributes
    Put32(central, offset);
    central += name;
  }
  std::string end;
  Put32(end, 0x06054b50);
  for (uint32_t v : {0u, 0u, static_cast<uint32_t>(count), static_cast<uint32_t>(count)}) Put16(end, v);
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(body.size()));
  Put16(end, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(body.data(), 1, body.size(), f);
  std::fwrite(central.data(), 1, central.size(), f);
  std::fwrite(end.data(), 1, end.size(), f);
  std::fclose(f);
}

using Lines = std::vector<std::string>;

class ArchiveFolderReadTest : public ::testing::Test {
 protected:
  void SetUp() override { FileOperationJournal::Instance().Clear(); }
  void TearDown() override {
    FileOperationJournal::Instance().Clear();
    SetDropHandler(nullptr);
  }
  TForm1* Open(const std::string& leftLine) {
    f.WriteLines("log/Path1SL.text", {leftLine});
    f.WriteLines("log/Path2SL.text", {right});
    form = f.Open();
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Press(Qt::Key key) {
    QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->KeyTimer->isActive(); }, 5000));
  }

  TempDir files;
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
  TForm1* form = nullptr;
  std::string left = files.dir("left"), right = files.dir("right");
};

}  // namespace

TEST_F(ArchiveFolderReadTest, RowsOfABigArchiveComeWhileItIsStillReadAndTheFocusStaysOnItsRow) {
  // Stored last name first, so that most rows land above the first ones shown;
  // enough that a fast machine still reads it for a second.
  constexpr int kEntries = 1000000;
  char name[32];
  WriteZip(left + "/big.zip", kEntries, [&](int i) {
    std::snprintf(name, sizeof name, "f%06d.txt", kEntries - 1 - i);
    return std::string(name);
  });
  Open(left);
  FormFixture::SelectOnly(form->LV1, "big.zip");
  Press(Qt::Key_Return);
  TShellFileList* rows = form->LV1->FileList();
  ASSERT_EQ(form->LV1->GetPathName(), left + "/big.zip");
  // Painted with the first rows while the rest are read.
  EXPECT_TRUE(rows->Growing());
  const int first = rows->Count();
  EXPECT_GT(first, 0);
  EXPECT_LT(first, kEntries);
  const int focused = form->LV1->FocusedRow();
  ASSERT_GE(focused, 0);
  const std::string focusedName = rows->Items(focused)->GetDisplayName();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !rows->Growing(); }, 30000));
  EXPECT_EQ(rows->Count(), kEntries);
  EXPECT_EQ(rows->Items(0)->GetDisplayName(), "f000000.txt");
  EXPECT_EQ(rows->Items(kEntries - 1)->GetDisplayName(), "f999999.txt");
  EXPECT_EQ(rows->Items(form->LV1->FocusedRow())->GetDisplayName(), focusedName);
  EXPECT_TRUE(f.messages.empty());
}

TEST_F(ArchiveFolderReadTest, APathInsideABigArchiveIsReadWhileTheWindowDrawsAndCanBeGivenUp) {
  // Read for longer than the progress window waits to show, on a fast machine too.
  constexpr int kEntries = 1000000;
  char name[32];
  WriteZip(left + "/big.zip", kEntries, [&](int i) {
    std::snprintf(name, sizeof name, "d/f%06d.txt", i);
    return std::string(name);
  });
  Open(left);
  const std::string inside = left + "/big.zip/d";

  // Given up from the progress window: the pane stays where it was.
  QTimer cancel;
  cancel.setInterval(50);
  QObject::connect(&cancel, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QProgressDialog*>(w);
          dialog && dialog->objectName() == "workerProgress" && dialog->isVisible())
        if (auto* button = dialog->findChild<QPushButton*>()) button->click();
  });
  cancel.start();
  form->LV1->SetPathName(inside);
  cancel.stop();
  EXPECT_EQ(form->LV1->GetPathName(), left);

  // Read to the end: the window answered all along.
  int ticks = 0;
  QTimer tick;
  tick.setInterval(20);
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start();
  form->LV1->SetPathName(inside);
  tick.stop();
  EXPECT_EQ(form->LV1->GetPathName(), inside);
  EXPECT_GT(ticks, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->FileList()->Count() == kEntries; }, 30000));
}

TEST_F(ArchiveFolderReadTest, AChangeOfTheArchiveOnDiskIsReadAgainAndItsRemovalLeavesIt) {
  files.dir("src/docs");
  files.file("src/docs/readme.txt", "read me");
  files.file("src/top.txt", "top");
  ASSERT_TRUE(RunIn(files / "src", "zip -qrD ../left/a.zip docs top.txt"));
  Open(left + "/a.zip");
  ASSERT_TRUE(QTest::qWaitFor([&] { return FormFixture::DisplayNames(form->LV1) == Lines{"docs", "top.txt"}; }, 5000));
  // Rewritten beside it and renamed over it, as archivers do.
  files.file("src/new.txt", "new");
  ASSERT_TRUE(RunIn(files / "src", "zip -qrD ../b.zip docs top.txt new.txt && mv ../b.zip ../left/a.zip"));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return FormFixture::DisplayNames(form->LV1) == Lines{"docs", "new.txt", "top.txt"};
      },
      10000));
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip");
  std::filesystem::remove(left + "/a.zip");
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == left; }, 10000));
  EXPECT_TRUE(f.messages.empty());
}

TEST_F(ArchiveFolderReadTest, EntriesDraggedOutOntoAFolderAreCopiedOutAndTheArchiveStays) {
  InstallFileOperationDropHandler();  // as the program does when it starts
  InstallArchiveDropHandler();
  files.dir("src/docs");
  files.file("src/docs/readme.txt", "read me");
  files.file("src/top.txt", "top");
  ASSERT_TRUE(RunIn(files / "src", "zip -qrD ../left/a.zip docs top.txt"));
  const auto before = std::filesystem::last_write_time(left + "/a.zip");
  Open(left + "/a.zip");
  FormFixture::SelectOnly(form->LV1, "docs");
  // The desktop's drag loop, played by hand: a drop on the other pane's empty space, no key held.
  bool accepted = false;
  TShellListView::DragLoop = [&](QDrag* drag, Qt::DropActions actions) {
    QWidget* viewport = form->LV2->CurrentView()->viewport();
    const QPoint at(10, viewport->height() - 5);
    QDragEnterEvent enter(at, actions, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, actions, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    accepted = move.isAccepted() && move.dropAction() != Qt::IgnoreAction;
    QDropEvent drop(at, actions, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    drag->deleteLater();
  };
  QAbstractItemView* view = form->LV1->CurrentView();
  QPoint at = view->visualRect(form->LV1->Model()->index(FormFixture::RowOf(form->LV1, "docs"), 0)).center();
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
  QPoint to = at + QPoint(0, 12);
  QMouseEvent event(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &event);
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
  TShellListView::DragLoop = nullptr;
  EXPECT_TRUE(accepted);
  EXPECT_EQ(ReadWholeFile(right + "/docs/readme.txt"), "read me");
  EXPECT_EQ(std::filesystem::last_write_time(left + "/a.zip"), before);
  // Undone as a copy.
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(std::filesystem::exists(right + "/docs"));
  EXPECT_TRUE(f.messages.empty());
}
