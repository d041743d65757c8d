// Writing into archives on a real main window: CC and MM into folders of a ZIP
// and a 7z shown in the other pane, the conflict question, D on entries, a
// format no library writes, and the pack command with its dialog.
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "ShellRun.h"
#include "TestData.h"
#include "app/PackDialog.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveListing.h"
#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "platform/fileops/FileOperation.h"
#include "platform/ui/PlatformUi.h"

namespace {

using Lines = std::vector<std::string>;

class ArchiveWriteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    files.dir("src/docs");
    files.file("src/docs/readme.txt", "read me");
    files.file("src/top.txt", "top");
    files.dir("left/folder");
    files.file("left/folder/f.txt", "in a folder");
    files.file("left/new.txt", "new file");
    files.file("left/top.txt", "newer top");
    EXPECT_TRUE(RunIn(files / "src", "zip -qrD ../right/a.zip docs top.txt"));
    EXPECT_TRUE(RunIn(files / "src", "bsdtar --format 7zip -cf ../right/b.7z docs top.txt"));
    ui.defaultConfirm = true;
  }
  void TearDown() override {
    FileOperationJournal::Instance().Clear();
    SetDropHandler(nullptr);
  }

  TForm1* Open(const std::string& rightLine) {
    f.WriteLines("log/Path1SL.text", {left});
    f.WriteLines("log/Path2SL.text", {rightLine});
    form = f.Open();
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Press(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    for (int i = 0; i < times; ++i) QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->KeyTimer->isActive(); }, 5000));
    QApplication::processEvents();
  }
  std::string Extracted(const std::string& archive, const std::string& entry) {
    const std::string out = files.dir("check" + std::to_string(++checks));
    EXPECT_TRUE(RunIn(out, "bsdtar -xf '" + archive + "'"));
    return ReadWholeFile(out + "/" + entry);
  }

  TempDir files;  // outlives the window
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
  TForm1* form = nullptr;
  std::string left = files.dir("left"), right = files.dir("right");
  int checks = 0;
};

}  // namespace

TEST_F(ArchiveWriteCommandTest, CCIntoAFolderOfAZipAsksOnConflictsAndTheOtherPaneShowsTheNewEntries) {
  files.file("left/readme.txt", "replacing");
  Open(right + "/a.zip/docs");
  ASSERT_EQ(form->LV2->GetPathName(), right + "/a.zip/docs");
  FormFixture::SelectOnly(form->LV1, "new.txt");
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "folder"), true);
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "readme.txt"), true);
  ui.replaceAnswers = {ConflictAnswer::No};
  Press(Qt::Key_C, 2);
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(FormFixture::DisplayNames(form->LV2), (Lines{"folder", "new.txt", "readme.txt"}));
  EXPECT_EQ(Extracted(right + "/a.zip", "docs/new.txt"), "new file");
  EXPECT_EQ(Extracted(right + "/a.zip", "docs/folder/f.txt"), "in a folder");
  // The entry the user kept.
  EXPECT_EQ(Extracted(right + "/a.zip", "docs/readme.txt"), "read me");
  EXPECT_TRUE(std::filesystem::exists(left + "/new.txt"));

  // Yes replaces it.
  ui.replaceAnswers = {ConflictAnswer::Yes};
  FormFixture::SelectOnly(form->LV1, "readme.txt");
  Press(Qt::Key_C, 2);
  EXPECT_EQ(Extracted(right + "/a.zip", "docs/readme.txt"), "replacing");
}

TEST_F(ArchiveWriteCommandTest, MMIntoASevenZipRemovesTheSourcesOnlyOnceTheArchiveHoldsThem) {
  Open(right + "/b.7z");
  FormFixture::SelectOnly(form->LV1, "new.txt");
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "folder"), true);
  Press(Qt::Key_M, 2);
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(FormFixture::DisplayNames(form->LV2), (Lines{"docs", "folder", "new.txt", "top.txt"}));
  EXPECT_EQ(Extracted(right + "/b.7z", "folder/f.txt"), "in a folder");
  EXPECT_FALSE(std::filesystem::exists(left + "/new.txt"));
  EXPECT_FALSE(std::filesystem::exists(left + "/folder"));
  // They went to the trash: undo brings them back.
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(left + "/new.txt"), "new file");
}

