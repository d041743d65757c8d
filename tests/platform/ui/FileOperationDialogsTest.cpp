#include "platform/ui/FileOperationDialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "TempDir.h"
#include "platform/desktop/DropTarget.h"
#include "platform/fileops/ErrorText.h"
#include "platform/desktop/FilePayload.h"
#include "platform/ui/PlatformUi.h"

namespace {

QWidget* VisibleTopLevel(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name && w->isVisible()) return w;
  return nullptr;
}

struct Shown {
  QString title, text, defaultButton;
};

// Once a dialog of that name shows (inside its own modal loop), notes what it
// says and does act with it.
class WhenShown {
 public:
  WhenShown(const QString& dialog, std::function<void(QWidget*)> act) {
    QObject::connect(&timer_, &QTimer::timeout, [this, dialog, act] {
      QWidget* w = VisibleTopLevel(dialog);
      if (!w) return;
      timer_.stop();
      shown.title = w->windowTitle();
      if (auto* label = w->findChild<QLabel*>("messageLabel")) shown.text = label->text();
      for (auto* b : w->findChildren<QPushButton*>())
        if (b->isDefault()) shown.defaultButton = b->objectName();
      act(w);
    });
    timer_.start(10);
  }
  Shown shown;

 private:
  QTimer timer_;
};

std::function<void(QWidget*)> Press(const char* button) {
  return [button](QWidget* d) {
    auto* b = d->findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    QTest::mouseClick(b, Qt::LeftButton);
  };
}

std::function<void(QWidget*)> Key(Qt::Key key) {
  return [key](QWidget* d) { QTest::keyClick(d, key); };
}

// Asks on a worker thread, as the engine does, while this thread serves the dialogs.
template <class F>
auto OnWorker(F ask) -> decltype(ask()) {
  std::atomic<bool> done{false};
  decltype(ask()) result{};
  std::thread worker([&] {
    result = ask();
    done = true;
  });
  // A dialog that never gets answered must not hang the test.
  QTimer rescue;
  QObject::connect(&rescue, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
  });
  rescue.start(5000);
  for (int i = 0; i < 1000 && !done; ++i) QTest::qWait(10);
  EXPECT_TRUE(done) << "the question was never answered";
  worker.join();
  return result;
}

int64_t LocalTime(int year, int month, int day, int hour, int minute) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return mktime(&t);
}

// Answers the engine without dialogs; notes the errors it was asked about.
class AnsweringUI : public IFileOperationUI {
 public:
  bool ConfirmDelete(const std::vector<std::string>&, bool) override { return true; }
  bool ConfirmPermanentDelete(const std::string&) override { return true; }
  ConflictAnswer AskReplace(const FileFacts&, const FileFacts&) override { return ConflictAnswer::Cancel; }
  ErrorAnswer AskError(const std::string& path, const std::string&, int error) override {
    errors.push_back(error);
    return ErrorAnswer::Skip;
  }
  void ShowMessage(const std::string&) override {}
  bool ConfirmEmptyTrash(uint64_t) override { return false; }
  std::vector<int> errors;
};

}  // namespace

