// The shell's context menu: which verbs it offers, and each verb carried out
// on real files, the clipboard, the trash and the desktop's application list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FileChecks.h"
#include "NamespaceTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/ui/ContextMenu.h"
#include "platform/fileops/FileLinks.h"
#include "platform/ui/FileOperationDialogs.h"
#include "platform/desktop/FilePayload.h"
#include "platform/desktop/OpenWith.h"
#include "platform/namespace/PathText.h"
#include "platform/ui/PropertiesDialog.h"

namespace {

// Items of one folder, as a view hands them to the folder's menu.
struct Selection {
  ShellFolderPtr folder;
  std::vector<IDListPtr> items;

  explicit Selection(const std::vector<std::string>& paths) {
    folder = BindPath(DirName(paths.at(0)));
    for (const std::string& path : paths) {
      IDListPtr full = ParsePath(path);
      items.emplace_back(full ? CopyLastID(full.get()) : nullptr);
    }
  }
  std::unique_ptr<IContextMenu> Menu() {
    std::vector<PCItemIDList> lists;
    for (auto& item : items) lists.push_back(item.get());
    return folder ? folder->GetContextMenu(nullptr, static_cast<int>(lists.size()), lists.data()) : nullptr;
  }
};

std::vector<int> Ids(QMenu& menu) {
  std::vector<int> ids;
  for (QAction* action : menu.actions()) ids.push_back(action->isSeparator() ? -1 : CommandIdOf(action));
  return ids;
}

template <class Pred>
bool WaitUntil(Pred pred, int ms = 3000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

template <class T>
T* FindTopLevel(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String(name) && w->isVisible())
      if (auto* t = qobject_cast<T*>(w)) return t;
  return nullptr;
}

void SetClipboardText(const QString& text) {
  auto* data = new QMimeData;
  data->setText(text);
  QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace

// Records the URLs handed to the desktop instead of opening them.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QByteArray> urls;
 public slots:
  void Open(const QUrl& url) { urls.push_back(url.toEncoded()); }
};

TEST(ContextMenu, OffersTheVerbsThatApplyInOrder) {
  TempDir tmp;
  std::string file = tmp.file("a.txt", "a"), dir = tmp.dir("sub");
  QGuiApplication::clipboard()->clear();

  auto menu = Selection({file}).Menu();
  ASSERT_TRUE(menu);
  QMenu plain;
  ASSERT_TRUE(menu->QueryContextMenu(&plain, 0, 1, 0x7FFF, CMF_EXPLORE));
  // open, open with | cut, copy | link, delete | properties; no rename, no paste.
  EXPECT_EQ(Ids(plain), (std::vector<int>{1, 2, -1, 25, 26, -1, 17, 18, -1, 20}));
  EXPECT_EQ(CommandIdOf(plain.defaultAction()), 1);
  for (QAction* action : plain.actions())
    EXPECT_TRUE(action->isSeparator() || !action->statusTip().isEmpty()) << action->text().toStdString();
  EXPECT_EQ(menu->GetCommandString(CMDOFF_DELETE), "選択した項目をごみ箱へ移動します。");
  EXPECT_EQ(menu->GetCommandString(5), "");

  QMenu renaming;
  menu->QueryContextMenu(&renaming, 0, 1, 0x7FFF, CMF_NORMAL | CMF_CANRENAME);
  EXPECT_EQ(Ids(renaming), (std::vector<int>{1, 2, -1, 25, 26, -1, 17, 18, 19, -1, 20}));

  QMenu defaultOnly;
  menu->QueryContextMenu(&defaultOnly, 0, 1, 0x7FFF, CMF_DEFAULTONLY);
  EXPECT_EQ(Ids(defaultOnly), (std::vector<int>{1}));

  // Among the caller's entries, at an offset, within the identifier range.
  QMenu mixed;
  mixed.addAction(QStringLiteral("own 1"));
  mixed.addAction(QStringLiteral("own 2"));
  menu->QueryContextMenu(&mixed, 1, 3, 3 + 19, CMF_EXPLORE);
  std::vector<int> ids = Ids(mixed);
  EXPECT_EQ(ids, (std::vector<int>{0, -1, 3, 4, -1, 19, 20, -1, 22, -1, 0}));
  EXPECT_EQ(mixed.actions().back()->text(), QStringLiteral("own 2"));

  // A folder offers paste only while the clipboard holds files; no "open with".
  auto folderMenu = Selection({dir}).Menu();
  QMenu before;
  folderMenu->QueryContextMenu(&before, 0, 1, 0x7FFF, CMF_EXPLORE);
  EXPECT_EQ(Ids(before), (std::vector<int>{1, -1, 25, 26, -1, 17, 18, -1, 20}));
  QGuiApplication::clipboard()->setMimeData(MakeFilesMimeData({file}, false));
  QMenu after;
  folderMenu->QueryContextMenu(&after, 0, 1, 0x7FFF, CMF_EXPLORE);
  EXPECT_EQ(Ids(after), (std::vector<int>{1, -1, 25, 26, 27, -1, 17, 18, -1, 20}));

  // The computer: open and properties only, and nothing else can be invoked.
  PItemIDList computer = nullptr;
  ASSERT_TRUE(SHGetSpecialFolderLocation(CSIDL_DRIVES, computer));
  IDListPtr owned(computer);
  PCItemIDList list = owned.get();
  auto virtualMenu = SHGetDesktopFolder()->GetContextMenu(nullptr, 1, &list);
  ASSERT_TRUE(virtualMenu);
  QMenu special;
  virtualMenu->QueryContextMenu(&special, 0, 1, 0x7FFF, CMF_EXPLORE | CMF_CANRENAME);
  EXPECT_EQ(Ids(special), (std::vector<int>{1, -1, 20}));
  EXPECT_FALSE(virtualMenu->InvokeCommand(nullptr, CMDOFF_DELETE));
  EXPECT_FALSE(virtualMenu->InvokeCommand(nullptr, CMDOFF_COPY));
  EXPECT_TRUE(virtualMenu->InvokeCommand(nullptr, CMDOFF_OPEN));  // the view navigates
  QGuiApplication::clipboard()->clear();
}

TEST(ContextMenu, CopyAndCutThenPasteTransferTheFiles) {
  TempDir tmp;
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  std::string from = tmp.dir("from"), to = tmp.dir("to"), other = tmp.dir("other");
  const std::string odd = "bad\xff\xfe name.bin";  // not UTF-8
  std::string a = tmp.file("from/" + odd, std::string(70000, 'x') + "end");
  std::string b = tmp.file("from/b.txt", "bee");

  // Copy: the clipboard names the files; pasting copies them byte for byte.
  ASSERT_TRUE(Selection({a, b}).Menu()->InvokeCommand(nullptr, CMDOFF_COPY));
  std::vector<std::string> held;
  bool cut = true;
  ASSERT_TRUE(ReadFilesMimeData(QGuiApplication::clipboard()->mimeData(), held, cut));
  EXPECT_EQ(held, (std::vector<std::string>{a, b}));
  EXPECT_FALSE(cut);
  ASSERT_TRUE(Selection({to}).Menu()->InvokeCommand(nullptr, CMDOFF_PASTE));
  EXPECT_EQ(ReadWholeFile(to + "/" + odd), std::string(70000, 'x') + "end");
  EXPECT_EQ(ReadWholeFile(to + "/b.txt"), "bee");
  EXPECT_TRUE(Exists(a));
  EXPECT_TRUE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));  // a copy can be pasted again

  // Cut: pasting moves them and empties the clipboard.
  ASSERT_TRUE(Selection({a, b}).Menu()->InvokeCommand(nullptr, CMDOFF_CUT));
  ASSERT_TRUE(Selection({other}).Menu()->InvokeCommand(nullptr, CMDOFF_PASTE));
  EXPECT_EQ(ReadWholeFile(other + "/" + odd), std::string(70000, 'x') + "end");
  EXPECT_EQ(ReadWholeFile(other + "/b.txt"), "bee");
  EXPECT_FALSE(Exists(a));
  EXPECT_FALSE(Exists(b));
  EXPECT_FALSE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));
  EXPECT_TRUE(ui.errorCalls.empty());

  // Nothing usable on the clipboard: nothing happens.
  SetClipboardText(QStringLiteral("/etc/passwd"));
  EXPECT_FALSE(Selection({to}).Menu()->InvokeCommand(nullptr, CMDOFF_PASTE));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(to), {}), 2);
  // Paste needs a folder to go into.
  QGuiApplication::clipboard()->setMimeData(MakeFilesMimeData({other + "/b.txt"}, false));
  EXPECT_FALSE(Selection({other + "/b.txt"}).Menu()->InvokeCommand(nullptr, CMDOFF_PASTE));
  QGuiApplication::clipboard()->clear();
}

