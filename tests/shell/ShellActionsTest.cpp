#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QStringListModel>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

#include "EnvGuard.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/desktop/FilePayload.h"
#include "platform/ui/PropertiesDialog.h"
#include "platform/namespace/ShellApi.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/actions/ActionDispatch.h"
#include "shell/actions/ShellActns.h"
#include "shell/watch/WatcherThread.h"
#include "shell/ShellIconView.h"
#include "shell/ShellReportView.h"

namespace {

// A window with two folder lists, a plain list view and a line edit, and the
// seventeen actions hosted by the window.
class ShellActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::clipboard()->clear();
    window = std::make_unique<QWidget>();
    window->resize(1200, 500);
    auto* layout = new QHBoxLayout(window.get());
    left = new TShellListView(window.get());
    right = new TShellListView(window.get());
    plain = new QListView(window.get());
    plainModel = new QStringListModel({"a", "b", "c", "d", "e", "f"}, plain);
    plain->setModel(plainModel);
    plain->setSelectionMode(QAbstractItemView::ExtendedSelection);
    edit = new QLineEdit(window.get());
    for (QWidget* w : {static_cast<QWidget*>(left), static_cast<QWidget*>(right), static_cast<QWidget*>(plain),
                       static_cast<QWidget*>(edit)})
      layout->addWidget(w);
    left->SetViewStyleProperty(vsReport);
    right->SetViewStyleProperty(vsReport);
    left->SetPathName(dirA.path());
    right->SetPathName(dirB.path());
    actions = new TShellActionList(window.get());
    actions->AddStandardActions();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override {
    window.reset();
    WaitForWatcherThreads();
    QGuiApplication::clipboard()->clear();
  }

  TCustomShellAction* Act(const char* name) const {
    TCustomShellAction* action = actions->Find(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }
  bool Enabled(const char* name) const { return Act(name)->isEnabled(); }
  void FocusOn(QWidget* w) {
    w->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    actions->UpdateActions();
  }
  static int Row(TShellListView* view, const std::string& name) {
    for (int i = 0; i < view->FileList()->Count(); ++i)
      if (view->FileList()->Items(i)->GetDisplayName() == name) return i;
    return -1;
  }
  static std::vector<int> SelectedRows(TShellListView* view) {
    std::vector<int> rows;
    for (int i = 0; i < view->Model()->rowCount(); ++i)
      if (view->IsRowSelected(i)) rows.push_back(i);
    return rows;
  }
  std::vector<int> PlainSelected() const {
    std::vector<int> rows;
    for (int i = 0; i < plainModel->rowCount(); ++i)
      if (plain->selectionModel()->isSelected(plainModel->index(i))) rows.push_back(i);
    return rows;
  }
  void MakeFiles(int count) {
    for (int i = 0; i < count; ++i) dirA.file("f" + std::to_string(i) + ".txt", std::string(i + 1, 'x'));
    left->RefreshList();
    ASSERT_EQ(left->Model()->rowCount(), count);
  }

  TempDir dirA, dirB;
  std::unique_ptr<QWidget> window;
  TShellListView* left = nullptr;
  TShellListView* right = nullptr;
  QListView* plain = nullptr;
  QStringListModel* plainModel = nullptr;
  QLineEdit* edit = nullptr;
  TShellActionList* actions = nullptr;
};

}  // namespace

