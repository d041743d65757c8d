// The shell popup menu: own actions merged with the shell's verbs, what Popup
// returns for each kind of choice, and shell commands on item lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "FileChecks.h"
#include "ChoosingMenu.h"
#include "EnvGuard.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/ui/ContextMenu.h"
#include "platform/desktop/FilePayload.h"
#include "platform/namespace/PathText.h"
#include "platform/ui/PropertiesDialog.h"
#include "shell/ShellPopupMenu.h"

namespace {

// Items of one folder as a view selects them (the list owns its IDs).
std::unique_ptr<TShellIDList2> Select(const std::vector<std::string>& paths) {
  auto list = std::make_unique<TShellIDList2>();
  PItemIDList parent = nullptr;
  if (!PathToIDList(DirName(paths.at(0)), parent)) return list;
  list->AdoptParent(IDListPtr(parent));
  for (const std::string& path : paths) {
    PItemIDList full = nullptr;
    if (!PathToIDList(path, full)) continue;
    list->Adopt(IDListPtr(CopyLastID(full)));
    FreeIDList(full);
  }
  return list;
}

QAction* ById(QMenu* menu, int id) { return ChoosingMenu::ById(menu, id); }
QAction* ByText(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions())
    if (a->text() == text) return a;
  return nullptr;
}

}  // namespace

TEST(ShellPopupMenu, ShellEntriesAloneStartAtOneAndRenameIsLeftToTheCaller) {
  TempDir tmp;
  std::string dir = tmp.dir("folder"), file = tmp.file("a.txt", "a");
  QWidget window;
  ChoosingMenu menu(&window);
  EXPECT_TRUE(menu.ReadOnly);
  EXPECT_EQ(menu.ContextType, shctExplore);
  EXPECT_EQ(menu.QueryFlags(), CMF_EXPLORE);

  // Offset 0 (open) is the first entry, identifier 1, the default; a folder
  // is opened by the view, so choosing it returns 1.
  auto folder = Select({dir});
  menu.choose = [](QMenu* m) { return ById(m, 1); };
  EXPECT_EQ(menu.Popup(folder.get(), {10, 10}), 1);
  ASSERT_FALSE(menu.ids.empty());
  EXPECT_EQ(menu.ids.front(), 1);
  EXPECT_EQ(menu.defaultId, 1);
  EXPECT_EQ(std::count(menu.ids.begin(), menu.ids.end(), 19), 0);  // read-only: no rename
  for (size_t i = 0; i < menu.ids.size(); ++i) {
    EXPECT_TRUE(menu.ids[i] <= 0 || !menu.tips[i].isEmpty()) << i;
  }

  // Not read-only: rename is offered; choosing it returns 19 and renames nothing.
  menu.ReadOnly = false;
  EXPECT_EQ(menu.QueryFlags(), CMF_EXPLORE | CMF_CANRENAME);
  auto items = Select({file});
  menu.choose = [](QMenu* m) { return ById(m, 19); };
  EXPECT_EQ(menu.Popup(items.get(), {10, 10}), 19);
  EXPECT_EQ(ReadWholeFile(file), "a");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 2);

  // Nothing chosen, or nothing to show the menu for.
  menu.choose = nullptr;
  EXPECT_EQ(menu.Popup(items.get(), {10, 10}), 0);
  int shown = menu.shown;
  TShellIDList empty;
  EXPECT_EQ(menu.Popup(&empty, {10, 10}), 0);
  EXPECT_EQ(menu.Popup(nullptr, {10, 10}), 0);
  EXPECT_EQ(menu.shown, shown);
}

