// Pane tabs that follow the folder shown, the folder and file histories, the
// history, jump, drive and tab-list menus, and the pane filter.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QToolButton>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/SearchCommand.h"
#include "app/TextView.h"
#include "platform/system/Exception.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ShellApi.h"
#include "shell/actions/NameMasks.h"
#include "shell/actions/Wildcard.h"

namespace {

constexpr int kVkReturn = 13;
constexpr int kHistoryLimit = 10;

// History menu tags: left pane even, right pane odd.
constexpr int kFolderHistoryTag = 0;
constexpr int kFileHistoryTag = 2;
constexpr int kJumpTag = 4;
constexpr int kDriveTag = 6;

const char* const kHistoryTitles[8] = {"左のフォルダ履歴", "右のフォルダ履歴", "左のファイル履歴", "右のファイル履歴",
                                       "フォルダジャンプ", "フォルダジャンプ", "ドライブリスト",   "ドライブリスト"};

// Menus and tabs show '&' as itself, not as a mnemonic.
QString Caption(const QString& text) {
  QString escaped = text;
  return escaped.replace('&', "&&");
}
QString Caption(const std::string& text) { return Caption(QString::fromUtf8(text)); }

// A picture or text preview holds the pane: its tabs are then the preview's.
bool PreviewIn(const TForm1& form, const QWidget* pane) {
  const QWidget* previews[] = {form.Image1, form.Memo1};
  for (const QWidget* preview : previews)
    if (preview->parentWidget() == pane && !preview->isHidden()) return true;
  return false;
}

TShellListView* ListOfTabs(const TForm1& form, const QTabBar* tabs) {
  if (tabs == form.TC1) return form.LV1;
  if (tabs == form.TC2) return form.LV2;
  return nullptr;
}

TShellTreeNode* RootChild(TShellTreeView* tree, int index) {
  TShellTreeNode* root = tree->RootNode();
  if (!root || index < 0 || index >= root->childCount()) return nullptr;
  return TShellTreeView::NodeOf(root->child(index));
}

bool NodeShows(TShellTreeNode* node, PCItemIDList folder) {
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  return item && folder && IDListsEqual(item->GetAbsoluteIDList(), folder);
}

// A folder without a file-system path: its position among the tree root's
// children (-1 when it is none of them) and the text to show for it.
void DescribeShellFolder(TShellListView* list, TShellTreeView* tree, int& index, QString& text) {
  PCItemIDList folder = list->FolderIDList();
  index = -1;
  TShellTreeNode* root = tree->RootNode();
  for (int i = 0; root && i < root->childCount(); ++i) {
    TShellTreeNode* node = TShellTreeView::NodeOf(root->child(i));
    if (NodeShows(node, folder)) {
      index = i;
      text = node->text(0);
      return;
    }
  }
  // Deeper in the tree, or reached without it: the tree's node only when it
  // shows this very folder, else the namespace's own name for it.
  if (TShellTreeNode* selected = tree->SelectedNode(); NodeShows(selected, folder)) {
    text = selected->text(0);
    return;
  }
  SHFILEINFO info;
  if (folder && SHGetFileInfo(folder, SHGFI_PIDL | SHGFI_DISPLAYNAME, info))
    text = QString::fromUtf8(info.szDisplayName);
}

// The text a tab line stands for: its path, or its tree node's name.
QString TabLineText(TShellTreeView* tree, const std::string& line) {
  if (TForm1::IsTreeIndex(line)) {
    if (TShellTreeNode* node = RootChild(tree, std::atoi(line.c_str()))) return node->text(0);
  }
  return QString::fromUtf8(line);
}

// The tag's menu is opened from the current pane; nothing without one.
void PopHistory(TForm1& form, int leftTag) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  form.HistoryTag = leftTag + (list == form.LV1 ? 0 : 1);
  form.ExecPopup(form.History, form.MenuPoint(form.History));
}

}  // namespace

// --- Path and mask text ------------------------------------------------------------------