TEST(FileOperationDialogs, ReplaceShowsBothFilesAndMapsEveryAnswer) {
  FileOperationDialogs ui;
  FileFacts existing{"/data/dir/report.txt", 12345, LocalTime(2026, 12, 7, 21, 6), false};
  FileFacts incoming{"/elsewhere/report.txt", 1234567, LocalTime(2026, 12, 8, 9, 5), false};

  const std::pair<const char*, ConflictAnswer> cases[] = {{"yesButton", ConflictAnswer::Yes},
                                                          {"yesToAllButton", ConflictAnswer::YesToAll},
                                                          {"noButton", ConflictAnswer::No},
                                                          {"noToAllButton", ConflictAnswer::NoToAll},
                                                          {"cancelButton", ConflictAnswer::Cancel}};
  for (auto [button, expected] : cases) {
    WhenShown when("replaceDialog", Press(button));
    EXPECT_EQ(OnWorker([&] { return ui.AskReplace(existing, incoming); }), expected) << button;
    EXPECT_EQ(when.shown.title, "ファイルの置き換え");
    EXPECT_EQ(when.shown.defaultButton, "yesButton");
    const QString& text = when.shown.text;
    EXPECT_TRUE(text.startsWith("このフォルダーには既に「report.txt」という名前のファイルがあります。"))
        << text.toStdString();
    // The file already there comes first, then the one that would replace it.
    qsizetype oldSize = text.indexOf("12,345 バイト"), oldTime = text.indexOf("更新日時: 2026/12/07 21:06");
    qsizetype question = text.indexOf("次のファイルで置き換えますか?");
    qsizetype newSize = text.indexOf("1,234,567 バイト (1.17 MB)"),
              newTime = text.indexOf("更新日時: 2026/12/08 09:05");
    EXPECT_TRUE(oldSize > 0 && oldTime > oldSize && question > oldTime && newSize > question && newTime > newSize)
        << text.toStdString();
  }

  // Esc and the window's close button cancel.
  WhenShown escape("replaceDialog", Key(Qt::Key_Escape));
  EXPECT_EQ(OnWorker([&] { return ui.AskReplace(existing, incoming); }), ConflictAnswer::Cancel);

  // Asked on the GUI thread itself, the dialog runs there directly.
  WhenShown direct("replaceDialog", Press("noToAllButton"));
  FileFacts folder{"/data/dir/photos", 0, LocalTime(2026, 1, 2, 3, 4), true};
  EXPECT_EQ(ui.AskReplace(folder, folder), ConflictAnswer::NoToAll);
  EXPECT_TRUE(direct.shown.text.contains("「photos」という名前のフォルダー"));
  EXPECT_FALSE(direct.shown.text.contains("バイト"));
  EXPECT_EQ(VisibleTopLevel("replaceDialog"), nullptr);
}

TEST(FileOperationDialogs, ErrorDialogGivesTheReasonAndMapsEveryAnswer) {
  FileOperationDialogs ui;
  const std::tuple<const char*, ErrorAnswer, int, const char*> cases[] = {
      {"retryButton", ErrorAnswer::Retry, EACCES, "アクセスが拒否されました。"},
      {"skipButton", ErrorAnswer::Skip, ENOSPC, "ディスクに十分な空き領域がありません。"},
      {"cancelButton", ErrorAnswer::Cancel, ENAMETOOLONG, "ファイル名が長すぎます。"}};
  for (auto [button, expected, error, reason] : cases) {
    WhenShown when("errorDialog", Press(button));
    EXPECT_EQ(OnWorker([&] { return ui.AskError("/data/dir/a.txt", "コピー", error); }), expected) << button;
    EXPECT_EQ(when.shown.title, "エラー");
    EXPECT_EQ(when.shown.text.toStdString(), "コピーできません: 「a.txt」\n場所: /data/dir\n\n" + std::string(reason));
  }
  WhenShown escape("errorDialog", Key(Qt::Key_Escape));
  EXPECT_EQ(OnWorker([&] { return ui.AskError(std::string("/d/bad\xff.txt"), "移動", EXDEV); }), ErrorAnswer::Cancel);
  EXPECT_TRUE(escape.shown.text.contains(QString::fromStdString(SystemErrorText(EXDEV))));

  // Each reason is its own; an unknown one still names its number.
  std::set<std::string> reasons;
  const int errors[] = {EACCES, ENOSPC, ENOENT,    ENAMETOOLONG, EROFS, EEXIST, EISDIR, ENOTDIR,
                        EBUSY,  EXDEV,  ENOTEMPTY, EIO,          ELOOP, EINVAL, EMFILE, EDQUOT};
  for (int e : errors) reasons.insert(SystemErrorText(e));
  EXPECT_EQ(reasons.size(), std::size(errors));
  EXPECT_EQ(SystemErrorText(EPERM), SystemErrorText(EACCES));
  EXPECT_EQ(SystemErrorText(ENOTEMPTY), "フォルダーが空ではありません。");
  EXPECT_NE(SystemErrorText(9999).find("9999"), std::string::npos);
}

