// The folder tree on real folders: the root, walking to a folder, merging
// what changed on disk (real inotify), the links to a list view and a combo
// box, selection on release, rename, the context menu, drive events and drags.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "ChoosingMenu.h"
#include "EnvGuard.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/namespace/Drives.h"
#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "shell/ShellComboBox.h"
#include "shell/ShellListView.h"
#include "shell/ShellTreeView.h"
#include "shell/watch/WatcherThread.h"

namespace fs = std::filesystem;

namespace {
class TreeViewTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tree.reset();
    list.reset();
    WaitForWatcherThreads();
  }
  // The tree reads the home folder as it is when it is made.
  void MakeTree(bool withList = true) {
    tree = std::make_unique<TShellTreeView>();
    tree->resize(500, 700);
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    if (withList) {
      list = std::make_unique<TShellListView>();
      tree->SetShellListView(list.get());
    }
  }
  static TShellTreeNode* Child(QTreeWidgetItem* parent, const std::string& name) {
    for (int i = 0; parent && i < parent->childCount(); ++i)
      if (parent->child(i)->text(0).toStdString() == name) return TShellTreeView::NodeOf(parent->child(i));
    return nullptr;
  }
  static std::vector<std::string> Names(QTreeWidgetItem* parent) {
    std::vector<std::string> names;
    for (int i = 0; i < parent->childCount(); ++i) names.push_back(parent->child(i)->text(0).toStdString());
    return names;
  }
  static std::string PathOf(TShellTreeNode* node) { return node && node->ShellItem() ? node->Item->GetItemPath() : ""; }
  TShellTreeNode* Home() const { return TShellTreeView::NodeOf(tree->RootNode()->child(0)); }
  QPoint At(QTreeWidgetItem* node) const { return tree->visualItemRect(node).center(); }
  void RightClick(QTreeWidgetItem* node) {
    QWidget* viewport = tree->viewport();
    QPoint at = At(node);
    QTest::mousePress(viewport, Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &menu);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
  }
  // Types a new name into the editor the tree opened and presses Return.
  void TypeName(const QString& name) {
    auto* editor = tree->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the rename follows the editor's close
    QCoreApplication::processEvents();
  }

  TempDir home, xdg;
  EnvGuard homeEnv{"HOME", home.path()};
  EnvGuard configEnv{"XDG_CONFIG_HOME", xdg.dir("config")};
  EnvGuard dataEnv{"XDG_DATA_HOME", xdg.dir("data")};
  std::unique_ptr<TShellListView> list;
  std::unique_ptr<TShellTreeView> tree;
};
}  // namespace

TEST_F(TreeViewTest, FreshTreeShowsTheDesktopWithItsFirstChildOpen) {
  home.dir("alpha");
  home.dir("beta/inner");
  home.dir(".secret");
  home.file("file.txt", "x");
  MakeTree();
  TShellTreeNode* root = tree->RootNode();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0), QStringLiteral("デスクトップ"));
  EXPECT_TRUE(root->isExpanded());
  EXPECT_EQ(tree->SelectedNode(), root);
  EXPECT_EQ(GetIDListLevel(tree->GetSelectedIDList()), 0);
  EXPECT_EQ(Names(root), (std::vector<std::string>{"ホーム", "コンピューター", "ネットワーク", "ごみ箱"}));
  ASSERT_TRUE(Home()->isExpanded());
  EXPECT_EQ(Names(Home()), (std::vector<std::string>{".secret", "alpha", "beta"}));  // no files
  // Filled only when opened, but offering to open.
  TShellTreeNode* beta = Child(Home(), "beta");
  EXPECT_EQ(beta->childCount(), 0);
  EXPECT_EQ(beta->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  EXPECT_EQ(tree->WatchedFolders(), std::vector<std::string>{home.path()});  // desktop and home are one

  // The linked list view shows the desktop and knows its tree.
  EXPECT_EQ(list->GetPathName(), home.path());
  EXPECT_EQ(list->ShellTreeView(), tree.get());
  // The desktop is never renamed in place.
  EXPECT_FALSE(tree->StartRename(root));

  // Settings travel to the list view; hidden folders and virtual items leave the tree.
  tree->SetShVirtuaItems({itBitBucket});
  EXPECT_EQ(Child(root, "ネットワーク"), nullptr);
  EXPECT_TRUE(list->ShVirtuaItems() == TShVirtuaItems{itBitBucket});
  tree->SetIncludeHidden(false);
  EXPECT_EQ(Names(Home()), (std::vector<std::string>{"alpha", "beta"}));
  EXPECT_FALSE(list->IncludeHidden());
  list->SetIncludeHidden(true);  // and back from the list view
  EXPECT_TRUE(tree->IncludeHidden());
  EXPECT_NE(Child(Home(), ".secret"), nullptr);
}

