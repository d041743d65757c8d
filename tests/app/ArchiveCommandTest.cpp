// U on a real main window: archives made by real tools (and real Japanese
// LHA archives), extracted through the real archiver libraries.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <filesystem>
#include <gtest/gtest.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ShellRun.h"
#include "TestData.h"
#include "archive/ArchiveFile.h"
#include "archive/ArchiverOptions.h"
#include "platform/namespace/PathText.h"

namespace {

using Lines = std::vector<std::string>;

// Answers the message boxes that come up (the libraries' questions) with the
// button of the given text, recording what they asked.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible()) continue;
        asked.push_back(box->text().toStdString());
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* button : box->buttons())
          if (button->text() == answer) chosen = button;
        if (chosen)
          chosen->click();
        else
          box->reject();
      }
    });
    timer_.start();
  }
  QString answer = "いいえ";
  Lines asked;

 private:
  QTimer timer_;
};

class ArchiveCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src = files.dir("src");
    files.file("src/a.txt", "alpha");
    files.dir("src/sub");
    files.file("src/sub/b.txt", "beta");
  }
  TForm1* Open() {
    form = f.OpenOn(left, right);
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Select(const std::string& name) {
    form->LV1->RefreshList();
    FormFixture::SelectOnly(form->LV1, name);
  }
  // U as the user presses it, run to its end.
  void PressU() {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_U);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !form->KeyTimer->isActive(); }, 2000));
    QApplication::processEvents();
  }
  void ExtractOnce(const std::string& name) {
    // A question of the library took the focus for a while.
    ASSERT_TRUE(f.Focus(form->LV1));
    Select(name);
    // The process's current folder is the right pane's: nothing may land there.
    form->LV2->SetPathName(right);
    PressU();
  }

  TempDir files;  // outlives the window
  FormFixture f;
  TForm1* form = nullptr;
  std::string src, left = files.dir("left"), right = files.dir("right");
};

TEST_F(ArchiveCommandTest, OneEntryGoesBesideTheArchiveSeveralIntoAFolderNamedAfterIt) {
  ASSERT_TRUE(RunIn(src, "zip -q ../left/one.zip a.txt && zip -qr ../left/many.zip a.txt sub"));
  Open();
  ExtractOnce("one.zip");
  EXPECT_EQ(ReadWholeFile(left + "/a.txt"), "alpha");
  EXPECT_FALSE(Exists(left + "/one"));
  // The list was read again at once, not when its watcher would have settled,
  // and the focus stayed on the archive.
  EXPECT_GE(FormFixture::RowOf(form->LV1, "a.txt"), 0);
  EXPECT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, "one.zip"));

  ExtractOnce("many.zip");
  EXPECT_EQ(ReadWholeFile(left + "/many/a.txt"), "alpha");
  EXPECT_EQ(ReadWholeFile(left + "/many/sub/b.txt"), "beta");
  EXPECT_GE(FormFixture::RowOf(form->LV1, "many"), 0);
  EXPECT_TRUE(std::filesystem::is_empty(right));
  EXPECT_TRUE(f.messages.empty());
  // The list is watched again: a file made by someone else shows up.
  files.file("left/later.txt", "x");
  EXPECT_TRUE(QTest::qWaitFor([&] { return FormFixture::RowOf(form->LV1, "later.txt") >= 0; }, 8000));
}

TEST_F(ArchiveCommandTest, TarGzAndJapaneseLhaArchives) {
  ASSERT_TRUE(RunIn(src, "bsdtar -czf ../left/pack.tar.gz a.txt sub/b.txt && bsdtar -czf ../left/single.tgz a.txt"));
  std::filesystem::copy_file(TestArchive("lha_filename_cp932.lzh"), left + "/日本語.lzh");
  Open();
  ExtractOnce("pack.tar.gz");  // the whole compound extension goes
  EXPECT_EQ(ReadWholeFile(left + "/pack/a.txt"), "alpha");
  EXPECT_EQ(ReadWholeFile(left + "/pack/sub/b.txt"), "beta");
  ExtractOnce("single.tgz");
  EXPECT_EQ(ReadWholeFile(left + "/a.txt"), "alpha");
  ExtractOnce("日本語.lzh");
  EXPECT_TRUE(Exists(left + "/日本語/漢字.txt"));
  EXPECT_TRUE(Exists(left + "/日本語/表.txt"));
  EXPECT_TRUE(std::filesystem::is_empty(right));
}

