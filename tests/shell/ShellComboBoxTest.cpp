#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/desktop/DropTarget.h"
#include "platform/ui/FileOperationDialogs.h"
#include "platform/ui/PlatformUi.h"
#include "platform/desktop/FilePayload.h"
#include "shell/ShellComboBox.h"
#include "shell/ShellTreeView.h"
#include "shell/watch/WatcherThread.h"

namespace {
// Sets an environment variable (or removes it) for one test.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvGuard() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

IDListPtr ListOf(const std::string& path) {
  PItemIDList list = nullptr;
  PathToIDList(path, list);
  return IDListPtr(list);
}

class ComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home.dir("alpha");
    home.dir("beta");
    home.dir(".hidden");
    combo = std::make_unique<TShellComboBox>();
    combo->resize(400, 30);
    combo->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(combo.get()));
  }

  int IndexOfPath(const std::string& path) const {
    for (int i = 0; i < combo->EntryCount(); ++i)
      if (combo->Entry(i)->GetItemPath() == path) return i;
    return -1;
  }
  int IndexOfType(TShItemIDType type) const {
    for (int i = 0; i < combo->EntryCount(); ++i)
      if (combo->Entry(i)->GetLevel() == 1 && combo->Entry(i)->GetItemType() == type) return i;
    return -1;
  }
  // Display names of the children of an entry, in list order.
  std::vector<std::string> ChildNames(int index) const {
    std::vector<std::string> names;
    for (int i = 0; i < combo->EntryCount(); ++i)
      if (combo->Entry(i)->ParentItem == combo->Entry(index)) names.push_back(combo->Entry(i)->GetDisplayName());
    return names;
  }
  int TemporaryCount() const {
    int count = 0;
    for (int i = 0; i < combo->EntryCount(); ++i) count += combo->Entry(i)->Temporary;
    return count;
  }
  // The list of a child of a folder entry, as the folder itself names it.
  IDListPtr ChildList(int index, const std::string& name) const {
    ShellFolderPtr folder = combo->Entry(index)->BindFolder();
    PItemIDList id = nullptr;
    if (!folder || !folder->ParseDisplayName(name, id)) return nullptr;
    IDListPtr owned(id);
    return IDListPtr(ConcatIDLists(combo->Entry(index)->AbsoluteIDList.get(), owned.get()));
  }
  // Picks an entry in the drop-down as the user does.
  void Choose(int index) {
    combo->showPopup();
    combo->view()->setCurrentIndex(combo->model()->index(index, 0));
    QTest::keyClick(combo->view(), Qt::Key_Return);
  }
  // Every entry's string is its display name, at the same index.
  void ExpectMirrored() const {
    ASSERT_EQ(combo->count(), combo->EntryCount());
    for (int i = 0; i < combo->count(); ++i)
      EXPECT_EQ(combo->itemText(i).toStdString(), combo->Entry(i)->GetDisplayName()) << i;
  }

  TempDir home;
  EnvGuard homeEnv{"HOME", home.path().c_str()};
  EnvGuard configEnv{"XDG_CONFIG_HOME", nullptr};
  std::unique_ptr<TShellComboBox> combo;
};
}  // namespace