TEST_F(TreeViewTest, SetPathNameOpensEveryLevelDownToTheFolder) {
  TempDir place;
  place.dir("a/b/c");
  place.dir("a/x");
  MakeTree();
  int changes = 0;
  QObject::connect(tree.get(), &QTreeWidget::currentItemChanged, [&] { ++changes; });
  tree->SetPathName(place / "a/b/c");
  TShellTreeNode* c = tree->SelectedNode();
  EXPECT_EQ(PathOf(c), place / "a/b/c");
  EXPECT_EQ(changes, 1);
  for (QTreeWidgetItem* up = c->parent(); up; up = up->parent())
    EXPECT_TRUE(up->isExpanded()) << PathOf(TShellTreeView::NodeOf(up));
  EXPECT_EQ(list->GetPathName(), place / "a/b/c");
  // The folder already selected, or a path that is none, changes nothing.
  tree->SetPathName(place / "a/b/c");
  tree->SetPathName(place / "missing");
  EXPECT_EQ(changes, 1);

  // A folder that vanished after its list was made: the walk gives up at the
  // desktop instead of going round between its neighbours.
  place.dir("a/m");
  PItemIDList gone = nullptr;
  ASSERT_TRUE(PathToIDList(place / "a/m", gone));
  fs::remove(place / "a/m");
  tree->SelectIDList(gone);
  FreeIDList(gone);
  EXPECT_EQ(tree->SelectedNode(), tree->RootNode());
}

TEST_F(TreeViewTest, ChangesOnDiskMergeIntoTheNodesKeepingWhatIsOpen) {
  home.dir("p/q");
  home.dir("r/s");
  home.dir("t");
  MakeTree();
  TShellTreeNode* p = Child(Home(), "p");
  TShellTreeNode* r = Child(Home(), "r");
  p->setExpanded(true);
  r->setExpanded(true);
  std::vector<std::string> watched = tree->WatchedFolders();
  EXPECT_NE(std::find(watched.begin(), watched.end(), home / "p"), watched.end());
  tree->setCurrentItem(Child(r, "s"));
  ASSERT_EQ(list->GetPathName(), home / "r/s");

  // Made, renamed, and made below an opened node: one burst, one merge.
  fs::create_directory(home / "n");
  fs::create_directory(home / "p/q2");
  fs::rename(home / "t", home / "u");
  QElapsedTimer waited;
  waited.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Child(Home(), "n") && Child(p, "q2") && Child(Home(), "u"); }, 6000));
  EXPECT_GE(waited.elapsed(), 1400);  // the burst settles first
  EXPECT_EQ(Child(Home(), "t"), nullptr);
  EXPECT_EQ(Child(Home(), "p"), p);  // the same nodes, still open
  EXPECT_EQ(Child(Home(), "r"), r);
  EXPECT_TRUE(p->isExpanded());
  EXPECT_TRUE(r->isExpanded());
  EXPECT_EQ(Names(Home()), (std::vector<std::string>{"n", "p", "r", "u"}));

  // The selected folder and an opened one deleted: both nodes go, the
  // selection and the list view move to the parent.
  fs::remove(home / "r/s");
  fs::remove_all(home / "p");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Child(r, "s") && !Child(Home(), "p"); }, 6000));
  EXPECT_EQ(tree->SelectedNode(), r);
  EXPECT_EQ(list->GetPathName(), home / "r");
  watched = tree->WatchedFolders();
  EXPECT_EQ(std::find(watched.begin(), watched.end(), home / "p"), watched.end());
}

