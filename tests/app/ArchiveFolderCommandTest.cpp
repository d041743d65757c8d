// Archives as folders on a real main window: Enter into a ZIP, folders that
// exist only as paths, BackSpace out to the archive's row, tabs that outlive
// a restart, copying entries out with conflicts and undo, a preview inside.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>
#include <gtest/gtest.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "ShellRun.h"
#include "archive/ArchiveCache.h"
#include "platform/fileops/FileOperation.h"

namespace {

using Lines = std::vector<std::string>;

class ArchiveFolderCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    files.dir("src/docs/deep");
    files.file("src/docs/readme.txt", "read me");
    files.file("src/docs/deep/x.txt", "deep x");
    files.file("src/top.txt", "top");
    // -D: no folder entries, so docs and deep exist only as paths.
    EXPECT_TRUE(RunIn(files / "src", "zip -qrD ../left/a.zip docs top.txt"));
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }

  TForm1* Open(const std::string& leftLine) {
    f.WriteState("tolvane.ini", "[Ext]\nImageExt=.jpg\nTextExt=.txt\n");
    f.WriteLines("log/Path1SL.text", {leftLine});
    f.WriteLines("log/Path2SL.text", {right});
    form = f.Open();
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Press(Qt::Key key, int times = 1) {
    for (int i = 0; i < times; ++i) QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->KeyTimer->isActive(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->PreviewPictureBusy(); }, 10000));
    QApplication::processEvents();
  }
  void EnterOn(const std::string& name) {
    FormFixture::SelectOnly(form->LV1, name);
    Press(Qt::Key_Return);
  }
  std::string Focused() {
    TShellFileItem* item = form->LV1->FileList()->Items(form->LV1->FocusedRow());
    return item ? item->GetDisplayName() : std::string();
  }

  TempDir files;  // outlives the window
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
  TForm1* form = nullptr;
  std::string left = files.dir("left"), right = files.dir("right");
};

}  // namespace

TEST_F(ArchiveFolderCommandTest, EnterGoesInThroughPathOnlyFoldersAndBackSpaceComesBackToTheArchiveRow) {
  files.file("left/other.txt", "o");
  Open(left);
  EnterOn("a.zip");
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip");
  EXPECT_EQ(FormFixture::DisplayNames(form->LV1), (Lines{"docs", "top.txt"}));
  EnterOn("docs");
  EnterOn("deep");
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip/docs/deep");
  EXPECT_EQ(FormFixture::DisplayNames(form->LV1), (Lines{"x.txt"}));
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip/docs");
  EXPECT_EQ(Focused(), "deep");
  Press(Qt::Key_Backspace);
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), left);
  EXPECT_EQ(Focused(), "a.zip");
  EXPECT_TRUE(f.messages.empty());

  // A path typed into the folder edit goes inside as well.
  form->Edit1->setText(QString::fromStdString(left + "/a.zip/docs/*.*"));
  form->Edit1KeyDown(form->Edit1, 13);  // Return
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip/docs");
}

TEST_F(ArchiveFolderCommandTest, ATabInsideAnArchiveOpensThereAfterARestartOrAtItsFolderWhenItHasGone) {
  Open(left + "/a.zip/docs/deep");
  EXPECT_EQ(form->LV1->GetPathName(), left + "/a.zip/docs/deep");
  EXPECT_EQ(FormFixture::DisplayNames(form->LV1), (Lines{"x.txt"}));
  f.Close();
  // The state kept the path inside the archive.
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/Path1SL.text")).find(left + "/a.zip/docs/deep"), 0u);
  std::filesystem::remove(left + "/a.zip");
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), left);
}

TEST_F(ArchiveFolderCommandTest, CopyingEntriesOutAsksOnConflictsAndIsUndone) {
  files.file("right/top.txt", "older top");
  Open(left + "/a.zip");
  form->LV2->SetPathName(right);
  FormFixture::SelectOnly(form->LV1, "docs");
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "top.txt"), true);
  ui.replaceAnswers = {ConflictAnswer::No};
  Press(Qt::Key_C, 2);
  // The folder came with what is inside it; the existing file stayed.
  EXPECT_EQ(ReadWholeFile(right + "/docs/readme.txt"), "read me");
  EXPECT_EQ(ReadWholeFile(right + "/docs/deep/x.txt"), "deep x");
  EXPECT_EQ(ReadWholeFile(right + "/top.txt"), "older top");
  EXPECT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(FormFixture::DisplayNames(form->LV2), (Lines{"docs", "top.txt"}));
  // Nothing of the extraction is left in the cache.
  const std::string cache = ArchiveCacheFolder();
  EXPECT_TRUE(std::filesystem::is_empty(cache));

  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(right + "/docs"));
  EXPECT_EQ(ReadWholeFile(right + "/top.txt"), "older top");

  // Nothing goes into an archive: said, and nothing is written.
  form->LV2->SetPathName(left + "/a.zip/docs");
  ASSERT_EQ(form->LV2->GetPathName(), left + "/a.zip/docs");
  const auto before = std::filesystem::last_write_time(left + "/a.zip");
  FormFixture::SelectOnly(form->LV1, "top.txt");
  form->TryTransferSelection(form->LV1, form->LV2->GetPathName(), false);
  EXPECT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(std::filesystem::last_write_time(left + "/a.zip"), before);
}

TEST_F(ArchiveFolderCommandTest, VPreviewsAJpegInsideAZipAndEnterOpensAZipInsideAZip) {
  QImage image(24, 12, QImage::Format_RGB32);
  image.fill(QColor(200, 40, 40));
  ASSERT_TRUE(image.save(QString::fromStdString(files / "src/photo.jpg"), "JPG"));
  ASSERT_TRUE(RunIn(files / "src", "zip -q ../left/inner.zip photo.jpg && cd ../left && zip -q outer.zip inner.zip"));
  Open(left);
  EnterOn("outer.zip");
  EnterOn("inner.zip");
  EXPECT_EQ(form->LV1->GetPathName(), left + "/outer.zip/inner.zip");
  FormFixture::SelectOnly(form->LV1, "photo.jpg");
  Press(Qt::Key_V);
  ASSERT_TRUE(form->Image1->isVisible());
  EXPECT_EQ(form->Image1->pixmap().size(), QSize(24, 12));
  EXPECT_TRUE(f.messages.empty());
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), left + "/outer.zip");
  EXPECT_EQ(Focused(), "inner.zip");
}