TEST_F(ComboTest, RebuildListsTheDesktopItsChildrenAndTheFirstChildsFolders) {
  ASSERT_TRUE(combo->Ready());
  ASSERT_GT(combo->EntryCount(), 4);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(combo->Entry(0)->GetLevel(), 0);
  EXPECT_EQ(combo->Entry(0)->ParentItem, nullptr);
  EXPECT_EQ(combo->EditText().toStdString(), combo->Entry(0)->GetDisplayName());
  // Here the desktop's first child is the home folder; its folders come next.
  EXPECT_EQ(combo->Entry(1)->GetItemPath(), home.path());
  EXPECT_EQ(ChildNames(1), (std::vector<std::string>{".hidden", "alpha", "beta"}));
  EXPECT_NE(IndexOfType(itMyComputer), -1);
  EXPECT_NE(IndexOfType(itNetWork), -1);
  EXPECT_NE(IndexOfType(itBitBucket), -1);
  for (int i = 1; i < combo->EntryCount(); ++i) {
    TShellComboItem* item = combo->Entry(i);
    EXPECT_FALSE(item->Temporary) << i;
    EXPECT_EQ(item->GetIndex(), i);
    EXPECT_EQ(item->GetLevel(), item->ParentItem == combo->Entry(0) ? 1 : 2) << i;
    EXPECT_TRUE(item->ParentItem == combo->Entry(0) || item->ParentItem == combo->Entry(1)) << i;
  }
  ExpectMirrored();

  // A rebuild merges: kept entries stay the same objects, new ones slot in
  // by name, vanished ones go.
  TShellComboItem* beta = combo->Entry(IndexOfPath(home / "beta"));
  home.dir("because");
  std::filesystem::remove(home / "alpha");
  combo->Rebuild();
  EXPECT_EQ(ChildNames(1), (std::vector<std::string>{".hidden", "because", "beta"}));
  EXPECT_EQ(combo->Entry(IndexOfPath(home / "beta")), beta);
  ExpectMirrored();

  // Without a tree, the properties rebuild at once.
  combo->SetIncludeHidden(false);
  EXPECT_EQ(ChildNames(1), (std::vector<std::string>{"because", "beta"}));
  combo->SetShVirtuaItems({});
  EXPECT_EQ(IndexOfType(itNetWork), -1);
  EXPECT_EQ(IndexOfType(itBitBucket), -1);
  EXPECT_EQ(combo->currentIndex(), 0);
  ExpectMirrored();
}

TEST_F(ComboTest, ShowingAFolderAddsItsMissingAncestorsForAWhile) {
  TempDir other;
  std::string deep = other.dir("a/b/c/d");
  IDListPtr deepList = ListOf(deep);
  ASSERT_TRUE(deepList);
  combo->SelectIDList(deepList.get());
  int selected = combo->currentIndex();
  ASSERT_GT(selected, 0);
  EXPECT_EQ(combo->Entry(selected)->GetItemPath(), deep);
  EXPECT_EQ(combo->EditText().toStdString(), deep);
  EXPECT_EQ(combo->FindIndex(deepList.get()), selected);
  // Everything below the computer is temporary, one entry per level, each
  // under the one before.
  int levels = CountIDs(deepList.get());
  EXPECT_EQ(TemporaryCount(), levels - 1);
  TShellComboItem* item = combo->Entry(selected);
  for (int level = levels; level >= 2; --level) {
    EXPECT_TRUE(item->Temporary);
    EXPECT_EQ(item->GetLevel(), level);
    item = item->ParentItem;
  }
  EXPECT_EQ(item->GetItemType(), itMyComputer);
  EXPECT_FALSE(item->Temporary);
  EXPECT_EQ(IndexOfPath(other / "a/b"), selected - 2);
  ExpectMirrored();

  // Showing the same folder again changes nothing; another folder replaces the chain.
  int count = combo->EntryCount();
  combo->SelectIDList(deepList.get());
  EXPECT_EQ(combo->EntryCount(), count);
  std::string elsewhere = other.dir("x/y");
  combo->SelectIDList(ListOf(elsewhere).get());
  EXPECT_EQ(combo->Entry(combo->currentIndex())->GetItemPath(), elsewhere);
  EXPECT_EQ(IndexOfPath(other / "a"), -1);
  EXPECT_EQ(IndexOfPath(deep), -1);
  EXPECT_EQ(TemporaryCount(), CountIDs(ListOf(elsewhere).get()) - 1);

  // The desktop takes entry 0 and leaves nothing temporary behind.
  PItemIDList desktop = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DESKTOP, desktop));
  combo->SelectIDList(desktop);
  FreeIDList(desktop);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(TemporaryCount(), 0);
  ExpectMirrored();
}