TEST(ShellPopupMenu, OwnItemsMergeRunThemselvesAndStayIntact) {
  TempDir tmp;
  std::string file = tmp.file("a.txt", "a");
  QWidget window;
  ChoosingMenu menu(&window);
  QAction* first = menu.addAction(QStringLiteral("最初"));
  menu.addSeparator();
  QAction* last = menu.addAction(QStringLiteral("最後"));
  last->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  last->setStatusTip(QStringLiteral("own tip"));
  QAction* hidden = menu.addAction(QStringLiteral("隠れ"));
  hidden->setVisible(false);
  int clicks = 0;
  QObject::connect(last, &QAction::triggered, [&] { ++clicks; });
  std::vector<QAction*> after;
  menu.OnShAfterPopup = [&](QObject* sender, QAction* item, const TShellIDList& list) {
    EXPECT_EQ(sender, &menu);
    EXPECT_EQ(list.Count(), 1);
    after.push_back(item);
  };
  QList<QAction*> ownBefore = menu.actions();

  // Reading InsertPos lowers it to the number of own actions.
  menu.SetInsertPos(10);
  EXPECT_EQ(menu.InsertPos(), 4u);
  menu.SetInsertPos(1);
  EXPECT_EQ(menu.InsertPos(), 1u);

  auto items = Select({file});
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  QGuiApplication::clipboard()->clear();
  for (int round = 0; round < 2; ++round) {
    menu.choose = [](QMenu* m) { return ByText(m, QStringLiteral("最後\tCtrl+L")); };
    int result = menu.Popup(items.get(), {5, 5});
    int lastId = menu.Command(last);
    EXPECT_EQ(result, lastId);
    EXPECT_EQ(clicks, round + 1);
    ASSERT_EQ(after.size(), size_t(round + 1));
    EXPECT_EQ(after.back(), last);
    // first own entry, then the shell's (open is the default), then the rest of ours.
    int highest = std::max(menu.Command(first), lastId);
    ASSERT_GE(menu.ids.size(), 4u);
    EXPECT_EQ(menu.texts[0], QStringLiteral("最初"));
    EXPECT_EQ(menu.ids[1], -1);
    EXPECT_EQ(menu.ids[2], highest + 1);
    EXPECT_EQ(menu.defaultId, highest + 1);
    EXPECT_EQ(menu.texts.back(), QStringLiteral("最後\tCtrl+L"));
    EXPECT_EQ(menu.tips.back(), QStringLiteral("own tip"));
    EXPECT_EQ(std::count(menu.texts.begin(), menu.texts.end(), QStringLiteral("隠れ")), 0);
    // The own actions are as they were, still ours, and the shell ran nothing.
    EXPECT_EQ(menu.actions(), ownBefore);
    EXPECT_EQ(last->text(), QStringLiteral("最後"));
    EXPECT_EQ(last->parent(), &menu);
    EXPECT_TRUE(last->isEnabled());
    EXPECT_FALSE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));
  }

  QGuiApplication::clipboard()->clear();
}

TEST(ShellPopupMenu, RefusedPopupShowsNothing) {
  TempDir tmp;
  std::string file = tmp.file("a.txt", "a");
  QWidget window;
  ChoosingMenu menu(&window);
  QPoint seen;
  menu.OnShBeforPopup = [&](QObject*, const TShellIDList& list, const QPoint& pt, bool& allow) {
    EXPECT_TRUE(allow);
    EXPECT_EQ(list.Count(), 1);
    seen = pt;
    allow = false;
  };
  menu.choose = [](QMenu* m) { return ById(m, 1); };
  auto items = Select({file});
  EXPECT_EQ(menu.Popup(items.get(), {7, 8}), 0);
  EXPECT_EQ(seen, QPoint(7, 8));
  EXPECT_EQ(menu.shown, 0);
}