TEST_F(ArchiveWriteCommandTest, FilesDroppedOnAnArchiveFolderOrItsFolderRowsAreAddedAndAShiftDropMovesThem) {
  InstallFileOperationDropHandler();  // as the program does when it starts
  InstallArchiveDropHandler();
  Open(right + "/a.zip");
  const uint32_t both = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  auto drop = [&](IDropTarget* target, const std::vector<std::string>& paths, uint32_t keys) {
    std::unique_ptr<QMimeData> data(MakeFilesMimeData(paths, false));
    return target->Drop(data.get(), keys, both);
  };
  // On a folder row: into that folder, copied (no key, and the archive is no file system of its own).
  std::unique_ptr<IDropTarget> onDocs =
      form->LV2->FileList()->Items(FormFixture::RowOf(form->LV2, "docs"))->GetDropTarget();
  ASSERT_TRUE(onDocs);
  EXPECT_EQ(drop(onDocs.get(), {left + "/new.txt"}, 0), DROPEFFECT_COPY);
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(Extracted(right + "/a.zip", "docs/new.txt"), "new file");
  EXPECT_TRUE(std::filesystem::exists(left + "/new.txt"));

  // On the pane's own folder with Shift: moved, the source to the trash once the archive holds it.
  std::unique_ptr<IDropTarget> onPane = form->LV2->FileList()->GetFolderDropTarget();
  ASSERT_TRUE(onPane);
  EXPECT_EQ(drop(onPane.get(), {left + "/folder"}, DRAGKEY_SHIFT), DROPEFFECT_MOVE);
  EXPECT_EQ(Extracted(right + "/a.zip", "folder/f.txt"), "in a folder");
  EXPECT_FALSE(std::filesystem::exists(left + "/folder"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return FormFixture::RowOf(form->LV2, "folder") >= 0; }, 5000));
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(left + "/folder/f.txt"), "in a folder");

  // Refused with a message, the archive untouched: a link, and items of two folders at once.
  const std::string bytes = ReadWholeFile(right + "/a.zip");
  EXPECT_EQ(drop(onPane.get(), {left + "/new.txt"}, DRAGKEY_CONTROL | DRAGKEY_SHIFT), DROPEFFECT_NONE);
  EXPECT_EQ(drop(onPane.get(), {left + "/top.txt", left + "/folder/f.txt"}, 0), DROPEFFECT_NONE);
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(ReadWholeFile(right + "/a.zip"), bytes);

  // Cut files pasted into the pane: added as a Shift drop would, and the clipboard emptied.
  ASSERT_TRUE(f.Focus(form->LV2));
  QGuiApplication::clipboard()->setMimeData(MakeFilesMimeData({left + "/folder/f.txt"}, true));
  Press(Qt::Key_V, 1, Qt::ControlModifier);
  EXPECT_EQ(Extracted(right + "/a.zip", "f.txt"), "in a folder");
  EXPECT_FALSE(std::filesystem::exists(left + "/folder/f.txt"));
  EXPECT_FALSE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));

  // An archive inside another one is read only: it takes no drops.
  ASSERT_TRUE(RunIn(right, "zip -q outer.zip a.zip"));
  form->LV2->SetPathName(right + "/outer.zip/a.zip");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV2->FileList()->Count() > 0; }, 5000));
  EXPECT_FALSE(form->LV2->FileList()->GetFolderDropTarget());
}

TEST_F(ArchiveWriteCommandTest, DDeletesSelectedEntriesOfAZipAfterTheQuestion) {
  Open(right + "/a.zip");
  ASSERT_TRUE(f.Focus(form->LV2));
  FormFixture::SelectOnly(form->LV2, "docs");
  ui.deleteAnswers = {false};
  const std::string bytes = ReadWholeFile(right + "/a.zip");
  Press(Qt::Key_D);
  ASSERT_EQ(ui.deleteCalls.size(), 1u);
  EXPECT_TRUE(ui.deleteCalls[0].second);  // for good: no trash inside an archive
  EXPECT_EQ(ReadWholeFile(right + "/a.zip"), bytes);
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(FormFixture::DisplayNames(form->LV2), (Lines{"top.txt"}));
  std::string error;
  auto listing = ReadArchiveListing(right + "/a.zip", error);
  ASSERT_TRUE(listing) << error;
  EXPECT_EQ(listing->EntryCount(), 1u);
}