TEST(FileOperationDialogs, DeleteAndEmptyConfirmationsDefaultToSafety) {
  FileOperationDialogs ui;
  {
    // To the recycle bin: undoable, so Enter says yes.
    WhenShown when("deleteDialog", Key(Qt::Key_Return));
    EXPECT_TRUE(OnWorker([&] { return ui.ConfirmDelete({"/d/a.txt"}, false); }));
    EXPECT_EQ(when.shown.title, "ファイルの削除");
    EXPECT_EQ(when.shown.text, "「a.txt」をごみ箱に移動しますか?");
    EXPECT_EQ(when.shown.defaultButton, "yesButton");
  }
  {
    WhenShown when("deleteDialog", Press("noButton"));
    EXPECT_FALSE(OnWorker([&] { return ui.ConfirmDelete({"/d/a", "/d/b"}, false); }));
    EXPECT_EQ(when.shown.text, "これらの 2 個の項目をごみ箱に移動しますか?");
  }
  {
    // For good: Enter says no.
    WhenShown when("deleteDialog", Key(Qt::Key_Return));
    EXPECT_FALSE(OnWorker([&] { return ui.ConfirmDelete({"/d/a", "/d/b", "/d/c"}, true); }));
    EXPECT_EQ(when.shown.text, "これらの 3 個の項目を完全に削除しますか?\nこの操作は元に戻せません。");
    EXPECT_EQ(when.shown.defaultButton, "noButton");
  }
  {
    WhenShown when("deleteDialog", Press("yesButton"));
    EXPECT_TRUE(OnWorker([&] { return ui.ConfirmDelete({"/d/x.bin"}, true); }));
    EXPECT_EQ(when.shown.text, "「x.bin」を完全に削除しますか?\nこの操作は元に戻せません。");
  }
  {
    WhenShown yes("permanentDeleteDialog", Press("yesButton"));
    EXPECT_TRUE(OnWorker([&] { return ui.ConfirmPermanentDelete("/mnt/usb/big.iso"); }));
    EXPECT_EQ(yes.shown.text, "「big.iso」はごみ箱に移動できません。完全に削除しますか?");
    WhenShown escape("permanentDeleteDialog", Key(Qt::Key_Escape));
    EXPECT_FALSE(OnWorker([&] { return ui.ConfirmPermanentDelete("/mnt/usb/big.iso"); }));
  }
  {
    WhenShown no("emptyTrashDialog", Key(Qt::Key_Return));
    EXPECT_FALSE(OnWorker([&] { return ui.ConfirmEmptyTrash(7); }));
    EXPECT_EQ(no.shown.text, "ごみ箱を空にしますか?\n7 個の項目を完全に削除します。");
    WhenShown yes("emptyTrashDialog", Press("yesButton"));
    EXPECT_TRUE(OnWorker([&] { return ui.ConfirmEmptyTrash(7); }));
  }
  {
    // A message is shown as it is written, never as markup.
    WhenShown when("messageDialog", Press("okButton"));
    OnWorker([&] {
      ui.ShowMessage("「<b>dev</b>」は特殊なファイルのため、スキップしました。");
      return 0;
    });
    EXPECT_EQ(when.shown.text, "「<b>dev</b>」は特殊なファイルのため、スキップしました。");
  }
}

// A job of many sources opens its progress window as it starts, while the
// windows open before it take no input; the window's cancel still works.
TEST(FileOperationDialogs, ManySourcesShowTheirProgressAtOnceAndItsCancelStopsThem) {
  TempDir tmp;
  const std::string src = tmp.dir("src"), dst = tmp.dir("dst");
  FileOperationRequest request;
  request.function = FO_COPY;
  request.sourceFolder = src;
  request.destination = dst;
  for (int i = 0; i < 12000; ++i) {
    const std::string name = "f" + std::to_string(i);
    close(open((src + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    request.sourceNames.append(name).push_back('\0');
  }
  QWidget owner;
  owner.show();
  request.owner = &owner;
  const auto start = std::chrono::steady_clock::now();
  double shownAfter = -1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = VisibleTopLevel("progressDialog");
    if (!dialog || shownAfter >= 0) return;
    shownAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
  });
  poll.start(1);
  EXPECT_EQ(RunFileOperation(request).code, FO_ERROR_CANCELLED);
  EXPECT_GE(shownAfter, 0);
  EXPECT_LT(shownAfter, 0.45);  // not after the usual half second
  size_t copied = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dst)) ++copied;
  EXPECT_LT(copied, 12000u);
}