TEST(ContextMenu, DeleteMovesToTheTrashAfterConfirmation) {
  TempDir tmp;
  EnvGuard data("XDG_DATA_HOME", tmp.dir("data"));
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  std::string dir = tmp.dir("work");
  std::string a = tmp.file("work/a.txt", "keep me"), b = tmp.file("work/b.txt", "b");

  ui.deleteAnswers = {false};
  EXPECT_FALSE(Selection({a}).Menu()->InvokeCommand(nullptr, CMDOFF_DELETE));
  EXPECT_EQ(ReadWholeFile(a), "keep me");

  ui.deleteAnswers = {true};
  EXPECT_TRUE(Selection({a, b}).Menu()->InvokeCommand(nullptr, CMDOFF_DELETE));
  ASSERT_EQ(ui.deleteCalls.size(), 2u);
  EXPECT_EQ(ui.deleteCalls[1].first, (std::vector<std::string>{a, b}));
  EXPECT_FALSE(ui.deleteCalls[1].second);  // to the trash, not for good
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(ReadWholeFile(HomeTrashDirectory() + "/a.txt"), "keep me");
  EXPECT_TRUE(Exists(HomeTrashDirectory() + "/../info/a.txt.trashinfo"));
}

TEST(ContextMenu, CreateLinkNamesLinksBesideTheItemsAndNeverReplaces) {
  TempDir tmp;
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  std::string file = tmp.file("notes.txt", "n"), dir = tmp.dir("photos");
  std::string taken = tmp.file("photos へのリンク", "someone's file");

  ASSERT_TRUE(Selection({file, dir}).Menu()->InvokeCommand(nullptr, CMDOFF_CREATELINK));
  ASSERT_TRUE(Selection({file}).Menu()->InvokeCommand(nullptr, CMDOFF_CREATELINK));
  EXPECT_EQ(std::filesystem::read_symlink(tmp / "notes へのリンク.txt"), file);
  EXPECT_EQ(std::filesystem::read_symlink(tmp / "notes へのリンク (2).txt"), file);
  EXPECT_EQ(std::filesystem::read_symlink(tmp / "photos へのリンク (2)"), dir);
  EXPECT_EQ(ReadWholeFile(taken), "someone's file");
  EXPECT_EQ(LinkNameFor(".bashrc", false, 3), ".bashrc へのリンク (3)");
  EXPECT_EQ(LinkNameFor("a.tar.gz", false, 1), "a.tar へのリンク.gz");

  // A link that cannot be made is asked about; cancelled, it is false.
  ui.errorAnswers = {ErrorAnswer::Cancel};
  std::vector<std::string> made;
  EXPECT_FALSE(CreateLinksBeside({tmp / "missing/x"}, &ui, &made));
  EXPECT_TRUE(made.empty());
  EXPECT_EQ(ui.errorCalls.size(), 1u);
}