TEST(ShellActions, CaptionsHintsAndDefaultShortcuts) {
  struct Expected {
    const char* name;
    const char* caption;
    const char* hintLong;
    QKeySequence shortcut;
  };
  const Expected expected[] = {
      {"ShellFileCut1", "切り取り(&T)", "選択されたオブジェクトを削除し、クリップボードにコピーします。",
       QKeySequence(Qt::CTRL | Qt::Key_X)},
      {"ShellFileCopy1", "コピー(&C)",
       "選択されたオブジェクトをクリップボードにコピーします。新しい位置に挿入するには [貼り付け] "
       "を選んでください。",
       QKeySequence(Qt::CTRL | Qt::Key_C)},
      {"ShellFilePaste1", "貼り付け(&P)", "コピーしたまたは切り取ったオブジェクトを、選択された位置に貼り付けます。",
       QKeySequence(Qt::CTRL | Qt::Key_V)},
      {"ShellFileDelete1", "削除(&D)", "選択されたオブジェクトを削除します。", QKeySequence(Qt::Key_Delete)},
      {"ShellFileProperty1", "プロパティ(&R)", "選択されたオブジェクトのプロパティを表示します。", {}},
      {"SelectAllItem1", "すべて選択(&A)", "ウインドウ内のすべてのオブジェクトを選択します。", {}},
      {"ShellFileSortByName1", "名前順(&N)", "オブジェクトを名前順に並び替えます。", {}},
      {"ShellFileSortBySize1", "サイズ順(&Z)", "オブジェクトをサイズ順に並び替えます。", {}},
      {"ShellFileSortByType1", "種類順(&N)", "オブジェクトを種類順に並び替えます。", {}},
      {"ShellFileSortByLastWrite1", "日付順(&D)", "オブジェクトを日付順に並び替えます。", {}},
      {"ShellFileSortByAttr1", "属性順", "オブジェクトを属性順に並び替えます。", {}},
      {"LargeIcon1", "大きいアイコン(&G)", "オブジェクトを大きいアイコンで表示します。", {}},
      {"SmallIcon1", "小さいアイコン(&M)", "オブジェクトを小さいアイコンで表示します。", {}},
      {"ListIcon1", "一覧(&L)", "オブジェクトを一覧表示します。", {}},
      {"ReportIcon1", "詳細(&D)", "ウインドウ内の各オブジェクトの情報を表示します。", {}},
      {"SwitchViewStyle1", "表示", nullptr, {}},
      {"ReverseSelectedItem1",
       "選択の切り替え(&I)",
       "選択されているオブジェクトと選択されていないオブジェクトを切り替えます。",
       {}},
  };
  QWidget host;
  TShellActionList list(&host);
  list.AddStandardActions();
  ASSERT_EQ(list.Actions().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    TCustomShellAction* action = list.Actions()[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(action->objectName(), QString::fromLatin1(e.name));
    EXPECT_EQ(action->text(), QString::fromUtf8(e.caption));
    QString shortPart = TCustomShellAction::StripAccelerator(QString::fromUtf8(e.caption));
    EXPECT_FALSE(shortPart.contains('&'));
    EXPECT_FALSE(shortPart.contains('('));
    if (e.hintLong) {
      EXPECT_EQ(action->Hint(), shortPart + "|" + QString::fromUtf8(e.hintLong));
      EXPECT_EQ(action->statusTip(), QString::fromUtf8(e.hintLong));
    } else {
      EXPECT_TRUE(action->Hint().isEmpty());
    }
    EXPECT_EQ(action->toolTip(), shortPart);
    EXPECT_EQ(action->shortcut(), e.shortcut);
    EXPECT_TRUE(host.actions().contains(action));
    EXPECT_EQ(action->shortcutContext(), Qt::WindowShortcut);
    EXPECT_EQ(action->isCheckable(), i >= 11 && i <= 14);
  }
  EXPECT_EQ(TCustomShellAction::StripAccelerator("&Open"), "Open");
  EXPECT_EQ(TCustomShellAction::StripAccelerator("削除(&D)"), "削除");
  EXPECT_EQ(TSwitchViewStyle::NextStyle(vsReport), vsIcon);
}

TEST_F(ShellActionsTest, StatesFollowTheFocusedView) {
  dirA.file("one.txt", "1");
  dirA.file("two.txt", "22");
  left->RefreshList();

  // No list view focused: nothing to act on.
  FocusOn(edit);
  for (TCustomShellAction* action : actions->Actions())
    EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();

  // The folder list's inner view leads to the folder list itself.
  FocusOn(left->CurrentView());
  EXPECT_EQ(actions->TargetOf(Act("ShellFileCopy1")), left);
  EXPECT_EQ(actions->TargetOf(Act("SelectAllItem1")), left);
  EXPECT_FALSE(Enabled("ShellFileCut1"));
  EXPECT_FALSE(Enabled("ShellFileCopy1"));
  EXPECT_FALSE(Enabled("ShellFileDelete1"));
  EXPECT_FALSE(Enabled("ShellFileProperty1"));
  EXPECT_FALSE(Enabled("ShellFilePaste1"));  // nothing on the clipboard
  for (const char* name : {"ShellFileSortByName1", "ShellFileSortBySize1", "ShellFileSortByType1",
                           "ShellFileSortByLastWrite1", "ShellFileSortByAttr1", "SelectAllItem1",
                           "ReverseSelectedItem1", "SwitchViewStyle1", "LargeIcon1", "ReportIcon1"})
    EXPECT_TRUE(Enabled(name)) << name;
  EXPECT_TRUE(Act("ReportIcon1")->isChecked());
  EXPECT_FALSE(Act("LargeIcon1")->isChecked());

  left->SetRowSelected(Row(left, "one.txt"), true);
  actions->UpdateActions();
  for (const char* name : {"ShellFileCut1", "ShellFileCopy1", "ShellFileDelete1", "ShellFileProperty1"})
    EXPECT_TRUE(Enabled(name)) << name;

  // A plain list view takes the list view actions only.
  FocusOn(plain);
  EXPECT_EQ(actions->TargetOf(Act("SelectAllItem1")), plain);
  EXPECT_EQ(actions->TargetOf(Act("ShellFileCopy1")), nullptr);
  EXPECT_FALSE(Enabled("ShellFileCopy1"));
  EXPECT_FALSE(Enabled("ShellFileSortByName1"));
  EXPECT_TRUE(Enabled("SelectAllItem1"));
  EXPECT_TRUE(Act("ListIcon1")->isChecked());

  // A hidden list view is no target, even for an action bound to it.
  auto* sort = static_cast<TShellFileAction*>(Act("ShellFileSortByName1"));
  sort->SetShellListView(left);
  FocusOn(left->CurrentView());
  EXPECT_TRUE(sort->HandlesTarget(left));
  left->hide();
  FocusOn(edit);
  EXPECT_FALSE(sort->HandlesTarget(left));
  EXPECT_EQ(actions->TargetOf(sort), nullptr);
  EXPECT_FALSE(sort->isEnabled());
}

TEST_F(ShellActionsTest, SortingAndItsStatesInVirtualFolders) {
  dirA.file("b", "1");
  dirA.file("a", "333");
  dirA.file("c", "22");
  left->RefreshList();
  FocusOn(left->CurrentView());
  auto names = [&] {
    std::vector<std::string> n;
    for (int i = 0; i < left->FileList()->Count(); ++i) n.push_back(left->FileList()->Items(i)->GetDisplayName());
    return n;
  };
  Act("ShellFileSortBySize1")->trigger();
  EXPECT_EQ(names(), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(left->FileList()->SortType, 1);
  Act("ShellFileSortByName1")->trigger();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(left->FileList()->SortOrder[0], 1);

  // Files on the clipboard: paste is possible in a folder on disk only.
  std::string outside = dirB.file("x.txt", "x");
  QGuiApplication::clipboard()->setMimeData(MakeFilesMimeData({outside}, false));
  actions->UpdateActions();
  EXPECT_TRUE(Enabled("ShellFilePaste1"));

  PItemIDList computer = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DRIVES, computer));
  left->SetFolderIDList(computer);
  FreeIDList(computer);
  ASSERT_TRUE(left->GetPathName().empty());
  FocusOn(left->CurrentView());
  EXPECT_FALSE(Enabled("ShellFilePaste1"));
  EXPECT_TRUE(Enabled("ShellFileSortByName1"));
  for (const char* name :
       {"ShellFileSortBySize1", "ShellFileSortByType1", "ShellFileSortByLastWrite1", "ShellFileSortByAttr1"})
    EXPECT_FALSE(Enabled(name)) << name;
  EXPECT_FALSE(actions->Execute(Act("ShellFileSortBySize1")));

  // Back on disk with only text on the clipboard: no paste.
  left->SetPathName(dirA.path());
  QGuiApplication::clipboard()->setText("plain words");
  actions->UpdateActions();
  EXPECT_FALSE(Enabled("ShellFilePaste1"));
  EXPECT_TRUE(Enabled("ShellFileSortBySize1"));
}

