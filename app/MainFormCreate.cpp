// The main window's controls, action lists, menus and event wiring.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/KeyTable.h"
#include "app/LocationOpener.h"
#include "app/MainForm.h"
#include "app/SearchCommand.h"
#include "app/TextView.h"
#include "app/commands/Commands.h"
#include "app/PaneSplitter.h"
#include "archive/ArchiveFile.h"
#include "image/SPIs.h"
#include "platform/ui/ContextMenu.h"
#include "platform/ui/OpenWithDialog.h"
#include "platform/fileops/FileOperation.h"
#include "platform/system/Exception.h"
#include "shell/actions/ShellActns.h"

namespace {
const char* const kLetterNames[52] = {"A",  "B",  "C",  "D",  "E",  "F",  "G",  "H",  "I",  "J",  "K",  "L",  "M",
                                      "N",  "O",  "P",  "Q",  "R",  "S",  "T",  "U",  "V",  "W",  "X",  "Y",  "Z",
                                      "AA", "BB", "CC", "DD", "EE", "FF", "GG", "HH", "II", "JJ", "KK", "LL", "MM",
                                      "NN", "OO", "PP", "QQ", "RR", "SS", "TT", "UU", "VV", "WW", "XX", "YY", "ZZ"};

// The picture every folder button shares: a small folder on the bars' grey.
QIcon FolderButtonPicture() {
  QIcon themed = QIcon::fromTheme("folder");
  QPixmap pixmap(16, 16);
  pixmap.fill(QColor(212, 208, 200));
  QPainter painter(&pixmap);
  if (!themed.isNull()) {
    painter.drawPixmap(0, 0, themed.pixmap(16, 16));
  } else {
    painter.setBrush(QColor(240, 200, 80));
    painter.setPen(QColor(150, 110, 20));
    painter.drawRect(1, 4, 13, 10);
    painter.drawRect(1, 2, 6, 2);
  }
  return QIcon(pixmap);
}
}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle("Tolvane");
  // The design font; fontconfig stands in a Japanese face when it is missing.
  QFont font("ＭＳ Ｐゴシック");
  font.setPixelSize(12);
  setFont(font);
  setGeometry(220, 224, 696, 467);
  Hooks.ExecPopup = [](QMenu* menu, const QPoint& pt) { return menu->exec(pt); };
  // Through the program's one message display, so messages of the creation
  // steps (before anyone could replace this hook) can be captured as well.
  Hooks.ShowMessage = [](const QString& text) { ShowExceptionMessage(text.toStdString()); };
  Hooks.OfferOpenWith = [this](const std::string& path, const QString& reason) {
    ChooseAndOpenWith(this, {path}, reason);
  };
  CreateControls();
  CreateMenus();
  CreateCopyPopup();
  CreateActions();
  WireEvents();
  Guarded([this] { CreateArchive(); });
  Guarded([this] { CreatePictureHost(); });
  Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  if (!Life.Destroyed) Guarded([this] { FormDestroy(); });
  qApp->removeEventFilter(this);
}

