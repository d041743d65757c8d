// The preview in place of a pane, on a real main window over real files:
// V and VV, the preview tabs, fitting, following the selection, restoring.
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTabBar>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "app/PreviewPicture.h"
#include "app/TextView.h"
#include "platform/namespace/PathText.h"
#include "image/SPIs.h"
#include "platform/state/IniFile.h"

namespace {

using Lines = std::vector<std::string>;

std::string Picture(const TempDir& dir, const std::string& name, int w, int h, const char* format = "BMP") {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(QColor(40, 120, 200));
  const std::string path = dir / name;
  EXPECT_TRUE(image.save(QString::fromStdString(path), format)) << path;
  return path;
}

class PreviewTest : public ::testing::Test {
 protected:
  TForm1* Open(const std::string& imageExt = ".bmp", const Lines& right = {}) {
    // The left pane as narrow as the key moves below expect (two icons a row).
    f.WriteState("tolvane.ini", "[Window]\nListViewWide=200\n[Ext]\nImageExt=" + imageExt + "\nTextExt=.txt\n");
    f.WriteLines("log/Path1SL.text", {left});
    f.WriteLines("log/Path2SL.text", right.empty() ? Lines{files.dir("right")} : right);
    form = f.Open();
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Select(const std::string& name) {
    form->LV1->RefreshList();
    FormFixture::SelectOnly(form->LV1, name);
  }
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }
  // A letter command, pressed once or twice, run to its end.
  void Command(Qt::Key key, bool twice = false) {
    Press(key);
    if (twice) Press(key);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !form->KeyTimer->isActive(); }, 2000));
    // A picture is decoded off the window's thread: its answer comes through the event loop.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !form->PreviewPictureBusy(); }, 10000));
    QApplication::processEvents();
  }
  QSize Shown() const { return form->Image1->pixmap().size(); }
  bool ImageIn(QWidget* pane) const { return form->Image1->parentWidget() == pane && form->Image1->isVisible(); }
  bool MemoIn(QWidget* pane) const { return form->Memo1->parentWidget() == pane && form->Memo1->isVisible(); }

  TempDir files;  // outlives the window
  FormFixture f;
  TForm1* form = nullptr;
  std::string left = files.dir("left");
};

TEST(PreviewFitTest, ScalesDownToTheLimitingSideAndRoundsHalvesToEven) {
  EXPECT_EQ(FittedPictureSize({1000, 500}, {400, 400}), QSize(400, 200));
  EXPECT_EQ(FittedPictureSize({500, 1000}, {400, 400}), QSize(200, 400));
  EXPECT_EQ(FittedPictureSize({100, 50}, {400, 400}), QSize(100, 50));  // never enlarged
  EXPECT_EQ(FittedPictureSize({5, 4}, {100, 2}), QSize(2, 2));          // 2.5 -> 2
  EXPECT_EQ(FittedPictureSize({7, 4}, {100, 2}), QSize(4, 2));          // 3.5 -> 4
  EXPECT_EQ(FittedPictureSize({4, 7}, {2, 100}), QSize(2, 4));
  EXPECT_EQ(FittedPictureSize({300, 200}, {0, 0}), QSize(300, 200));  // no area: as it is
}

TEST_F(PreviewTest, VShowsPicturesOfTheListedExtensionsInTheOtherPane) {
  Picture(files, "left/photo.jpg", 20, 10, "JPG");
  const std::string bmp = Picture(files, "left/Shot.BMP", 20, 10);
  Open(".bmp");
  const int folderTab = form->TC2->currentIndex();
  Select("photo.jpg");
  Command(Qt::Key_V);  // .jpg is not in ".bmp"
  EXPECT_FALSE(form->Image1->isVisible());
  EXPECT_TRUE(form->LV2->isVisible());

  Select("Shot.BMP");  // the extension is lowered first
  Command(Qt::Key_V);
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  EXPECT_FALSE(form->LV2->isVisible());
  EXPECT_FALSE(form->Edit2->isVisible());
  EXPECT_EQ(Shown(), QSize(20, 10));
  EXPECT_EQ(form->ImagePath.Lines, Lines{bmp});  // "defo" taken over
  EXPECT_EQ(form->TC2->count(), 1);
  EXPECT_EQ(form->TC2->tabText(0), "Shot.BMP");
  EXPECT_EQ(form->TC2Tag, folderTab);

  // Back with the period key: the folder pane as it was.
  Press(Qt::Key_Period);
  EXPECT_FALSE(form->Image1->isVisible());
  EXPECT_TRUE(form->Image1->pixmap().isNull());
  EXPECT_TRUE(form->LV2->isVisible() && form->Edit2->isVisible());
  EXPECT_EQ(form->TC2->tabText(0), "right");
}