TEST_F(ShellActionsTest, RenameEditorKeepsItsKeys) {
  dirA.file("old.txt", "o");
  left->RefreshList();
  int row = Row(left, "old.txt");
  FocusOn(left->CurrentView());
  left->SetRowSelected(row, true);
  left->SetFocusedRow(row);
  actions->UpdateActions();
  ASSERT_TRUE(Enabled("ShellFileDelete1"));
  ASSERT_TRUE(Enabled("ShellFileCopy1"));

  ASSERT_TRUE(left->StartRename());
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  actions->UpdateActions();
  EXPECT_TRUE(left->IsEditingLabel());
  EXPECT_EQ(actions->TargetOf(Act("ShellFileDelete1")), left);
  EXPECT_FALSE(Enabled("ShellFileDelete1"));
  EXPECT_EQ(actions->TargetOf(Act("ShellFileCopy1")), nullptr);
  EXPECT_FALSE(Enabled("ShellFileCut1"));
  EXPECT_FALSE(Enabled("ShellFileCopy1"));
  EXPECT_FALSE(Enabled("ShellFilePaste1"));

  // The keys reach the editor: text is copied, a character deleted, no file touched.
  editor->selectAll();
  QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
  EXPECT_FALSE(MimeDataHoldsFiles(QGuiApplication::clipboard()->mimeData()));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "old.txt");
  editor->setCursorPosition(0);
  QTest::keyClick(editor, Qt::Key_Delete);
  EXPECT_EQ(editor->text(), "ld.txt");
  EXPECT_TRUE(std::filesystem::exists(dirA / "old.txt"));

  QTest::keyClick(editor, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_FALSE(left->IsEditingLabel());
  FocusOn(left->CurrentView());
  EXPECT_TRUE(Enabled("ShellFileDelete1"));
  EXPECT_TRUE(Enabled("ShellFileCopy1"));
}