TEST_F(ComboTest, FoldersMissingFromAListingStillGetAnEntry) {
  // A folder made after the rebuild shows up between its siblings.
  home.dir("because");
  IDListPtr fresh = ChildList(1, "because");
  ASSERT_TRUE(fresh);
  combo->SelectIDList(fresh.get());
  ASSERT_EQ(combo->Entry(combo->currentIndex())->GetItemPath(), home / "because");
  EXPECT_TRUE(combo->Entry(combo->currentIndex())->Temporary);
  EXPECT_EQ(ChildNames(1), (std::vector<std::string>{".hidden", "alpha", "because", "beta"}));

  // A kind the desktop's listing leaves out: found, not searched for ever.
  combo->SetShVirtuaItems({itBitBucket});
  ASSERT_EQ(IndexOfType(itNetWork), -1);
  PItemIDList network = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_NETWORK, network));
  combo->SelectIDList(network);
  FreeIDList(network);
  TShellComboItem* shown = combo->Entry(combo->currentIndex());
  EXPECT_EQ(shown->GetItemType(), itNetWork);
  EXPECT_TRUE(shown->Temporary);
  ExpectMirrored();
}

TEST_F(ComboTest, ChoosingAnEntryTrimsTheTemporaryEntries) {
  TempDir other;
  std::string deep = other.dir("a/b/c/d");
  combo->SelectIDList(ListOf(deep).get());
  int temporaries = TemporaryCount();

  // A temporary entry with temporary children keeps itself and drops them.
  int b = IndexOfPath(other / "a/b");
  ASSERT_GT(b, 0);
  Choose(b);
  EXPECT_EQ(combo->currentIndex(), b);
  EXPECT_EQ(IndexOfPath(other / "a/b/c"), -1);
  EXPECT_EQ(IndexOfPath(deep), -1);
  EXPECT_EQ(TemporaryCount(), temporaries - 2);
  EXPECT_EQ(combo->EditText().toStdString(), other / "a/b");

  // A permanent entry drops every temporary one.
  int beta = IndexOfPath(home / "beta");
  ASSERT_GT(beta, 0);
  TShellComboItem* betaItem = combo->Entry(beta);
  Choose(beta);
  EXPECT_EQ(TemporaryCount(), 0);
  EXPECT_EQ(combo->Entry(combo->currentIndex()), betaItem);
  EXPECT_EQ(combo->EditText().toStdString(), home / "beta");
  ExpectMirrored();
}