TEST_F(PreviewTest, AWidenedImageExtShowsJpegAndVVAddsTabs) {
  const std::string a = Picture(files, "left/a.jpg", 30, 20, "JPG");
  const std::string b = Picture(files, "left/b.bmp", 30, 20);
  const std::string c = Picture(files, "left/c.jpg", 30, 20, "JPG");
  Open(".bmp.jpg");  // extensions strung together
  Select("a.jpg");
  Command(Qt::Key_V, true);  // the first VV reuses "defo"
  ASSERT_EQ(f.messages, Lines{});
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  EXPECT_EQ(form->ImagePath.Lines, Lines{a});
  Select("b.bmp");
  Command(Qt::Key_V, true);
  EXPECT_EQ(form->ImagePath.Lines, (Lines{a, b}));
  EXPECT_EQ(form->ImageTabIndex, 1);
  ASSERT_EQ(form->TC2->count(), 2);
  EXPECT_EQ(form->TC2->currentIndex(), 1);
  EXPECT_EQ(form->TC2->tabText(1), "b.bmp");
  // V replaces the current tab's file; the earlier tab stays.
  Select("c.jpg");
  Command(Qt::Key_V);
  EXPECT_EQ(form->ImagePath.Lines, (Lines{a, c}));
  EXPECT_EQ(form->TC2->tabText(1), "c.jpg");
  EXPECT_EQ(form->TC2->tabText(0), "a.jpg");

  // A right click closes a preview tab and its line; the one left is shown.
  QTest::mouseClick(form->TC2, Qt::RightButton, {}, form->TC2->tabRect(1).center());
  EXPECT_EQ(form->ImagePath.Lines, Lines{a});
  EXPECT_EQ(form->TC2->count(), 1);
  EXPECT_EQ(form->ImageTabIndex, 0);
  EXPECT_TRUE(ImageIn(form->TC2Pane));
}

TEST_F(PreviewTest, LargePicturesTouchTheLimitingSideSmallOnesStayAsTheyAre) {
  Picture(files, "left/wide.bmp", 3000, 300);
  Picture(files, "left/tall.bmp", 300, 3000);
  Picture(files, "left/small.bmp", 40, 30);
  Open();
  Select("wide.bmp");
  Command(Qt::Key_V);
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  const QSize pane = form->TC2Pane->size();
  ASSERT_LT(pane.width(), 3000);
  EXPECT_EQ(Shown().width(), pane.width());
  EXPECT_NEAR(Shown().height(), 300.0 * pane.width() / 3000, 0.5);
  Select("tall.bmp");
  Command(Qt::Key_V);
  EXPECT_EQ(Shown().height(), pane.height());
  EXPECT_NEAR(Shown().width(), 300.0 * pane.height() / 3000, 0.5);
  Select("small.bmp");
  Command(Qt::Key_V);
  EXPECT_EQ(Shown(), QSize(40, 30));
  EXPECT_EQ(form->Image1->alignment(), Qt::AlignCenter);
}

TEST_F(PreviewTest, ThePreviewFollowsOneSelectedItem400msAfterTheLastMove) {
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) Picture(files, std::string("left/") + name, 8, 8);
  files.file("left/e.txt", "text");
  Open();
  Select("a.bmp");
  Command(Qt::Key_V);
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  QElapsedTimer sinceLastMove;
  Press(Qt::Key_Down);
  QTest::qWait(100);
  sinceLastMove.start();
  Press(Qt::Key_Down);
  EXPECT_EQ(form->ImagePath.Lines, Lines{left + "/a.bmp"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ImagePath[0] == left + "/c.bmp"; }, 3000));
  EXPECT_GE(sinceLastMove.elapsed(), 400);
  EXPECT_EQ(form->TC2->tabText(0), "c.bmp");

  // Two selected: nothing follows.
  Press(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(form->LV1->SelectedCount(), 2);
  QTest::qWait(600);
  EXPECT_EQ(form->ImagePath[0], left + "/c.bmp");
  // A file of the other kind leaves the picture as it is.
  Press(Qt::Key_Down);
  Press(Qt::Key_Down);
  EXPECT_EQ(form->LV1->SelectedCount(), 1);
  QTest::qWait(700);
  EXPECT_EQ(form->ImagePath[0], left + "/c.bmp");
  EXPECT_TRUE(ImageIn(form->TC2Pane));
}

TEST_F(PreviewTest, APreviewTabClickMovesTheOtherPaneToTheFileAndFocusesIt) {
  const std::string first = Picture(files, "left/aaa.bmp", 8, 8);
  Picture(files, "left/zzz.bmp", 8, 8);
  const std::string other = files.dir("other");
  const std::string second = Picture(files, "other/b.bmp", 8, 8);
  Open();
  Select("aaa.bmp");
  Command(Qt::Key_V, true);
  form->LV1->SetPathName(other);
  Select("b.bmp");
  Command(Qt::Key_V, true);
  ASSERT_EQ(form->ImagePath.Lines, (Lines{first, second}));
  form->LV1->SelectAllRows(false);

  QTest::mouseClick(form->TC2, Qt::LeftButton, {}, form->TC2->tabRect(0).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == left; }, 2000));
  EXPECT_EQ(form->ImageTabIndex, 0);
  // The first item of the list is found as well.
  EXPECT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, "aaa.bmp"));
  EXPECT_EQ(FormFixture::RowOf(form->LV1, "aaa.bmp"), 0);

  // Back to the second tab, then to the first while the list shows its folder already.
  QTest::mouseClick(form->TC2, Qt::LeftButton, {}, form->TC2->tabRect(1).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == other; }, 2000));
  EXPECT_EQ(form->ImageTabIndex, 1);
}