TEST_F(ArchiveCommandTest, AnEntryClimbingOutOfTheFolderWritesNothingOutside) {
  ASSERT_TRUE(RunIn(left,
                    "python3 -c \"import zipfile; z = zipfile.ZipFile('evil.zip', 'w'); "
                    "z.writestr('../escaped.txt', 'x'); z.writestr('ok.txt', 'fine'); z.close()\""));
  Open();
  BoxAnswerer boxes;  // a refusal may be reported in a box of the library's
  ExtractOnce("evil.zip");
  EXPECT_FALSE(Exists(files.path() + "/escaped.txt"));
  EXPECT_FALSE(Exists(left + "/escaped.txt"));
  EXPECT_EQ(ReadWholeFile(left + "/evil/ok.txt"), "fine");
}

TEST_F(ArchiveCommandTest, AnExistingFileIsReplacedOnlyWhenTheLibraryAsked) {
  ASSERT_TRUE(RunIn(src, "zip -q ../left/one.zip a.txt"));
  files.file("left/a.txt", "mine");
  Open();
  BoxAnswerer boxes;
  ExtractOnce("one.zip");
  ASSERT_EQ(boxes.asked.size(), 1u);
  EXPECT_NE(boxes.asked[0].find("a.txt"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(left + "/a.txt"), "mine");
  boxes.answer = "はい";
  ExtractOnce("one.zip");
  EXPECT_EQ(boxes.asked.size(), 2u);
  EXPECT_EQ(ReadWholeFile(left + "/a.txt"), "alpha");
}

TEST_F(ArchiveCommandTest, NotAnArchiveOrNoListFocusedDoesNothing) {
  ASSERT_TRUE(RunIn(src, "zip -q ../left/one.zip a.txt"));
  files.file("left/notes.txt", "text");
  Open();
  // The window's own settings of the component.
  EXPECT_TRUE(IsNotSetString(form->Archive->FileName()));
  EXPECT_EQ(form->Archive->OutputSize(), 0);
  EXPECT_EQ(form->Archive->ArchiverType(), atAutoDetect);
  EXPECT_TRUE(IsNotSetString(form->Archive->Options.w) && IsNotSetString(form->Archive->Options.gr));
  EXPECT_EQ(form->Archive->Options.jyc, -1);
  EXPECT_TRUE(form->Archive->Options.ResFileUsage.Contains(ruOnUnpack));
  EXPECT_FALSE(form->Archive->Options.ResFileUsage.Contains(ruOnUpdate));

  ExtractOnce("notes.txt");
  EXPECT_TRUE(IsNotSetString(form->Archive->FileName()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(left), {}), 2);
  EXPECT_TRUE(f.messages.empty());

  // A broken archive: the message, and the list is read and watched again.
  files.file("left/broken.zip", "PK\x03\x04 not really");
  ExtractOnce("broken.zip");
  EXPECT_EQ(f.messages.size(), 1u);
  EXPECT_GE(FormFixture::RowOf(form->LV1, "broken.zip"), 0);
  f.messages.clear();

  Select("one.zip");
  ASSERT_TRUE(f.Focus(form->Edit1));
  form->ActionList1['U' - 65]->trigger();
  EXPECT_EQ(form->Archive->FileName(), left + "/broken.zip");
  EXPECT_FALSE(Exists(left + "/a.txt"));
  EXPECT_TRUE(f.messages.empty());
}

TEST_F(ArchiveCommandTest, TheFolderNamedAfterTheArchiveIsAlwaysANewChild) {
  EXPECT_EQ(TForm1::ArchiveFolderName("/d/pack.tar.gz"), "pack");
  EXPECT_EQ(TForm1::ArchiveFolderName("/d/P.TAR.BZ2"), "P");
  EXPECT_EQ(TForm1::ArchiveFolderName("/d/x.tar.zst"), "x");
  EXPECT_EQ(TForm1::ArchiveFolderName("/d/a.b.zip"), "a.b");
  EXPECT_EQ(TForm1::ArchiveFolderName("/d/.zip"), "_zip");
  // Two entries at the top, so a folder is made: never ".." or "." of the archive's folder.
  ASSERT_TRUE(RunIn(left,
                    "python3 -c \"import zipfile\nfor n in ('...zip', '..zip'):\n"
                    "  z = zipfile.ZipFile(n, 'w'); z.writestr('.config/autostart/x.desktop', 'x');"
                    " z.writestr('b.txt', 'b'); z.close()\""));
  Open();
  ExtractOnce("...zip");
  ExtractOnce("..zip");
  EXPECT_FALSE(Exists(files.path() + "/.config"));
  EXPECT_FALSE(Exists(left + "/.config"));
  EXPECT_FALSE(Exists(left + "/b.txt"));
  EXPECT_EQ(ReadWholeFile(left + "/___zip/.config/autostart/x.desktop"), "x");
  EXPECT_EQ(ReadWholeFile(left + "/__zip/b.txt"), "b");
}

TEST_F(ArchiveCommandTest, AFifoNamedLikeAnArchiveIsRefusedWithoutWaiting) {
  const std::string fifo = left + "/f.zip";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Open();
  // Should U block in open(), a writer lets it go after a while, and the test fails.
  std::atomic<bool> done{false}, rescued{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !done; ++i) usleep(50000);
    if (done) return;
    rescued = true;
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  });
  ExtractOnce("f.zip");
  done = true;
  watchdog.join();
  EXPECT_FALSE(rescued);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("通常のファイルではない"), std::string::npos) << f.messages[0];
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(left), {}), 1);
}