void TForm1::CreateControls() {
  CoolBar1 = new QWidget(this);
  CoolBar1->setObjectName("CoolBar1");
  auto* bands = new QVBoxLayout(CoolBar1);
  bands->setContentsMargins(0, 0, 0, 0);
  bands->setSpacing(0);
  for (QToolBar** bar : {&ToolBar1, &ToolBar2}) {
    *bar = new QToolBar(CoolBar1);
    (*bar)->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    (*bar)->setIconSize(QSize(16, 16));
    (*bar)->setMovable(false);
    (*bar)->setFloatable(false);
    bands->addWidget(*bar);
  }
  ToolBar1->setObjectName("ToolBar1");
  ToolBar2->setObjectName("ToolBar2");
  ImageList2 = FolderButtonPicture();
  setMenuWidget(CoolBar1);

  auto* panes = new TPaneSplitter(this);
  Panes = panes;
  Panes->setObjectName("Panes");
  Panes->setHandleWidth(5);
  Panes->setChildrenCollapsible(false);
  setCentralWidget(Panes);

  auto makeTree = [this](const char* name) {
    auto* tree = new TShellTreeView(Panes);
    tree->setObjectName(name);
    tree->setIndentation(19);
    tree->SetShellPopupMenu(nullptr);
    tree->hide();
    return tree;
  };
  auto makePane = [this](TPane& pane, const char* paneName, const char* tabsName, const char* listName,
                         const char* editName, const char* statusName) {
    pane.Widget = new QWidget(Panes);
    pane.Widget->setObjectName(paneName);
    auto* column = new QVBoxLayout(pane.Widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    pane.Tabs = new QTabBar(pane.Widget);
    pane.Tabs->setObjectName(tabsName);
    pane.Tabs->setFocusPolicy(Qt::NoFocus);
    pane.Tabs->setExpanding(false);
    pane.Tabs->setDocumentMode(true);
    pane.Tabs->addTab("defo");
    column->addWidget(pane.Tabs);
    pane.Edit = new QLineEdit("*.*", pane.Widget);
    pane.Edit->setObjectName(editName);
    pane.Edit->setFocusPolicy(Qt::ClickFocus);
    column->addWidget(pane.Edit);
    pane.List = new TShellListView(pane.Widget);
    pane.List->setObjectName(listName);
    column->addWidget(pane.List, 1);
    pane.Status = new QLabel(pane.Widget);
    pane.Status->setObjectName(statusName);
    pane.Status->setContentsMargins(4, 1, 4, 1);
    // A long line is cut, never widening the pane.
    pane.Status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    column->addWidget(pane.Status);
  };
  Left.Tree = makeTree("TV1");
  makePane(Left, "TC1Pane", "TC1", "LV1", "Edit1", "Status1");
  makePane(Right, "TC2Pane", "TC2", "LV2", "Edit2", "Status2");
  Right.Tree = makeTree("TV2");
  Panes->setStretchFactor(0, 0);
  Panes->setStretchFactor(1, 0);
  Panes->setStretchFactor(2, 1);
  Panes->setStretchFactor(3, 0);
  panes->SetPanes(TC1Pane, TC2Pane);

  // The previews start in the left pane, hidden, and move to whichever pane shows one.
  Image1 = new QLabel(TC1Pane);
  Image1->setObjectName("Image1");
  Image1->setAlignment(Qt::AlignCenter);
  // A large picture must not widen its pane; it is fitted to the pane instead.
  Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  Image1->hide();
  // Above the status line, which stays at the bottom of the pane.
  auto* leftColumn = static_cast<QBoxLayout*>(TC1Pane->layout());
  leftColumn->insertWidget(leftColumn->indexOf(Status1), Image1, 1);
  Memo1 = new TTextView(TC1Pane);
  Memo1->setObjectName("Memo1");
  QFont memoFont = Memo1->font();
  memoFont.setPixelSize(16);
  Memo1->setFont(memoFont);
  Memo1->hide();
  leftColumn->insertWidget(leftColumn->indexOf(Status1), Memo1, 1);

  KeyTimer = new QTimer(this);
  KeyTimer->setObjectName("KeyTimer");
  ChangeFileTimer = new QTimer(this);
  ChangeFileTimer->setObjectName("ChangeFileTimer");
  // Never early, as a coarse timer may be: the preview waits for the selection to settle.
  ChangeFileTimer->setTimerType(Qt::PreciseTimer);
}

QSplitterHandle* TForm1::Splitter1() const { return Panes->handle(Panes->indexOf(TC1Pane)); }
QSplitterHandle* TForm1::Splitter3() const { return Panes->handle(Panes->indexOf(TV2)); }

void TForm1::CreateMenus() {
  ShellPopupMenu1 = new TShellPopupMenu(this);
  ShellPopupMenu1->setObjectName("ShellPopupMenu1");
  ShellPopupMenu1->SetInsertPos(0);
  ShellPopupMenu1->AutoPopup = false;

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  History = new QMenu(this);
  History->setObjectName("History");
  // A title entry, then ten entries for the lines.
  QAction* title = History->addAction(QString());
  title->setEnabled(false);
  for (int i = 1; i <= 10; ++i) {
    QAction* entry = History->addAction(QString());
    entry->setVisible(false);
    connect(entry, &QAction::triggered, this, [this, i] { Guarded([&] { HistoryClickClick(i); }); });
  }
  connect(History, &QMenu::aboutToShow, this, [this] { Guarded([&] { HistoryPopup(); }); });
  CopyPopup = new QMenu(this);
  CopyPopup->setObjectName("CopyPopup");
  TabListPopup = new QMenu(this);
  TabListPopup->setObjectName("TabListPopup");
  connect(TabListPopup, &QMenu::aboutToShow, this, [this] { Guarded([&] { TabListPopupPopup(); }); });
  connect(PopupMenu2, &QMenu::aboutToShow, this, [this] { Guarded([&] { PopupMenu2Popup(PopupMenu2); }); });
}

void TForm1::CreateActions() {
  for (int i = 0; i < 52; ++i) {
    auto* action = new QAction(kLetterNames[i], this);
    action->setObjectName(kLetterNames[i]);
    action->setProperty("Category", i < 26 ? "keyClick" : "keyDblClick");
    ActionList1[i] = action;
  }
  for (const TLetterCommand& command : LetterCommands()) SetHandler(command.name, command.run);

  ActionList2 = new TShellActionList(this);
  ActionList2->setObjectName("ActionList2");
  LV1left = new QAction("LV1left", this);
  LV1left->setObjectName("LV1left");
  LV1left->setProperty("Category", "フォーカス");
  connect(LV1left, &QAction::triggered, this, [this] { Guarded([&] { LV1leftExecute(*this); }); });
  LV2right = new QAction("LV2right", this);
  LV2right->setObjectName("LV2right");
  LV2right->setProperty("Category", "フォーカス");
  connect(LV2right, &QAction::triggered, this, [this] { Guarded([&] { LV2rightExecute(*this); }); });
  ActionList2->AddStandardActions();
  for (const auto& [name, keys] : ActionShortcuts())
    if (TCustomShellAction* action = ActionList2->Find(name)) action->setShortcut(keys);

  // The lists' extra menu: view styles, sorting, and a new folder.
  QMenu* view = PopupMenu1->addMenu("表示");
  for (const char* name : {"LargeIcon1", "SmallIcon1", "ListIcon1", "ReportIcon1"})
    if (QAction* action = ActionList2->Find(name)) view->addAction(action);
  QMenu* sort = PopupMenu1->addMenu("整列");
  for (const char* name : {"ShellFileSortByName1", "ShellFileSortBySize1", "ShellFileSortByLastWrite1",
                           "ShellFileSortByAttr1", "ShellFileSortByType1"})
    if (QAction* action = ActionList2->Find(name)) sort->addAction(action);
  QAction* newFile = PopupMenu1->addAction("新規ファイル");
  AddFindFilesEntry(*this, PopupMenu1);
  QAction* k = ActionList1[10];
  connect(newFile, &QAction::triggered, k, &QAction::trigger);
  AddRenameCompareMenu();
  AddPackEntry(*this, PopupMenu1);
  // The row menu's undo, also where no row is: after the last shown file is
  // deleted, the empty space is all that is left to click.
  PopupMenu1->addSeparator();
  QAction* undo = PopupMenu1->addAction(UndoEntryText());
  undo->setObjectName("Undo1");
  undo->setEnabled(false);
  connect(PopupMenu1, &QMenu::aboutToShow, undo, [undo] {
    undo->setText(UndoEntryText());
    undo->setEnabled(FileOperationJournal::Instance().CanUndo());
  });
  connect(undo, &QAction::triggered, this, [this] { UndoLastOperationLater(this); });
}

void TForm1::SetHandler(const QString& name, void (*command)(TForm1& form)) {
  for (QAction* action : ActionList1) {
    if (action->objectName() != name) continue;
    connect(action, &QAction::triggered, this, [this, command] { Guarded([&] { command(*this); }); });
    return;
  }
}

void TForm1::WireEvents() {
  for (TShellListView* list : {LV1, LV2}) {
    list->PopupMenu = PopupMenu1;
    list->SetShellPopupMenu(ShellPopupMenu1);
    list->OnSlowFolder = [this, list](const std::string& path) {
      return TLocationOpener::Of(this, list)->OpenShown(path);
    };
    list->OnShListChange = [this](TShellListView* sender, TShellFileList*) {
      Guarded([&] { LV1ShListChange(sender); });
      UpdateStatusLine(sender, true);
    };
    list->OnShFilter = [this](TShellListView* sender, TShellFileItem* item, bool& accept) {
      LV1ShFilter(sender, item, accept);
    };
    list->OnShNameFilter = [this](TShellListView* sender) { return LV1ShNameFilter(sender); };
    list->OnShFilterPassesAll = [this](TShellListView* sender) { return LV1ShFilterPassesAll(sender); };
    list->OnShExecute = [this](TShellListView* sender, TShellFileItem* item, TShiftState, int, int, int,
                               bool& defaultAction) {
      Guarded([&] { LV1ShExecute(sender, item); });
      // Opened here, so that a file nothing opens is said in the window.
      defaultAction = false;
      // A search's hit opens its folder, the file focused.
      if (TSearchController::Of(this)->OpenHitFolder(sender, item)) return;
      bool archive = false;
      Guarded([&] { archive = OpenArchiveItem(*this, sender, item); });
      if (archive) return;
      const std::string path = item ? item->GetItemPath() : std::string();
      Guarded([&] { OpenItem(path); });
    };
    list->OnShSelChange = [this](TShellListView* sender, uint64_t) {
      LV1ShSelChange(sender);
      UpdateStatusLine(sender, false);
    };
    list->OnSelectItem = [this](TShellListView* sender, TShellFileItem* item, bool selected) {
      LV1SelectItem(sender, item, selected);
    };
  }
  // The application-wide filter below sees the keys, focus changes and mouse
  // presses of all these controls; a filter of their own as well would run
  // every key that the hook lets through twice.
  for (TShellTreeView* tree : {TV1, TV2}) tree->SetShellPopupMenu(ShellPopupMenu1);
  for (QTabBar* tabs : {TC1, TC2}) {
    connect(tabs, &QTabBar::tabBarClicked, this, [this, tabs](int index) {
      // Only a click that changes the tab counts as a change.
      if (index >= 0 && index != tabs->currentIndex())
        QTimer::singleShot(0, this, [this, tabs] { Guarded([&] { TC1Change(tabs); }); });
    });
  }
  connect(KeyTimer, &QTimer::timeout, this, [this] { Guarded([&] { KeyTimerTimer(); }); });
  connect(ChangeFileTimer, &QTimer::timeout, this, [this] { Guarded([&] { ChangeFileTimerTimer(); }); });
  // The shortcut hook sees every key before the focused control.
  qApp->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (Life.Destroyed) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      // Ctrl combinations are never taken here, so no shortcut competes with the hook.
      auto* key = static_cast<QKeyEvent*>(event);
      QWidget* focus = QApplication::focusWidget();
      // Once per key: where the focused widget receives it.
      if (watched != focus || !isAncestorOf(focus)) break;
      int vk = VirtualKeyOf(key->key());
      // Shift turns a digit into a symbol that depends on the layout; the key
      // itself is known by its scan code.
      if (vk == 0) vk = DigitKeyOfScanCode(key->nativeScanCode());
      bool handled = false;
      Guarded([&] { handled = FormShortCut(vk, key->modifiers()); });
      if (handled) return true;
      for (TPane* pane : {&Left, &Right}) {
        if (pane->ListHasFocus(focus)) Guarded([&] { LV1KeyDown(pane->List, vk, key->modifiers()); });
        if (focus == pane->Tree) Guarded([&] { TV1KeyDown(pane->Tree, vk, key->modifiers()); });
        if (focus == pane->Edit) Guarded([&] { Edit1KeyDown(pane->Edit, vk); });
      }
      break;
    }
    case QEvent::FocusOut:
      if (TPane* pane = PaneOf(watched); pane && watched == pane->Tree) {
        TShellTreeView* tree = pane->Tree;
        // A menu or a dialog of the tree's own keeps it open.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) Guarded([&] { TV1Exit(tree); });
      }
      break;
    case QEvent::MouseButtonPress:
      if (TPane* pane = PaneOf(watched); pane && watched == pane->Tabs) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QTabBar* tabs = pane->Tabs;
        if (mouse->button() == Qt::RightButton) {
          Guarded([&] { TC2MouseDown(tabs, mouse->button(), mouse->position().toPoint()); });
          return true;
        }
      }
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (Life.Shown) return;
  Life.Shown = true;
  Guarded([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!Life.Destroyed) Guarded([this] { FormDestroy(); });
  QMainWindow::closeEvent(event);
}

// --- Panes -----------------------------------------------------------------------------

TPane* TForm1::PaneOf(const QObject* part) {
  for (TPane* pane : {&Left, &Right})
    if (pane->Owns(part)) return pane;
  return nullptr;
}

TPane& TForm1::OtherPane(const TPane& pane) { return &pane == &Left ? Right : Left; }

TPane& TForm1::PaneAt(int side) { return side == TPane::kRight ? Right : Left; }

TPane* TForm1::CurrentPane() {
  QWidget* focus = QApplication::focusWidget();
  for (TPane* pane : {&Left, &Right})
    if (pane->ListHasFocus(focus)) return pane;
  return nullptr;
}

TShellListView* TForm1::CurrentList() {
  TPane* pane = CurrentPane();
  return pane ? pane->List : nullptr;
}

QPoint TForm1::MenuPoint(QMenu* menu) const {
  QPoint centre = mapToGlobal(QPoint(width() / 2, height() / 2));
  return QPoint(centre.x() - menu->sizeHint().width() / 2, centre.y());
}