TEST_F(PreviewTest, JapaneseTextFilesShowInTheirEncodings) {
  files.file("left/sjis.txt", "\x93\xfa\x96\x7b\x8c\xea\x95\x5c\r\n");
  files.file("left/euc.txt", "\xc6\xfc\xcb\xdc\xb8\xec\xc9\xbd\n");
  files.file("left/utf16.txt", std::string("\xFF\xFE\xE5\x65\x2C\x67\x9E\x8A\x68\x88\x0A\x00", 12));
  Open();
  for (const char* name : {"sjis.txt", "euc.txt", "utf16.txt"}) {
    Select(name);
    Command(Qt::Key_V);
    ASSERT_TRUE(MemoIn(form->TC2Pane)) << name;
    // Read in the background: the text comes a moment later.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->Memo1->ShownRows() == QStringList{QString::fromUtf8("日本語表")}; }, 3000))
        << name << " " << form->Memo1->ShownRows().join('|').toStdString();
    EXPECT_EQ(form->TC2->tabText(0), QString(name));
  }
  // Nothing typed into the preview changes its text.
  form->Memo1->setFocus();
  QTest::keyClicks(form->Memo1, "xyz");
  QTest::qWait(50);
  EXPECT_EQ(form->Memo1->ShownRows(), QStringList{QString::fromUtf8("日本語表")});
}

TEST_F(PreviewTest, TheFolderTabIsKeptAcrossKindsAndSavedAtExit) {
  Picture(files, "left/p.bmp", 8, 8);
  files.file("left/t.txt", "text");
  const Lines right = {files.dir("r0"), files.dir("r1"), files.dir("r2")};
  Open(".bmp", right);
  form->TC2->setCurrentIndex(2);
  Select("p.bmp");
  Command(Qt::Key_V, true);
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  Select("t.txt");
  Command(Qt::Key_V);  // straight from the picture to the text
  ASSERT_TRUE(MemoIn(form->TC2Pane));
  EXPECT_FALSE(form->Image1->isVisible());
  EXPECT_TRUE(form->Image1->pixmap().isNull());
  EXPECT_EQ(form->TC2Tag, 2);
  f.Close();
  TIniFile ini(f.StatePath("tolvane.ini"));
  EXPECT_EQ(ini.ReadInteger("Window", "TC2TabIndex", -1), 2);
}

TEST_F(PreviewTest, ThePluginHostKeepsPicturePluginsOnlyFromTheSusieFolder) {
  f.WriteState("registry.ini", "[HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in]\nPath=" TEST_SPI_DIR "\n");
  Open();
  ASSERT_TRUE(form->SPIs1);
  EXPECT_FALSE(form->SPIs1->MacBinary);
  EXPECT_FALSE(form->SPIs1->GraphicPreview);
  EXPECT_EQ(form->SPIs1->SearchOptions, TSPISearchOptions{spsSusieDir});
  Lines kept;
  for (int i = 0; i < form->SPIs1->Count(); ++i) {
    EXPECT_TRUE(form->SPIs1->Items(i)->InheritsFrom(TInSPI::StaticClass()));
    kept.push_back(BaseName(form->SPIs1->Items(i)->FileName));
  }
  EXPECT_NE(std::find(kept.begin(), kept.end(), "tstin.spi"), kept.end());
  EXPECT_EQ(std::find(kept.begin(), kept.end(), "tstam.spi"), kept.end());  // an archive plug-in
  // Only the Susie folder: the bundled plug-ins beside the program are not searched as well.
  EXPECT_EQ(std::find(kept.begin(), kept.end(), "ifjpeg.spi"), kept.end());
}

TEST_F(PreviewTest, APictureThatFailsIsReportedAndLeavesThePreviewAsItWas) {
  const std::string good = Picture(files, "left/good.bmp", 16, 16);
  files.file("left/bad.bmp", "BM this is no picture");
  Open();
  Select("good.bmp");
  Command(Qt::Key_V);
  ASSERT_TRUE(ImageIn(form->TC2Pane));
  const qint64 shown = form->Image1->pixmap().cacheKey();
  Select("bad.bmp");
  Command(Qt::Key_V);
  Command(Qt::Key_V, true);
  EXPECT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(form->Image1->pixmap().cacheKey(), shown);
  EXPECT_EQ(form->ImagePath.Lines, Lines{good});
  EXPECT_EQ(form->TC2->count(), 1);
}

}  // namespace