TEST_F(TreeViewTest, ClickSelectsOnReleaseAndTheListViewFollowsBothWays) {
  home.dir("one/deep");
  home.dir("two/under");
  MakeTree();
  QWidget* viewport = tree->viewport();
  TShellTreeNode* one = Child(Home(), "one");
  QPoint at = At(one);
  int asked = 0;
  tree->OnShBeginDrag = [&](TShellTreeView*, TShellTreeNode* node, const QPoint&, int, int, bool& canDrag) {
    EXPECT_EQ(node, one);
    ++asked;
    canDrag = false;  // no drag loop in a test
  };
  auto move = [&](QPoint to) {
    QMouseEvent event(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
  };
  QTest::mousePress(viewport, Qt::LeftButton, {}, at);
  EXPECT_EQ(tree->SelectedNode(), tree->RootNode());  // not on press
  EXPECT_EQ(tree->DropTargetNode(), one);
  move(at + QPoint(5, 0));
  EXPECT_EQ(asked, 0);  // within five pixels
  move(at + QPoint(0, 30));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(tree->SelectedNode(), tree->RootNode());
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
  EXPECT_EQ(tree->SelectedNode(), one);
  EXPECT_EQ(tree->DropTargetNode(), nullptr);
  EXPECT_EQ(list->GetPathName(), home / "one");

  // Released away from the pressed node: no selection.
  TShellTreeNode* two = Child(Home(), "two");
  QTest::mousePress(viewport, Qt::LeftButton, {}, At(two));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, At(one));
  EXPECT_EQ(tree->SelectedNode(), one);
  // The branch mark opens a node without selecting it.
  QRect rect = tree->visualItemRect(two);
  QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(rect.left() - tree->indentation() / 2, rect.center().y()));
  EXPECT_TRUE(two->isExpanded());
  EXPECT_EQ(Names(two), std::vector<std::string>{"under"});
  EXPECT_EQ(tree->SelectedNode(), one);

  // The list view opening a folder moves the tree.
  int row = -1;
  for (int i = 0; i < list->FileList()->Count(); ++i)
    if (list->FileList()->Items(i)->GetDisplayName() == "deep") row = i;
  ASSERT_GE(row, 0);
  list->CurrentView()->setFocus();
  list->CurrentView()->setCurrentIndex(list->CurrentView()->model()->index(row, 0));
  QTest::keyClick(list->CurrentView(), Qt::Key_Return);
  EXPECT_EQ(list->GetPathName(), home / "one/deep");
  EXPECT_EQ(PathOf(tree->SelectedNode()), home / "one/deep");

  // A list view that is freed is forgotten.
  list.reset();
  EXPECT_EQ(tree->ShellListView(), nullptr);
  tree->SetPathName(home / "two");
  EXPECT_EQ(PathOf(tree->SelectedNode()), home / "two");
}

TEST_F(TreeViewTest, RenameInPlaceResortsAndNeverReplaces) {
  home.dir("alpha/kid");
  home.dir("taken");
  home.file("taken/keep.txt", "keep me");
  home.dir("zeta");
  MakeTree();
  tree->SetPathName(home / "alpha");
  TShellTreeNode* node = tree->SelectedNode();
  node->setExpanded(true);
  ASSERT_TRUE(tree->StartRename(node));
  TypeName("yankee");
  EXPECT_TRUE(fs::is_directory(home / "yankee"));
  EXPECT_FALSE(fs::exists(home / "alpha"));
  EXPECT_EQ(tree->SelectedNode(), node);
  EXPECT_EQ(node->text(0), "yankee");
  EXPECT_EQ(Names(node->parent()), (std::vector<std::string>{"taken", "yankee", "zeta"}));
  EXPECT_TRUE(node->isExpanded());
  EXPECT_EQ(Names(node), std::vector<std::string>{"kid"});
  EXPECT_EQ(list->GetPathName(), home / "yankee");

  // A taken name or a name with a separator is refused; nothing is replaced.
  for (QString bad : {QStringLiteral("taken"), QStringLiteral("a/b")}) {
    ASSERT_TRUE(tree->StartRename(node));
    TypeName(bad);
    EXPECT_TRUE(fs::is_directory(home / "yankee"));
    EXPECT_EQ(ReadWholeFile(home / "taken/keep.txt"), "keep me");
    EXPECT_EQ(node->text(0), "yankee");
  }
}

TEST_F(TreeViewTest, ContextMenuDeleteMovesToTheParentAndCutGhosts) {
  ScriptedFileOperationUI ui;
  ui.deleteAnswers = {true};
  ScopedFileOperationUI scoped(&ui);
  home.dir("doomed/inner");
  home.dir("keep");
  MakeTree();
  ChoosingMenu menu;
  tree->SetShellPopupMenu(&menu);
  EXPECT_FALSE(menu.AutoPopup);
  tree->setCurrentItem(Child(Home(), "doomed"));
  ASSERT_EQ(list->GetPathName(), home / "doomed");

  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 1 + CMDOFF_DELETE); };
  RightClick(Child(Home(), "doomed"));
  EXPECT_EQ(menu.shown, 1);
  EXPECT_FALSE(fs::exists(home / "doomed"));
  EXPECT_EQ(Child(Home(), "doomed"), nullptr);
  EXPECT_EQ(tree->SelectedNode(), Home());
  EXPECT_EQ(list->GetPathName(), home.path());
  EXPECT_EQ(tree->DragButton(), 0);
  EXPECT_EQ(tree->DropTargetNode(), nullptr);

  // Cut: the node is shown ghosted until the clipboard holds something else.
  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 1 + CMDOFF_CUT); };
  TShellTreeNode* keep = Child(Home(), "keep");
  RightClick(keep);
  EXPECT_TRUE(keep->Ghosted);
  EXPECT_TRUE(fs::exists(home / "keep"));
  QGuiApplication::clipboard()->setText("words");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !keep->Ghosted; }, 2000));

  // Rename from the menu edits the name in place.
  menu.ReadOnly = false;
  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 1 + CMDOFF_RENAME); };
  RightClick(keep);
  EXPECT_EQ(menu.shown, 3);
  TypeName("kept");
  EXPECT_TRUE(fs::is_directory(home / "kept"));
  EXPECT_EQ(keep->text(0), "kept");

  // The desktop shows no shell menu.
  RightClick(tree->RootNode());
  EXPECT_EQ(menu.shown, 3);
  QGuiApplication::clipboard()->clear();
}