std::string TForm1::LastPathComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TForm1::WithTrailingSlash(const std::string& path) {
  return !path.empty() && path.back() == '/' ? path : path + '/';
}

QString TForm1::FolderPartOf(const QString& editText) {
  qsizetype slash = editText.lastIndexOf('/');
  return slash < 0 ? QString() : editText.left(slash + 1);
}

QString TForm1::MaskPartOf(const QString& editText) {
  qsizetype slash = editText.lastIndexOf('/');
  return slash < 0 ? editText : editText.mid(slash + 1);
}

std::vector<std::string> TForm1::SplitMasks(const std::string& mask) { return SplitMaskList(mask); }

// --- Listing changes and histories ----------------------------------------------------

void TForm1::LV1ShListChange(TShellListView* sender) {
  if (sender != LV1 && sender != LV2) return;
  // A list whose folder was deleted shows no folder at all: its tab, filter
  // and line keep naming the folder that went (a later start goes home).
  if (!sender->FolderIDList()) return;
  if (sender == (startFocusList_ ? startFocusList_ : LV1) && !startFocusFile_.empty() && !sender->Reading())
    QTimer::singleShot(0, this, [this] { Guarded([this] { FocusStartFile(); }); });
  QTabBar* tabs = TabsOf(sender);
  QLineEdit* edit = EditOf(sender);
  // While a preview holds the pane, its tabs are the preview's: the folder's
  // tab is the one kept aside for the preview's end.
  const bool preview = PreviewIn(*this, PaneOf(sender));
  const int tab = preview ? (sender == LV1 ? TC1Tag : TC2Tag) : tabs->currentIndex();
  const QString mask = MaskPartOf(edit->text());
  const std::string path = sender->GetPathName();

  if (!path.empty()) {
    edit->setText(QString::fromUtf8(WithTrailingSlash(path)) + mask);
    const std::string name = LastPathComponent(path);
    if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(name.empty() ? path : name));
    if (ListsLoaded) {
      TLineList& lines = LinesOf(sender);
      if (tab >= 0 && tab < lines.Count()) lines[tab] = path;
      AddToHistory(sender == LV1 ? HistoryPath1 : HistoryPath2, path);
    }
    return;
  }

  // Search results: the tab remembers the search, which runs again when shown.
  if (const std::string line = TSearchController::TabLine(sender); !line.empty()) {
    const QString caption = QString::fromStdString(TSearchController::TabCaption(line));
    if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(caption));
    edit->setText(caption + '/' + mask);
    if (ListsLoaded && tab >= 0 && tab < LinesOf(sender).Count()) LinesOf(sender)[tab] = line;
    return;
  }

  // A shell folder (the computer, the network, the trash): the tab remembers
  // the tree node; such folders stay out of the history.
  int index = -1;
  QString text;
  DescribeShellFolder(sender, TreeOf(sender), index, text);
  if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(text));
  edit->setText(text + '/' + mask);
  if (ListsLoaded) {
    TLineList& lines = LinesOf(sender);
    if (tab >= 0 && tab < lines.Count()) lines[tab] = std::to_string(index);
  }
}

void TForm1::AddToHistory(TLineList& list, const std::string& path) {
  if (path.empty()) return;
  // Paths differ by case on this system: only the very same path is a duplicate.
  for (int at = list.IndexOf(path); at >= 0; at = list.IndexOf(path)) list.Delete(at);
  list.Insert(0, path);
  while (list.Count() > kHistoryLimit) list.Delete(list.Count() - 1);
}

void TForm1::LV1ShExecute(TShellListView* sender, TShellFileItem* item) {
  if (!item || !ListsLoaded) return;
  // The list goes on to open the file itself.
  if (sender == LV1) AddToHistory(FileRunPath1, item->GetItemPath());
  if (sender == LV2) AddToHistory(FileRunPath2, item->GetItemPath());
}

// --- Tabs -------------------------------------------------------------------------------