TEST(ShellPopupMenu, RealMenuLoopReturnsTheClickedEntry) {
  TempDir tmp;
  std::string file = tmp.file("a.txt", "a");
  QWidget window;
  window.resize(200, 200);
  window.show();
  TShellPopupMenu menu(&window);
  QAction* own = menu.addAction(QStringLiteral("own"));
  menu.SetInsertPos(1);  // ours first, so that the keys below never open the file
  int clicks = 0;
  QObject::connect(own, &QAction::triggered, [&] { ++clicks; });
  auto items = Select({file});
  QGuiApplication::clipboard()->clear();

  // A click on the shell's copy entry in the open menu.
  int copyId = menu.Command(own) + 1 + CMDOFF_COPY;
  QTimer::singleShot(0, [copyId] {
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!popup) return;
    QAction* copy = ById(popup, copyId);
    if (!copy) {
      popup->close();
      return;
    }
    QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(copy).center());
  });
  EXPECT_EQ(menu.Popup(items.get(), window.mapToGlobal(QPoint(10, 10))), CMDOFF_COPY + 1);
  EXPECT_TRUE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));

  // The keyboard: the first entry is ours; Return runs it once.
  QTimer::singleShot(0, [] {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Return);
  });
  EXPECT_EQ(menu.Popup(items.get(), window.mapToGlobal(QPoint(10, 10))), menu.Command(own));
  EXPECT_EQ(clicks, 1);

  // Escape closes it with nothing chosen.
  QTimer::singleShot(0, [] {
    if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
  });
  EXPECT_EQ(menu.Popup(items.get(), window.mapToGlobal(QPoint(10, 10))), 0);
  EXPECT_EQ(menu.actions().size(), 1);
  QGuiApplication::clipboard()->clear();
}

TEST(ShellIDListCommand, KindsRunWhenEveryItemAllowsThem) {
  TempDir tmp;
  EnvGuard data("XDG_DATA_HOME", tmp.dir("data"));
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  const std::string odd = "n\xe4me\x80.bin";
  tmp.dir("src");
  std::string a = tmp.file("src/" + odd, "odd bytes"), b = tmp.file("src/b.txt", "bee");
  std::string target = tmp.dir("target");
  QWidget window;

  // Paste with no files on the clipboard touches nothing.
  auto mimeText = new QMimeData;
  mimeText->setText(QStringLiteral("hello"));
  QGuiApplication::clipboard()->setMimeData(mimeText);
  auto into = Select({target});
  EXPECT_FALSE(into->InvokeCommand(&window, sckPaste));
  EXPECT_TRUE(std::filesystem::is_empty(target));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("hello"));

  auto both = Select({a, b});
  ASSERT_EQ(both->Count(), 2);
  EXPECT_TRUE(both->InvokeCommand(&window, sckCopy));
  EXPECT_TRUE(into->InvokeCommand(&window, sckPaste));
  EXPECT_EQ(ReadWholeFile(target + "/" + odd), "odd bytes");
  EXPECT_EQ(ReadWholeFile(target + "/b.txt"), "bee");
  // Paste into a file, and kinds outside the table, are refused.
  auto onFile = Select({b});
  EXPECT_FALSE(onFile->InvokeCommand(&window, sckPaste));
  EXPECT_FALSE(both->InvokeCommand(&window, 6));
  EXPECT_FALSE(both->InvokeCommand(&window, -1));

  EXPECT_TRUE(onFile->InvokeCommand(&window, sckCreateLink));
  EXPECT_EQ(std::filesystem::read_symlink(tmp / "src/b へのリンク.txt"), b);

  ui.deleteAnswers = {true};
  EXPECT_TRUE(both->InvokeCommand(&window, sckDelete));
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(ReadWholeFile(HomeTrashDirectory() + "/" + odd), "odd bytes");

  // The computer cannot be cut, copied or deleted; it has properties.
  auto computer = std::make_unique<TShellIDList2>();
  computer->AdoptParent(IDListPtr(AllocIDList(2)));
  PItemIDList drives = nullptr;
  ASSERT_TRUE(SHGetSpecialFolderLocation(CSIDL_DRIVES, drives));
  computer->Adopt(IDListPtr(drives));
  EXPECT_FALSE(computer->InvokeCommand(&window, sckCut));
  EXPECT_FALSE(computer->InvokeCommand(&window, sckCopy));
  EXPECT_FALSE(computer->InvokeCommand(&window, sckDelete));
  EXPECT_TRUE(computer->InvokeCommand(&window, sckProperties));
  QPointer<PropertiesDialog> dialog = window.findChild<PropertiesDialog*>();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->Value("typeValue")->text(), QStringLiteral("システム フォルダー"));
  dialog->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(dialog);
  QGuiApplication::clipboard()->clear();
}