TEST_F(ComboTest, OnlyTheSelectedEntryTakesADrop) {
  TempDir other, source;
  std::string dest = other.dir("dest");
  std::string dragged = source.file("moved.txt", "payload");
  ScriptedFileOperationUI ui;
  SetFileOperationUIOverride(&ui);
  InstallFileOperationDropHandler();
  combo->SelectIDList(ListOf(dest).get());
  ASSERT_EQ(combo->Entry(combo->currentIndex())->GetItemPath(), dest);

  std::vector<TShellComboItem*> dropItems;
  bool allowDefault = true;
  int left = 0;
  combo->OnShDragDrop = [&](TShellComboBox*, const TShellDragObject&, TShellComboItem* item, TShiftState, int, int,
                            bool& defaultAction) {
    dropItems.push_back(item);
    defaultAction = allowDefault;
  };
  combo->OnShDragLeave = [&](TShellComboBox*) { ++left; };
  std::unique_ptr<QMimeData> data(MakeFilesMimeData({dragged}, false));
  QPoint at(5, 5);
  auto dropCopy = [&] {
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(combo.get(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(combo.get(), &move);
    bool accepted = move.isAccepted();
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(combo.get(), &drop);
    return accepted && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
  };

  // A handler may keep the drop for itself.
  allowDefault = false;
  dropCopy();
  EXPECT_FALSE(std::filesystem::exists(dest + "/moved.txt"));
  allowDefault = true;
  EXPECT_TRUE(dropCopy());
  EXPECT_EQ(ReadWholeFile(dest + "/moved.txt"), "payload");
  EXPECT_EQ(ReadWholeFile(dragged), "payload");
  ASSERT_EQ(dropItems.size(), 2u);
  EXPECT_EQ(dropItems[1], combo->Entry(combo->currentIndex()));

  // A leave is reported.
  QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(combo.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragLeaveEvent leave;
  QApplication::sendEvent(combo.get(), &leave);
  EXPECT_EQ(left, 1);

  // A virtual folder (the computer) takes nothing.
  combo->setCurrentIndex(IndexOfType(itMyComputer));
  QDragEnterEvent overComputer(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
  QApplication::sendEvent(combo.get(), &overComputer);
  QDragMoveEvent moveOverComputer(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
  QApplication::sendEvent(combo.get(), &moveOverComputer);
  EXPECT_FALSE(moveOverComputer.isAccepted());
  SetDropHandler(nullptr);
  SetFileOperationUIOverride(nullptr);
}

TEST_F(ComboTest, RowsAreIndentedByLevelAndAtLeast18PixelsHigh) {
  EXPECT_GE(combo->ItemHeight(), 18);
  EXPECT_GE(combo->sizeHint().height(), combo->ItemHeight());
  QAbstractItemDelegate* delegate = combo->view()->itemDelegate();
  int child = IndexOfPath(home / "alpha");
  ASSERT_GT(child, 0);
  // The first drawn column of a row: the icon, moved right 12 pixels a level.
  auto firstInk = [&](int row) {
    QStyleOptionViewItem option;
    option.initFrom(combo->view());
    option.rect = QRect(0, 0, 300, combo->ItemHeight());
    QModelIndex index = combo->model()->index(row, 0);
    EXPECT_EQ(delegate->sizeHint(option, index).height(), combo->ItemHeight());
    QImage image(300, combo->ItemHeight(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    delegate->paint(&painter, option, index);
    painter.end();
    QRgb base = option.palette.color(QPalette::Base).rgb();
    for (int x = 0; x < image.width(); ++x)
      for (int y = 0; y < image.height(); ++y)
        if (image.pixel(x, y) != base) return x;
    return -1;
  };
  int desktopInk = firstInk(0);
  int childInk = firstInk(child);
  ASSERT_GE(desktopInk, 0);
  EXPECT_LT(desktopInk, 12);
  EXPECT_EQ(childInk - desktopInk, 24);
}

TEST_F(ComboTest, ChoosingAnEntryMovesTheLinkedTree) {
  TempDir other;
  std::string deep = other.dir("a/b/c");
  auto tree = std::make_unique<TShellTreeView>();
  tree->resize(300, 400);
  tree->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
  tree->SetShellComboBox(combo.get());
  EXPECT_EQ(combo->ShellTreeView(), tree.get());

  // The tree tells the combo box what to show ...
  tree->SetPathName(deep);
  EXPECT_EQ(combo->EditText().toStdString(), deep);
  // ... and a chosen entry moves the tree.
  int b = IndexOfPath(other / "a/b");
  ASSERT_GT(b, 0);
  Choose(b);
  EXPECT_EQ(IDListToPath(tree->GetSelectedIDList()), other / "a/b");
  EXPECT_EQ(combo->Entry(combo->currentIndex())->GetItemPath(), other / "a/b");
  EXPECT_EQ(IndexOfPath(deep), -1);
  int beta = IndexOfPath(home / "beta");
  Choose(beta);
  EXPECT_EQ(IDListToPath(tree->GetSelectedIDList()), home / "beta");
  EXPECT_EQ(TemporaryCount(), 0);

  // A freed tree is forgotten.
  tree.reset();
  WaitForWatcherThreads();
  EXPECT_EQ(combo->ShellTreeView(), nullptr);
  Choose(1);
  EXPECT_EQ(combo->currentIndex(), 1);
}