TEST(ContextMenu, PropertiesShowFactsAndTotalAFolderInTheBackground) {
  TempDir tmp;
  std::string file = tmp.file("doc.txt", std::string(2000, 'd'));
  chmod(file.c_str(), 0640);
  std::string tree = tmp.dir("tree/a/b");
  tmp.file("tree/one", std::string(1000, '1'));
  tmp.file("tree/a/two", std::string(20000, '2'));
  tmp.file("tree/a/b/three", std::string(300, '3'));
  ASSERT_EQ(link((tmp / "tree/one").c_str(), (tmp / "tree/a/hard").c_str()), 0);  // counted once
  ASSERT_EQ(symlink("/usr", (tmp / "tree/a/b/usr").c_str()), 0);                  // not followed

  ASSERT_TRUE(Selection({file}).Menu()->InvokeCommand(nullptr, CMDOFF_PROPERTIES));
  QPointer<PropertiesDialog> single = FindTopLevel<PropertiesDialog>("propertiesDialog");
  ASSERT_TRUE(single);
  EXPECT_EQ(single->Value("nameValue")->text(), QStringLiteral("doc.txt"));
  EXPECT_EQ(single->Value("typeValue")->text(), QStringLiteral("平文テキストドキュメント"));
  EXPECT_EQ(single->Value("locationValue")->text(), QString::fromStdString(tmp.path()));
  EXPECT_EQ(single->Value("sizeValue")->text(), QStringLiteral("2,000 バイト (1.95 KB)"));
  EXPECT_EQ(single->Value("permissionsValue")->text(), QStringLiteral("rw-r----- (0640)"));
  EXPECT_TRUE(single->Value("ownerValue")->text().startsWith(QStringLiteral("root (0)")) ||
              single->Value("ownerValue")->text().endsWith(QStringLiteral("(%1)").arg(getuid())));
  EXPECT_FALSE(single->Value("modifiedValue")->text().isEmpty());
  EXPECT_FALSE(single->Computing());
  single->close();

  ASSERT_TRUE(Selection({tmp / "tree"}).Menu()->InvokeCommand(nullptr, CMDOFF_PROPERTIES));
  QPointer<PropertiesDialog> folder = FindTopLevel<PropertiesDialog>("propertiesDialog");
  ASSERT_TRUE(folder);
  EXPECT_TRUE(folder->Value("sizeValue")->text().startsWith(QStringLiteral("計算中")));
  uint64_t linkSize = std::filesystem::read_symlink(tmp / "tree/a/b/usr").string().size();
  QString expected = FormatByteCount(21300 + linkSize);
  ASSERT_TRUE(WaitUntil([&] { return folder->Value("sizeValue")->text() == expected; }))
      << folder->Value("sizeValue")->text().toStdString();
  EXPECT_EQ(folder->Value("contentsValue")->text(), QStringLiteral("ファイル 4 個、フォルダー 2 個"));
  folder->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(single);
  EXPECT_FALSE(folder);

  EXPECT_EQ(PermissionText(04755), QStringLiteral("rwsr-xr-x"));
  EXPECT_EQ(PermissionText(01777), QStringLiteral("rwxrwxrwt"));
  EXPECT_EQ(PermissionText(02640), QStringLiteral("rw-r-S---"));
  EXPECT_EQ(OctalModeText(04755), QStringLiteral("4755"));
}