TEST(FileOperationDialogs, ProgressShowsCountsAndCancelsOnce) {
  QWidget owner;
  FileOperationDialogs ui(&owner);
  FileOperationProgress p;
  p.function = FO_COPY;
  p.currentFile = "/data/big.bin";
  p.itemsDone = 3;
  p.itemsTotal = 10;
  p.bytesDone = 1536 * 1024;
  p.bytesTotal = 10 * 1024 * 1024;
  p.secondsLeft = 11.2;
  ui.ProgressStarted(p);
  QWidget* dialog = VisibleTopLevel("progressDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog, ui.ProgressDialog());
  EXPECT_EQ(dialog->parentWidget(), &owner);
  EXPECT_FALSE(qobject_cast<QDialog*>(dialog)->isModal());
  auto label = [&](const char* name) { return dialog->findChild<QLabel*>(name)->text(); };
  EXPECT_EQ(dialog->windowTitle(), "コピー中...");
  EXPECT_EQ(label("fileLabel"), "big.bin");
  EXPECT_EQ(label("itemsLabel"), "3 / 10 個の項目");
  EXPECT_EQ(label("bytesLabel"), "1.50 MB / 10.0 MB");
  EXPECT_EQ(label("timeLabel"), "残り時間: 約 12 秒");
  EXPECT_EQ(dialog->findChild<QProgressBar*>("progressBar")->value(), 150);

  p.currentFile = "/data/sub/second.txt";
  p.itemsDone = 9;
  p.bytesDone = 9 * 1024 * 1024 + 1;
  p.secondsLeft = 150;
  ui.ProgressChanged(p);
  EXPECT_EQ(label("fileLabel"), "second.txt");
  EXPECT_EQ(label("itemsLabel"), "9 / 10 個の項目");
  EXPECT_EQ(label("bytesLabel"), "9.00 MB / 10.0 MB");
  EXPECT_EQ(label("timeLabel"), "残り時間: 約 3 分");
  p.secondsLeft = -1;
  ui.ProgressChanged(p);
  EXPECT_EQ(label("timeLabel"), "残り時間: 計算中...");

  // The cancel button is reported once; the window stays until the job ends.
  EXPECT_FALSE(ui.CancelRequested());
  QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
  EXPECT_TRUE(ui.CancelRequested());
  EXPECT_FALSE(ui.CancelRequested());
  EXPECT_TRUE(dialog->isVisible());
  QTest::keyClick(dialog, Qt::Key_Escape);
  EXPECT_TRUE(ui.CancelRequested());
  EXPECT_TRUE(dialog->isVisible());

  QPointer<QWidget> gone = dialog;
  ui.ProgressFinished();
  QTest::qWait(20);
  EXPECT_TRUE(gone.isNull());
  EXPECT_EQ(ui.ProgressDialog(), nullptr);

  // A delete counts items only.
  FileOperationProgress d;
  d.function = FO_DELETE;
  d.itemsDone = 1;
  d.itemsTotal = 4;
  ui.ProgressStarted(d);
  dialog = VisibleTopLevel("progressDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), "削除中...");
  EXPECT_FALSE(dialog->findChild<QLabel*>("bytesLabel")->isVisible());
  EXPECT_EQ(dialog->findChild<QProgressBar*>("progressBar")->value(), 250);
  EXPECT_FALSE(ui.CancelRequested());
  ui.ProgressFinished();

  // Sources still looked up: how many of how many, no time yet.
  FileOperationProgress prep;
  prep.function = FO_COPY;
  prep.preparing = true;
  prep.sourcesChecked = 250;
  prep.sourcesTotal = 1000;
  prep.currentFile = "/data";
  ui.ProgressStarted(prep);
  dialog = VisibleTopLevel("progressDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->findChild<QLabel*>("itemsLabel")->text(), "準備しています: 250 / 1000 個の項目");
  EXPECT_EQ(dialog->findChild<QLabel*>("timeLabel")->text(), "残り時間: 計算中...");
  EXPECT_EQ(dialog->findChild<QProgressBar*>("progressBar")->value(), 250);
  ui.ProgressFinished();

  EXPECT_EQ(FormatByteSize(1023), "1023 バイト");
  EXPECT_EQ(FormatByteSize(1000 * 1024), "0.97 MB");
  EXPECT_EQ(FormatByteSize(uint64_t(1) << 30), "1.00 GB");
  EXPECT_EQ(FormatTimeLeft(3 * 3600 + 61), "約 3 時間 2 分");
}

TEST(FileOperationDrop, LinksNeverReplaceAndCopiesGoThroughTheEngine) {
  TempDir tmp;
  std::string source = tmp.file("a.txt", "source");
  std::string folder = tmp.dir("folder.d");
  std::string target = tmp.dir("target");
  tmp.file("target/a.txt", "keep me");
  tmp.file("target/a (2).txt", "keep me too");

  AnsweringUI answering;
  EXPECT_TRUE(CreateLinksInFolder({source, folder, folder}, target, &answering));
  char link[PATH_MAX] = {};
  ASSERT_GT(readlink((target + "/a (3).txt").c_str(), link, sizeof link - 1), 0);
  EXPECT_EQ(std::string(link), source);
  EXPECT_EQ(ReadWholeFile(target + "/a.txt"), "keep me");
  EXPECT_EQ(ReadWholeFile(target + "/a (2).txt"), "keep me too");
  // A folder's name has no extension to keep.
  struct stat st {};
  EXPECT_EQ(lstat((target + "/folder.d").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(lstat((target + "/folder.d (2)").c_str(), &st), 0);
  EXPECT_TRUE(answering.errors.empty());

  // Into a folder that is not there: asked, skipped, reported as a failure.
  EXPECT_FALSE(CreateLinksInFolder({source}, tmp / "missing", &answering));
  EXPECT_EQ(answering.errors, std::vector<int>{ENOENT});

  // The dialogs are the default; a test's UI replaces them for every owner.
  QWidget owner;
  IFileOperationUI* dialogs = DefaultFileOperationUI(&owner);
  EXPECT_NE(dynamic_cast<FileOperationDialogs*>(dialogs), nullptr);
  EXPECT_EQ(DefaultFileOperationUI(&owner), dialogs);
  EXPECT_NE(DefaultFileOperationUI(nullptr), dialogs);
  SetFileOperationUIOverride(&answering);
  EXPECT_EQ(DefaultFileOperationUI(&owner), &answering);

  // Drops: Ctrl+Shift links, Ctrl copies through the engine.
  InstallFileOperationDropHandler();
  std::unique_ptr<QMimeData> data(MakeFilesMimeData({source}, false));
  std::string dropFolder = tmp.dir("drop");
  IDropTarget drop(dropFolder);
  uint32_t all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  EXPECT_EQ(drop.Drop(data.get(), DRAGKEY_CONTROL | DRAGKEY_SHIFT, all), DROPEFFECT_LINK);
  EXPECT_EQ(lstat((dropFolder + "/a.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(drop.Drop(data.get(), DRAGKEY_CONTROL | DRAGKEY_SHIFT, all), DROPEFFECT_LINK);
  EXPECT_EQ(lstat((dropFolder + "/a (2).txt").c_str(), &st), 0);

  std::string copyFolder = tmp.dir("copies");
  IDropTarget copyDrop(copyFolder);
  EXPECT_EQ(copyDrop.Drop(data.get(), DRAGKEY_CONTROL, all), DROPEFFECT_COPY);
  EXPECT_EQ(lstat((copyFolder + "/a.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadWholeFile(copyFolder + "/a.txt"), "source");
  EXPECT_EQ(ReadWholeFile(source), "source");

  SetFileOperationUIOverride(nullptr);
  SetDropHandler(nullptr);
  FileOperationJournal::Instance().Clear();
  EXPECT_EQ(DefaultFileOperationUI(&owner), dialogs);
}