TEST_F(TreeViewTest, DriveRemovalMovesASelectionOnTheDriveToTheComputer) {
  TempDir place;
  place.dir("sub");
  MakeTree();
  TShellTreeNode* computer = Child(tree->RootNode(), "コンピューター");
  ASSERT_NE(computer, nullptr);
  tree->SetPathName(place / "sub");
  ASSERT_EQ(PathOf(tree->SelectedNode()), place / "sub");
  std::string drivePath = MountPointOf(place.path());
  TShellTreeNode* drive = nullptr;
  for (int i = 0; i < computer->childCount(); ++i)
    if (PathOf(TShellTreeView::NodeOf(computer->child(i))) == drivePath)
      drive = TShellTreeView::NodeOf(computer->child(i));
  ASSERT_NE(drive, nullptr);
  ASSERT_TRUE(drive->isExpanded());

  // The medium of the selected folder's drive goes (as the mount monitor
  // reports it); the drive is still mounted, so its node stays, closed.
  TShellCtrlList::Instance().MountChanged({drivePath, "", "", false}, false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tree->SelectedNode() == computer; }, 4000));
  EXPECT_EQ(list->FolderIDList() ? GetIDListLevel(list->FolderIDList()) : -1, 1);
  EXPECT_FALSE(drive->isExpanded());
  EXPECT_EQ(drive->childCount(), 0);
  EXPECT_EQ(drive->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

  // A real mount comes and goes (needs the right to mount).
  std::string point = place.dir("mnt");
  if (mount("tolvane-tree", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
  auto nodeOf = [&]() -> TShellTreeNode* {
    for (int i = 0; i < computer->childCount(); ++i)
      if (PathOf(TShellTreeView::NodeOf(computer->child(i))) == point)
        return TShellTreeView::NodeOf(computer->child(i));
    return nullptr;
  };
  bool arrived = QTest::qWaitFor([&] { return nodeOf() != nullptr; }, 5000);
  if (arrived) {
    fs::create_directory(point + "/inside");
    tree->SetPathName(point + "/inside");
    arrived = PathOf(tree->SelectedNode()) == point + "/inside";
  }
  umount2(point.c_str(), MNT_DETACH);
  ASSERT_TRUE(arrived);
  ASSERT_TRUE(QTest::qWaitFor([&] { return nodeOf() == nullptr; }, 5000));
  EXPECT_EQ(tree->SelectedNode(), computer);
}

TEST_F(TreeViewTest, DragHoverOpensANodeOnTheThirtyFirstCallAndDropsGoToItsFolder) {
  home.dir("folder/child");
  TempDir source;
  std::string dragged = source.file("moving.txt", "m");
  MakeTree(false);
  TShellTreeNode* node = Child(Home(), "folder");
  ASSERT_FALSE(node->isExpanded());
  QWidget* viewport = tree->viewport();
  QPoint at = At(node);
  std::unique_ptr<QMimeData> data(MakeFilesMimeData({dragged}, false));
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;

  QDragEnterEvent enter(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &enter);
  ASSERT_TRUE(enter.isAccepted());
  EXPECT_EQ(tree->DragButton(), 3);
  int overs = 0;
  tree->OnShDragOver = [&](TShellTreeView*, const TShellDragObject&, TShellTreeNode* over, TShiftState, int, int) {
    EXPECT_EQ(over, node);
    ++overs;
  };
  for (int i = 1; i <= 31; ++i) {
    QDragMoveEvent move(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    EXPECT_TRUE(move.isAccepted());
    ASSERT_EQ(node->isExpanded(), i == 31) << "call " << i;
  }
  EXPECT_EQ(overs, 31);
  EXPECT_EQ(Names(node), std::vector<std::string>{"child"});
  EXPECT_EQ(tree->DropTargetNode(), node);
  EXPECT_TRUE(node->data(0, Qt::BackgroundRole).isValid());

  std::vector<std::string> folders;
  SetDropHandler([&](const std::vector<std::string>& sources, const std::string& folder, uint32_t) {
    EXPECT_EQ(sources, std::vector<std::string>{dragged});
    folders.push_back(folder);
    return true;
  });
  QDropEvent drop(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &drop);
  SetDropHandler(nullptr);
  EXPECT_EQ(folders, std::vector<std::string>{home / "folder"});
  EXPECT_EQ(tree->DragButton(), 0);
  EXPECT_EQ(tree->DropTargetNode(), nullptr);
  EXPECT_FALSE(node->data(0, Qt::BackgroundRole).isValid());

  // Data without files, or a refusing handler, never starts a drag over the tree.
  QMimeData text;
  text.setText("words");
  QDragEnterEvent plain(at, actions, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &plain);
  EXPECT_FALSE(plain.isAccepted());
  tree->OnShDragEnter = [](TShellTreeView*, const TShellDragObject&, TShiftState, const QPoint&, bool& accept) {
    accept = false;
  };
  QDragEnterEvent refused(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &refused);
  EXPECT_FALSE(refused.isAccepted());
  EXPECT_EQ(tree->DragButton(), 0);
}

TEST_F(TreeViewTest, UnreadableFoldersAndLinkLoopsStayFinite) {
  home.dir("locked/inside");
  home.dir("vanishing/inside");
  fs::create_directory_symlink(home.path(), home / "loop");
  MakeTree(false);
  // A folder that cannot be read any more opens to nothing and loses its mark.
  fs::remove_all(home / "vanishing");
  TShellTreeNode* vanishing = Child(Home(), "vanishing");
  vanishing->setExpanded(true);
  EXPECT_EQ(vanishing->childCount(), 0);
  EXPECT_EQ(vanishing->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);

  TShellTreeNode* loop = Child(Home(), "loop");
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->Overlay, 1);  // shown as a link
  // Each level of the loop opens only when asked.
  tree->SetPathName(home / "loop/loop/loop");
  TShellTreeNode* deepest = tree->SelectedNode();
  ASSERT_EQ(PathOf(deepest), home / "loop/loop/loop");
  EXPECT_FALSE(deepest->isExpanded());
  EXPECT_EQ(deepest->childCount(), 0);
  EXPECT_LE(tree->WatchedFolders().size(), 8u);
  // "Open everything below" opens one level, not the loop for ever.
  tree->setFocus();
  QTest::keyClick(tree.get(), Qt::Key_Asterisk);
  EXPECT_TRUE(deepest->isExpanded());
  ASSERT_NE(Child(deepest, "loop"), nullptr);
  EXPECT_FALSE(Child(deepest, "loop")->isExpanded());

  // The same for a folder without the right to read it (root reads anyway).
  chmod((home / "locked").c_str(), 0);
  TShellTreeNode* locked = Child(Home(), "locked");
  locked->setExpanded(true);
  if (access((home / "locked").c_str(), R_OK) != 0) {
    EXPECT_EQ(locked->childCount(), 0);
  }
}

TEST_F(TreeViewTest, ComboBoxFollowsTheTreeWithTemporaryEntries) {
  TempDir place;
  place.dir("a/b/c");
  MakeTree();
  TShellComboBox combo;
  tree->SetShellComboBox(&combo);
  EXPECT_EQ(combo.ShellTreeView(), tree.get());
  ASSERT_GT(combo.EntryCount(), 0);
  EXPECT_EQ(GetIDListLevel(combo.GetSelectedIDList()), 0);

  // The tree's folder deep below a drive: the combo box adds its ancestors for the while.
  tree->SetPathName(place / "a/b/c");
  ASSERT_TRUE(combo.GetSelectedIDList());
  EXPECT_EQ(IDListToPath(combo.GetSelectedIDList()), place / "a/b/c");
  int temporary = 0;
  for (int i = 0; i < combo.EntryCount(); ++i) temporary += combo.Entry(i)->Temporary;
  EXPECT_GE(temporary, 3);

  // Choosing a permanent entry moves the tree and drops the temporary ones.
  emit combo.activated(0);
  EXPECT_EQ(tree->SelectedNode(), tree->RootNode());
  for (int i = 0; i < combo.EntryCount(); ++i) EXPECT_FALSE(combo.Entry(i)->Temporary) << i;
  tree.reset();
  EXPECT_EQ(combo.ShellTreeView(), nullptr);
}