TEST(ContextMenu, PropertiesDialogClosedWhileTotallingStopsTheWorker) {
  TempDir tmp;
  for (int d = 0; d < 40; ++d) {
    std::string dir = tmp.dir("big/d" + std::to_string(d));
    for (int f = 0; f < 60; ++f) std::ofstream(dir + "/f" + std::to_string(f)) << "x";
  }
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(Selection({tmp / "big"}).Menu()->InvokeCommand(nullptr, CMDOFF_PROPERTIES));
    QPointer<PropertiesDialog> dialog = FindTopLevel<PropertiesDialog>("propertiesDialog");
    ASSERT_TRUE(dialog);
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
    QCoreApplication::processEvents();
  }
  // Cancelled before it starts: the walk stops at once and says it is done.
  SizeTotals totals;
  totals.cancel = true;
  TotalSizes({tmp / "big"}, totals);
  EXPECT_TRUE(totals.done);
  EXPECT_LT(totals.files.load(), 2400u);
}

TEST(ContextMenu, OpenHandsAByteExactUrlToTheDesktop) {
  TempDir tmp;
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  std::string file = tmp.file("caf\xe9 #1.txt", "x");  // Latin-1 byte, '#' and a blank
  std::string dir = tmp.dir("folder");
  EXPECT_TRUE(Selection({file}).Menu()->InvokeCommand(nullptr, CMDOFF_OPEN));
  EXPECT_TRUE(Selection({dir}).Menu()->InvokeCommand(nullptr, CMDOFF_OPEN));  // the view navigates
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 1u);
  std::string back;
  ASSERT_TRUE(FileUrlToPath(catcher.urls[0].toStdString(), back));
  EXPECT_EQ(back, file);
}