void TForm1::TC1Change(QTabBar* sender) {
  TShellListView* list = ListOfTabs(*this, sender);
  if (!list) return;
  // Preview tabs name files, not folders; the preview switches those itself.
  if (PreviewIn(*this, PaneOf(list))) return PreviewTabChange(sender);
  ShowTabFolder(list);
}

void TForm1::TC2MouseDown(QTabBar* sender, Qt::MouseButton button, const QPoint& pos) {
  if (button != Qt::RightButton) return;
  TShellListView* list = ListOfTabs(*this, sender);
  // The last tab stays: a pane always shows something.
  if (!list || sender->count() <= 1) return;
  const int i = sender->tabAt(pos);
  if (i < 0) return;
  const bool current = i == sender->currentIndex();
  sender->removeTab(i);
  if (current) sender->setCurrentIndex(std::max(i - 1, 0));
  if (ListsLoaded) {
    QWidget* pane = PaneOf(list);
    TLineList* lines = &LinesOf(list);
    if (Image1->parentWidget() == pane && !Image1->isHidden())
      lines = &ImagePath;
    else if (Memo1->parentWidget() == pane && !Memo1->isHidden())
      lines = &TextPath;
    if (i < lines->Count()) lines->Delete(i);
  }
  TC1Change(sender);
}

void TForm1::TTExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  QTabBar* tabs = TabsOf(list);
  const int i = tabs->currentIndex();
  if (tabs->count() <= 1 || i < 0) return;
  TLineList& lines = LinesOf(list);
  if (ListsLoaded && i < lines.Count()) lines.Delete(i);
  tabs->removeTab(i);
  tabs->setCurrentIndex(std::max(i - 1, 0));
  ShowTabFolder(list);
}

void TForm1::TExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  TabListPopupTag = list == LV1 ? 0 : 1;
  ExecPopup(TabListPopup, MenuPoint(TabListPopup));
}

void TForm1::TabListPopupPopup() {
  TShellListView* list = TabListPopupTag == 1 ? LV2 : LV1;
  const int count = TabsOf(list)->count();
  QList<QAction*> entries = TabListPopup->actions();
  for (qsizetype k = entries.size() - 1; k >= count; --k) delete entries[k];
  for (qsizetype k = entries.size(); k < count; ++k) {
    QAction* entry = TabListPopup->addAction(QString());
    const int position = static_cast<int>(k);
    connect(entry, &QAction::triggered, this, [this, position] { Guarded([&] { TabMenuClick(position); }); });
  }
  entries = TabListPopup->actions();
  const TLineList& lines = LinesOf(list);
  for (int k = 0; k < count && k < entries.size(); ++k) {
    const std::string line = ListsLoaded && k < lines.Count() ? lines[k] : std::string();
    entries[k]->setText(Caption(TabLineText(TreeOf(list), line)));
  }
}

void TForm1::TabMenuClick(int entry) {
  TShellListView* list = TabListPopupTag == 1 ? LV2 : LV1;
  QTabBar* tabs = TabsOf(list);
  if (entry < 0 || entry >= tabs->count()) return;
  tabs->setCurrentIndex(entry);
  ShowTabFolder(list);
}

// --- The History menu ---------------------------------------------------------------------

void TForm1::HExecute() { PopHistory(*this, kFolderHistoryTag); }
void TForm1::HHExecute() { PopHistory(*this, kFileHistoryTag); }
void TForm1::JExecute() { PopHistory(*this, kJumpTag); }
void TForm1::NExecute() { PopHistory(*this, kDriveTag); }