TEST_F(ArchiveCommandTest, ArchiveNamesWithQuotesBlanksAndDashesAreTakenExactly) {
  const Lines names = {"a\"\"b.zip", "say \"hi\".zip", "sp ace.zip", "@at.zip", "-dash.zip", "--x.zip", "q\".zip"};
  for (const std::string& name : names) {
    std::string dir = files.dir("src-" + std::to_string(&name - names.data()));
    files.file(dir.substr(files.path().size() + 1) + "/a.txt", name);
    files.file(dir.substr(files.path().size() + 1) + "/b.txt", "b");
    ASSERT_TRUE(RunIn(dir, "zip -q out.zip a.txt b.txt"));
    std::filesystem::rename(dir + "/out.zip", left + "/" + name);
  }
  // The neighbour the broken quoting used to pick instead.
  ASSERT_TRUE(RunIn(src, "zip -q ../left/ab.zip a.txt sub/b.txt"));
  Open();
  for (const std::string& name : names) {
    ExtractOnce(name);
    const std::string folder = left + "/" + name.substr(0, name.size() - 4);
    EXPECT_EQ(ReadWholeFile(folder + "/a.txt"), name) << name;
  }
  EXPECT_FALSE(Exists(left + "/ab"));
  EXPECT_TRUE(f.messages.empty());
  EXPECT_TRUE(std::filesystem::is_empty(right));
}

TEST_F(ArchiveCommandTest, AnArchiveOfOneTopFolderIsThatFolderAndMergingIsAsked) {
  std::filesystem::create_directories(src + "/写真まとめ/sub");
  files.file("src/写真まとめ/a.txt", "alpha");
  files.file("src/写真まとめ/sub/b.txt", "beta");
  ASSERT_TRUE(RunIn(src, "zip -qr ../left/photos.zip 写真まとめ"));
  Open();
  BoxAnswerer boxes;
  ExtractOnce("photos.zip");
  EXPECT_EQ(ReadWholeFile(left + "/写真まとめ/a.txt"), "alpha");
  EXPECT_EQ(ReadWholeFile(left + "/写真まとめ/sub/b.txt"), "beta");
  EXPECT_FALSE(Exists(left + "/photos"));
  EXPECT_FALSE(Exists(left + "/写真まとめ/写真まとめ"));
  EXPECT_TRUE(boxes.asked.empty());

  // The folder is there now: merging is asked first, and "no" leaves it alone.
  files.file("left/写真まとめ/a.txt", "mine");
  ExtractOnce("photos.zip");
  ASSERT_EQ(boxes.asked.size(), 1u);
  EXPECT_NE(boxes.asked[0].find("写真まとめ"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(left + "/写真まとめ/a.txt"), "mine");
  boxes.answer = "はい";
  ExtractOnce("photos.zip");
  EXPECT_EQ(boxes.asked.size(), 4u);  // merge, then replace a.txt and sub/b.txt
  EXPECT_EQ(ReadWholeFile(left + "/写真まとめ/a.txt"), "alpha");
  EXPECT_FALSE(Exists(left + "/photos"));
}

}  // namespace