TEST_F(ShellActionsTest, InvertsSevenOfTenWithFewSingleChanges) {
  MakeFiles(10);
  FocusOn(left->CurrentView());
  left->BeginSelUpdate();
  for (int i = 0; i < 7; ++i) left->SetRowSelected(i, true);
  left->EndSelUpdate();
  int changes = 0, told = 0;
  QObject::connect(left->ReportView()->selectionModel(), &QItemSelectionModel::selectionChanged, window.get(),
                   [&] { ++changes; });
  left->OnShSelChange = [&](TShellListView*, uint64_t) { ++told; };
  ASSERT_TRUE(actions->Execute(Act("ReverseSelectedItem1")));
  EXPECT_EQ(SelectedRows(left), (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(changes, 2);  // one deselection of all, one selection of the spans between
  EXPECT_EQ(told, 1);
  EXPECT_EQ(left->SelSize(), uint64_t(8 + 9 + 10));
}

TEST_F(ShellActionsTest, InvertsFiveOfTenBySelectingAllFirst) {
  MakeFiles(10);
  FocusOn(left->CurrentView());
  for (int i : {0, 2, 4, 6, 8}) left->SetRowSelected(i, true);
  int changes = 0, told = 0;
  QObject::connect(left->ReportView()->selectionModel(), &QItemSelectionModel::selectionChanged, window.get(),
                   [&] { ++changes; });
  left->OnShSelChange = [&](TShellListView*, uint64_t) { ++told; };
  ASSERT_TRUE(actions->Execute(Act("ReverseSelectedItem1")));
  EXPECT_EQ(SelectedRows(left), (std::vector<int>{1, 3, 5, 7, 9}));
  EXPECT_EQ(changes, 2);  // one deselection of all, one selection of the five spans between
  EXPECT_EQ(told, 1);

  // Nothing selected: everything becomes selected; all selected: nothing.
  left->SelectAllRows(false);
  actions->Execute(Act("ReverseSelectedItem1"));
  EXPECT_EQ(left->SelectedCount(), 10);
  actions->Execute(Act("ReverseSelectedItem1"));
  EXPECT_EQ(left->SelectedCount(), 0);
}

TEST_F(ShellActionsTest, BoundActionOnAnEmptyListLeavesTheFocus) {
  auto* reverse = static_cast<TListViewAction*>(Act("ReverseSelectedItem1"));
  auto* selectAll = static_cast<TListViewAction*>(Act("SelectAllItem1"));
  reverse->SetListView(left->ReportView());  // an inner view binds its folder list
  EXPECT_EQ(reverse->ListView(), left);
  selectAll->SetListView(left);
  FocusOn(edit);
  ASSERT_EQ(left->Model()->rowCount(), 0);
  EXPECT_EQ(actions->TargetOf(reverse), left);
  int told = 0;
  left->OnShSelChange = [&](TShellListView*, uint64_t) { ++told; };
  EXPECT_TRUE(actions->Execute(reverse));
  EXPECT_TRUE(actions->Execute(selectAll));
  EXPECT_EQ(QApplication::focusWidget(), edit);
  EXPECT_EQ(told, 0);

  // With items, the list view takes the focus.
  dirA.file("a", "a");
  dirA.file("b", "b");
  left->RefreshList();
  told = 0;
  EXPECT_TRUE(actions->Execute(selectAll));
  EXPECT_EQ(left->SelectedCount(), 2);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(QApplication::focusWidget(), left->CurrentView());
}

TEST_F(ShellActionsTest, SwitchesViewStylesInACycle) {
  dirA.file("a", "a");
  left->RefreshList();
  left->SetViewStyleProperty(vsIcon);
  FocusOn(left);
  ASSERT_EQ(QApplication::focusWidget(), left->IconView());
  const char* fixed[] = {"LargeIcon1", "SmallIcon1", "ListIcon1", "ReportIcon1"};
  auto checked = [&] {
    std::vector<bool> c;
    for (const char* name : fixed) c.push_back(Act(name)->isChecked());
    return c;
  };
  EXPECT_EQ(checked(), (std::vector<bool>{true, false, false, false}));
  const TViewStyle cycle[] = {vsSmallIcon, vsList, vsReport, vsIcon};
  for (TViewStyle style : cycle) {
    Act("SwitchViewStyle1")->trigger();
    EXPECT_EQ(left->ViewStyle(), style);
    std::vector<bool> want(4, false);
    want[style] = true;
    EXPECT_EQ(checked(), want) << style;
    // The focus stays on the list, now in the view that shows.
    EXPECT_EQ(QApplication::focusWidget(), left->CurrentView());
  }
  // The fixed styles set theirs; a click on a checked one keeps it checked.
  Act("ReportIcon1")->trigger();
  EXPECT_EQ(left->ViewStyle(), vsReport);
  Act("ReportIcon1")->trigger();
  EXPECT_EQ(left->ViewStyle(), vsReport);
  EXPECT_TRUE(Act("ReportIcon1")->isChecked());
  Act("SmallIcon1")->trigger();
  EXPECT_EQ(left->ViewStyle(), vsSmallIcon);
  EXPECT_EQ(checked(), (std::vector<bool>{false, true, false, false}));
}

TEST_F(ShellActionsTest, PlainListViewSelectsInvertsAndSwitchesStyle) {
  FocusOn(plain);
  Act("SelectAllItem1")->trigger();
  EXPECT_EQ(PlainSelected(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  plain->clearSelection();
  plain->selectionModel()->select(plainModel->index(1), QItemSelectionModel::Select);
  plain->selectionModel()->select(plainModel->index(4), QItemSelectionModel::Select);
  Act("ReverseSelectedItem1")->trigger();
  EXPECT_EQ(PlainSelected(), (std::vector<int>{0, 2, 3, 5}));
  EXPECT_EQ(QApplication::focusWidget(), plain);

  Act("LargeIcon1")->trigger();
  EXPECT_EQ(plain->viewMode(), QListView::IconMode);
  EXPECT_EQ(plain->iconSize(), QSize(32, 32));
  EXPECT_TRUE(Act("LargeIcon1")->isChecked());
  Act("SmallIcon1")->trigger();
  EXPECT_EQ(plain->viewMode(), QListView::IconMode);
  EXPECT_EQ(plain->iconSize(), QSize(16, 16));
  EXPECT_TRUE(Act("SmallIcon1")->isChecked());
  EXPECT_FALSE(Act("LargeIcon1")->isChecked());
  Act("ListIcon1")->trigger();
  EXPECT_EQ(plain->viewMode(), QListView::ListMode);
  EXPECT_TRUE(Act("ListIcon1")->isChecked());
  Act("ReportIcon1")->trigger();
  EXPECT_EQ(plain->viewMode(), QListView::ListMode);
  EXPECT_TRUE(Act("ReportIcon1")->isChecked());
  EXPECT_FALSE(Act("ListIcon1")->isChecked());
  Act("SwitchViewStyle1")->trigger();
  EXPECT_EQ(plain->viewMode(), QListView::IconMode);
  EXPECT_TRUE(Act("LargeIcon1")->isChecked());

  // A plain tree view counts as a list view; the folder tree's kind would not.
  QStringListModel model({"x", "y", "z"});
  QTreeView tree(window.get());
  tree.setModel(&model);
  window->layout()->addWidget(&tree);
  tree.show();
  FocusOn(&tree);
  EXPECT_TRUE(Act("ReportIcon1")->isChecked());
  Act("SelectAllItem1")->trigger();
  EXPECT_EQ(tree.selectionModel()->selectedRows().size(), 3);
  Act("ReverseSelectedItem1")->trigger();
  EXPECT_TRUE(tree.selectionModel()->selectedRows().isEmpty());
}

TEST_F(ShellActionsTest, DestroyedBoundViewsLeaveTheActionsUnbound) {
  dirA.file("a.txt", "a");
  left->RefreshList();
  left->SetRowSelected(0, true);
  auto* del = static_cast<TShellFileAction*>(Act("ShellFileDelete1"));
  del->SetShellListView(right);
  EXPECT_EQ(del->ShellListView(), right);
  FocusOn(left->CurrentView());
  // Bound to the other list (which has no selection): it serves that one only.
  EXPECT_FALSE(del->HandlesTarget(left));
  EXPECT_EQ(actions->TargetOf(del), right);
  EXPECT_FALSE(del->isEnabled());

  delete right;
  right = nullptr;
  EXPECT_EQ(del->ShellListView(), nullptr);
  actions->UpdateActions();
  EXPECT_EQ(actions->TargetOf(del), left);
  EXPECT_TRUE(del->isEnabled());

  auto* style = static_cast<TListViewAction*>(Act("LargeIcon1"));
  style->SetListView(plain);
  FocusOn(left->CurrentView());
  EXPECT_EQ(actions->TargetOf(style), plain);
  delete plain;
  plain = nullptr;
  EXPECT_EQ(style->ListView(), nullptr);
  EXPECT_EQ(actions->TargetOf(style), left);
}

TEST_F(ShellActionsTest, CopyCutAndPasteBetweenListsWithTheKeys) {
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  dirA.file("x.txt", "copied");
  dirA.file("y.txt", "moved");
  left->RefreshList();
  FocusOn(left->CurrentView());
  left->SetRowSelected(Row(left, "x.txt"), true);
  QTest::keyClick(left->CurrentView(), Qt::Key_C, Qt::ControlModifier);
  std::vector<std::string> paths;
  bool cut = true;
  ASSERT_TRUE(ReadFilesMimeData(QGuiApplication::clipboard()->mimeData(), paths, cut));
  EXPECT_EQ(paths, std::vector<std::string>{dirA / "x.txt"});
  EXPECT_FALSE(cut);

  FocusOn(right->CurrentView());
  EXPECT_TRUE(Enabled("ShellFilePaste1"));
  QTest::keyClick(right->CurrentView(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReadWholeFile(dirB / "x.txt"), "copied");
  EXPECT_TRUE(std::filesystem::exists(dirA / "x.txt"));

  FocusOn(left->CurrentView());
  left->SelectAllRows(false);
  left->SetRowSelected(Row(left, "y.txt"), true);
  QTest::keyClick(left->CurrentView(), Qt::Key_X, Qt::ControlModifier);
  FocusOn(right->CurrentView());
  QTest::keyClick(right->CurrentView(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReadWholeFile(dirB / "y.txt"), "moved");
  EXPECT_FALSE(std::filesystem::exists(dirA / "y.txt"));
  EXPECT_TRUE(ui.errorCalls.empty());
}

TEST_F(ShellActionsTest, DeleteKeyMovesTheSelectionToTheTrash) {
  TempDir data;
  EnvGuard dataHome("XDG_DATA_HOME", data.dir("data"));
  ScriptedFileOperationUI ui;
  ui.deleteAnswers = {true};
  ScopedFileOperationUI scoped(&ui);
  dirA.file("gone.txt", "bye");
  dirA.file("kept.txt", "stay");
  left->RefreshList();
  FocusOn(left->CurrentView());
  left->SetRowSelected(Row(left, "gone.txt"), true);
  QTest::keyClick(left->CurrentView(), Qt::Key_Delete);
  ASSERT_EQ(ui.deleteCalls.size(), 1u);
  EXPECT_FALSE(ui.deleteCalls[0].second);  // to the trash, not for good
  EXPECT_FALSE(std::filesystem::exists(dirA / "gone.txt"));
  EXPECT_TRUE(std::filesystem::exists(dirA / "kept.txt"));
  EXPECT_EQ(ReadWholeFile(HomeTrashDirectory() + "/gone.txt"), "bye");
  EXPECT_EQ(HomeTrashDirectory().rfind(data / "data", 0), 0u);
  EXPECT_EQ(Row(left, "gone.txt"), -1);

  // Nothing selected now: the key does nothing.
  actions->UpdateActions();
  EXPECT_FALSE(Enabled("ShellFileDelete1"));
  QTest::keyClick(left->CurrentView(), Qt::Key_Delete);
  EXPECT_EQ(ui.deleteCalls.size(), 1u);
}

TEST_F(ShellActionsTest, PropertiesShowTheDialog) {
  dirA.file("p.txt", "props");
  left->RefreshList();
  FocusOn(left->CurrentView());
  left->SetRowSelected(0, true);
  ASSERT_TRUE(actions->Execute(Act("ShellFileProperty1")));
  QPointer<PropertiesDialog> dialog = window->findChild<PropertiesDialog*>();
  ASSERT_TRUE(dialog);
  dialog->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