void TForm1::HistoryPopup() {
  if (HistoryTag < 0 || HistoryTag > 7) return;
  std::vector<std::string> lines;
  switch (HistoryTag) {
    case 0:
    case 1:
    case 2:
    case 3:
      if (ListsLoaded) {
        const TLineList* lists[] = {&HistoryPath1, &HistoryPath2, &FileRunPath1, &FileRunPath2};
        lines = lists[HistoryTag]->Lines;
      }
      break;
    case 4:
    case 5:
      for (QToolButton* button : Buttons(ToolBar2)) lines.push_back(HintOf(button));
      break;
    default:
      ListLogicalDrives(&lines);
      break;
  }
  QList<QAction*> entries = History->actions();
  if (entries.isEmpty()) return;
  entries[0]->setText(QString::fromUtf8(kHistoryTitles[HistoryTag]));
  // Ten entries come with the menu; longer lists get more, so every line shows.
  for (qsizetype k = entries.size(); k <= static_cast<qsizetype>(lines.size()); ++k) {
    QAction* entry = History->addAction(QString());
    const int position = static_cast<int>(k);
    connect(entry, &QAction::triggered, this, [this, position] { Guarded([&] { HistoryClickClick(position); }); });
  }
  entries = History->actions();
  for (qsizetype k = 1; k < entries.size(); ++k) {
    const bool used = k - 1 < static_cast<qsizetype>(lines.size());
    const std::string line = used ? lines[k - 1] : std::string();
    // The caption is for the eye; the path itself keeps its bytes.
    entries[k]->setText(Caption(line));
    entries[k]->setData(used ? QVariant(QByteArray::fromStdString(line)) : QVariant());
    entries[k]->setVisible(used);
  }
}

void TForm1::HistoryClickClick(int entry) {
  const QList<QAction*> entries = History->actions();
  if (entry < 1 || entry >= entries.size()) return;
  const std::string path = entries[entry]->data().toByteArray().toStdString();
  if (path.empty()) return;
  switch (HistoryTag) {
    case 2:
    case 3:
      if (OpenChosenFile)
        OpenChosenFile(path);
      else
        ShellOpen(path);
      break;
    case 0:
    case 4:
    case 6:
      LV1->SetPathName(path);
      break;
    case 1:
    case 5:
    case 7:
      LV2->SetPathName(path);
      break;
    default:
      break;
  }
}

// --- The filter ---------------------------------------------------------------------------

void TForm1::LV1ShFilter(TShellListView* sender, TShellFileItem* item, bool& accept) {
  QLineEdit* edit = sender == LV1 ? Edit1 : sender == LV2 ? Edit2 : nullptr;
  if (!edit || !item) return;
  TMaskFilter& filter = maskFilters_[sender == LV1 ? 0 : 1];
  if (const QString text = edit->text(); text != filter.editText) {
    filter.editText = text;
    const QString mask = MaskPartOf(text);
    filter.all = mask.isEmpty() || mask == QLatin1String("*.*");
    filter.masks = filter.all ? std::vector<std::string>{} : SplitMasks(mask.toStdString());
  }
  if (filter.all) return;
  const std::string name = LastPathComponent(item->GetItemPath());
  accept = std::any_of(filter.masks.begin(), filter.masks.end(),
                       [&](const std::string& m) { return MatchWildcard(name, m); });
}

void TForm1::Edit1KeyDown(QLineEdit* sender, int virtualKey) {
  if (virtualKey != kVkReturn) return;
  TShellListView* list = sender == Edit1 ? LV1 : sender == Edit2 ? LV2 : nullptr;
  if (!list) return;
  QString folder = FolderPartOf(sender->text());
  if (folder.size() > 1) folder.chop(1);  // "/" keeps its slash
  // The edit shows names as text; the folder the list shows keeps its exact bytes.
  const std::string current = list->GetPathName();
  const std::string path = folder == QString::fromUtf8(current) ? current : folder.toStdString();
  // Only a whole path names a folder; anything else just applies the mask here.
  if (!path.empty() && path.front() == '/') list->SetPathName(path);
  list->RefreshList();
  list->setFocus();
}

void TForm1::WWExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  QLineEdit* edit = EditOf(list);
  edit->setText(FolderPartOf(edit->text()) + "*.*");
  list->RefreshList();
}