TEST(ContextMenu, OpenWithListsTheDesktopsApplicationsAndStartsTheChosenOne) {
  TempDir tmp;
  EnvGuard data("XDG_DATA_HOME", tmp.dir("data"));
  // The system's applications are left out, its MIME database is not: type
  // lookups read it from the same folders.
  std::string systemFree = tmp.dir("none");
  symlink("/usr/share/mime", (systemFree + "/mime").c_str());
  EnvGuard dirs("XDG_DATA_DIRS", systemFree);
  EnvGuard config("XDG_CONFIG_HOME", tmp.dir("config"));
  std::string out = tmp / "out.bin";
  std::string script = tmp.file("viewer.sh", "#!/bin/sh\nprintf '%s|' \"$@\" > '" + out + "'\n");
  chmod(script.c_str(), 0755);
  tmp.dir("data/applications");
  tmp.file("data/applications/viewer.desktop",
           "[Desktop Entry]\nType=Application\nName=Viewer\nName[ja]=ビューアー\nMimeType=text/plain;\n"
           "Exec=\"" +
               script + "\" --one %f\n");
  tmp.file("data/applications/gone.desktop",
           "[Desktop Entry]\nType=Application\nName=Gone\nMimeType=text/plain;\nExec=gone %F\nTryExec=/no/such/gone\n");
  tmp.file("data/applications/images.desktop",
           "[Desktop Entry]\nType=Application\nName=Images\nMimeType=image/png;\nExec=img %U\n");
  tmp.file("config/mimeapps.list", "[Added Associations]\ntext/x-c++src=images.desktop;\n");

  std::vector<DesktopApplication> apps = ApplicationsForPaths({tmp / "x.txt"});
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].name, QStringLiteral("ビューアー"));
  // Source code takes what plain text takes, after its own.
  apps = ApplicationsForMimeType("text/x-c++src");
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].id, "images.desktop");
  EXPECT_EQ(apps[1].id, "viewer.desktop");

  DesktopApplication app;
  app.exec = "prog \"a b\" \"q\\\"x\" %F --name=%c 100%%";
  app.name = QStringLiteral("P");
  EXPECT_EQ(ExpandExecLine(app, {"/x y", "/z"}),
            (std::vector<std::vector<std::string>>{{"prog", "a b", "q\"x", "/x y", "/z", "--name=P", "100%"}}));
  app.exec = "prog %u";
  EXPECT_EQ(ExpandExecLine(app, {"/a b", "/c"}),
            (std::vector<std::vector<std::string>>{{"prog", "file:///a%20b"}, {"prog", "file:///c"}}));
  app.exec = "prog --new";
  EXPECT_EQ(ExpandExecLine(app, {"/a"}), (std::vector<std::vector<std::string>>{{"prog", "--new", "/a"}}));

  // Chosen in the dialog, the program gets the name's exact bytes.
  std::string file = tmp.file("r\xe9sum\xe9.txt", "x");
  QTimer::singleShot(0, [] {
    auto* dialog = FindTopLevel<QDialog>("openWithDialog");
    if (!dialog) return;
    EXPECT_EQ(dialog->findChild<QListWidget*>(QStringLiteral("applicationList"))->count(), 1);
    dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
  });
  EXPECT_TRUE(Selection({file}).Menu()->InvokeCommand(nullptr, CMDOFF_OPENWITH));
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(out).size() > 6; }));
  EXPECT_EQ(ReadWholeFile(out), "--one|" + file + "|");

  EXPECT_FALSE(StartDetachedProgram({"/no/such/program"}));
  EXPECT_TRUE(StartDetachedProgram({"true"}));
}

#include "ContextMenuTest.moc"