TEST_F(ArchiveWriteCommandTest, AnArchiveNoLibraryWritesIsExplainedAndLeftAlone) {
  std::filesystem::copy_file(TestArchive("lha_lh6.lzh"), right + "/c.lzh");
  const std::string bytes = ReadWholeFile(right + "/c.lzh");
  Open(right + "/c.lzh");
  ASSERT_EQ(form->LV2->GetPathName(), right + "/c.lzh");
  FormFixture::SelectOnly(form->LV1, "new.txt");
  Press(Qt::Key_C, 2);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("書き込めません"), std::string::npos) << f.messages[0];
  EXPECT_EQ(ReadWholeFile(right + "/c.lzh"), bytes);
  ASSERT_TRUE(f.Focus(form->LV2));
  form->LV2->SelectAllRows(true);
  Press(Qt::Key_D);
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_TRUE(ui.deleteCalls.empty());
  EXPECT_EQ(ReadWholeFile(right + "/c.lzh"), bytes);
}

TEST_F(ArchiveWriteCommandTest, AZipInsideAZipIsNotWrittenAndTheOuterOneStaysAsItWas) {
  ASSERT_TRUE(RunIn(right, "zip -q outer.zip a.zip"));
  const std::string bytes = ReadWholeFile(right + "/outer.zip");
  Open(right + "/outer.zip/a.zip/docs");
  ASSERT_EQ(form->LV2->GetPathName(), right + "/outer.zip/a.zip/docs");
  FormFixture::SelectOnly(form->LV1, "new.txt");
  Press(Qt::Key_C, 2);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("書庫の中の書庫"), std::string::npos) << f.messages[0];
  EXPECT_EQ(ReadWholeFile(right + "/outer.zip"), bytes);
  EXPECT_EQ(FormFixture::DisplayNames(form->LV2), (Lines{"readme.txt"}));
}

TEST_F(ArchiveWriteCommandTest, CtrlPPacksTheSelectionIntoTheOtherPaneWithTheDialogsChoice) {
  Open(right);
  FormFixture::SelectOnly(form->LV1, "folder");
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "new.txt"), true);
  form->LV1->SetFocusedRow(FormFixture::RowOf(form->LV1, "folder"));
  QString shownName;
  bool passwordOpen = true;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<TPackDialog*>(QApplication::activeModalWidget());
    if (!dialog) dialog = form->findChild<TPackDialog*>();
    ASSERT_TRUE(dialog);
    shownName = dialog->NameEdit->text();
    dialog->FormatBox->setCurrentIndex(3);  // tar.xz
    passwordOpen = dialog->PasswordEdit->isEnabled();
    dialog->accept();
  });
  Press(Qt::Key_P, 1, Qt::ControlModifier);
  EXPECT_EQ(shownName, QStringLiteral("folder.zip"));
  EXPECT_FALSE(passwordOpen);
  EXPECT_TRUE(f.messages.empty());
  ASSERT_TRUE(std::filesystem::exists(right + "/folder.tar.xz"));
  EXPECT_EQ(Extracted(right + "/folder.tar.xz", "folder/f.txt"), "in a folder");
  EXPECT_EQ(Extracted(right + "/folder.tar.xz", "new.txt"), "new file");
  TShellFileItem* focused = form->LV2->FileList()->Items(form->LV2->FocusedRow());
  ASSERT_TRUE(focused);
  EXPECT_EQ(focused->GetDisplayName(), "folder.tar.xz");
}

TEST(PackDialogTest, TheExtensionFollowsTheFormatAndBadFieldsKeepItOpen) {
  TPackDialog dialog(nullptr, "photos", "/tmp", 2);
  EXPECT_EQ(dialog.NameEdit->text(), QStringLiteral("photos.zip"));
  dialog.FormatBox->setCurrentIndex(2);
  EXPECT_EQ(dialog.NameEdit->text(), QStringLiteral("photos.tar.gz"));
  EXPECT_FALSE(dialog.PasswordEdit->isEnabled());
  dialog.FormatBox->setCurrentIndex(0);
  EXPECT_TRUE(dialog.PasswordEdit->isEnabled());
  dialog.PasswordEdit->setText("a");
  dialog.ConfirmEdit->setText("b");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_FALSE(dialog.ErrorLabel->text().isEmpty());
  dialog.ConfirmEdit->setText("a");
  dialog.NameEdit->setText("../x.zip");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  dialog.NameEdit->setText("x.zip");
  dialog.LevelBox->setValue(0);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  PackRequest request = dialog.Choice();
  EXPECT_EQ(request.target, "/tmp/x.zip");
  EXPECT_EQ(request.password, "a");
  EXPECT_EQ(request.level, 0);
  EXPECT_EQ(request.format, PackFormat::Zip);
}
