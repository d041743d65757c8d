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

#include "app/LocationOpener.h"
#include "app/MainForm.h"
#include "app/SearchCommand.h"
#include "app/TextView.h"
#include "platform/system/Exception.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ShellApi.h"
#include "platform/network/Location.h"
#include "shell/actions/NameMasks.h"
#include "shell/actions/Wildcard.h"

namespace {

constexpr int kVkReturn = 13;
constexpr int kHistoryLimit = 10;

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
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->List) return;
  // A list whose folder was deleted shows no folder at all: its tab, filter
  // and line keep naming the folder that went (a later start goes home).
  if (!sender->FolderIDList()) return;
  if (sender == (Life.StartFocusList ? Life.StartFocusList : LV1) && !Life.StartFocusFile.empty() && !sender->Reading())
    QTimer::singleShot(0, this, [this] { Guarded([this] { FocusStartFile(); }); });
  QTabBar* tabs = pane->Tabs;
  QLineEdit* edit = pane->Edit;
  // While a preview holds the pane, its tabs are the preview's: the folder's
  // tab is the one kept aside for the preview's end.
  const bool preview = PreviewIn(*this, pane->Widget);
  const int tab = preview ? pane->SavedTab : tabs->currentIndex();
  const QString mask = MaskPartOf(edit->text());
  // A folder of a network location is shown and remembered by its URI.
  const std::string path = network::ShownLocation(sender->GetPathName());

  if (!path.empty()) {
    edit->setText(QString::fromUtf8(WithTrailingSlash(path)) + mask);
    const std::string name = LastPathComponent(path);
    if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(name.empty() ? path : name));
    if (Life.ListsLoaded) {
      if (tab >= 0 && tab < pane->Lines.Count()) pane->Lines[tab] = path;
      AddToHistory(pane->History, path);
    }
    return;
  }

  // Search results: the tab remembers the search, which runs again when shown.
  if (const std::string line = TSearchController::TabLine(sender); !line.empty()) {
    const QString caption = QString::fromStdString(TSearchController::TabCaption(line));
    if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(caption));
    edit->setText(caption + '/' + mask);
    if (Life.ListsLoaded && tab >= 0 && tab < pane->Lines.Count()) pane->Lines[tab] = line;
    return;
  }

  // A shell folder (the computer, the network, the trash): the tab remembers
  // the tree node; such folders stay out of the history.
  int index = -1;
  QString text;
  DescribeShellFolder(sender, pane->Tree, index, text);
  if (!preview && tab >= 0 && tab < tabs->count()) tabs->setTabText(tab, Caption(text));
  edit->setText(text + '/' + mask);
  if (Life.ListsLoaded && tab >= 0 && tab < pane->Lines.Count()) pane->Lines[tab] = std::to_string(index);
}

void TForm1::AddToHistory(TLineList& list, const std::string& path) {
  if (path.empty()) return;
  // Paths differ by case on this system: only the very same path is a duplicate.
  for (int at = list.IndexOf(path); at >= 0; at = list.IndexOf(path)) list.Delete(at);
  list.Insert(0, path);
  while (list.Count() > kHistoryLimit) list.Delete(list.Count() - 1);
}

void TForm1::LV1ShExecute(TShellListView* sender, TShellFileItem* item) {
  if (!item || !Life.ListsLoaded) return;
  // The list goes on to open the file itself.
  if (TPane* pane = PaneOf(sender); pane && sender == pane->List) AddToHistory(pane->FileRuns, item->GetItemPath());
}

// --- Tabs -------------------------------------------------------------------------------

void TForm1::TC1Change(QTabBar* sender) {
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->Tabs) return;
  // Preview tabs name files, not folders; the preview switches those itself.
  if (PreviewIn(*this, pane->Widget)) return PreviewTabChange(sender);
  ShowTabFolder(pane->List);
}

void TForm1::TC2MouseDown(QTabBar* sender, Qt::MouseButton button, const QPoint& pos) {
  if (button != Qt::RightButton) return;
  TPane* pane = PaneOf(sender);
  // The last tab stays: a pane always shows something.
  if (!pane || sender != pane->Tabs || sender->count() <= 1) return;
  const int i = sender->tabAt(pos);
  if (i < 0) return;
  const bool current = i == sender->currentIndex();
  sender->removeTab(i);
  if (current) sender->setCurrentIndex(std::max(i - 1, 0));
  if (Life.ListsLoaded) {
    TLineList* lines = &pane->Lines;
    if (Image1->parentWidget() == pane->Widget && !Image1->isHidden())
      lines = &ImagePath;
    else if (Memo1->parentWidget() == pane->Widget && !Memo1->isHidden())
      lines = &TextPath;
    if (i < lines->Count()) lines->Delete(i);
  }
  TC1Change(sender);
}

void TForm1::TabListPopupPopup() {
  TPane& pane = PaneAt(Menus.TabListPopupTag);
  const int count = pane.Tabs->count();
  QList<QAction*> entries = TabListPopup->actions();
  for (qsizetype k = entries.size() - 1; k >= count; --k) delete entries[k];
  for (qsizetype k = entries.size(); k < count; ++k) {
    QAction* entry = TabListPopup->addAction(QString());
    const int position = static_cast<int>(k);
    connect(entry, &QAction::triggered, this, [this, position] { Guarded([&] { TabMenuClick(position); }); });
  }
  entries = TabListPopup->actions();
  const TLineList& lines = pane.Lines;
  for (int k = 0; k < count && k < entries.size(); ++k) {
    const std::string line = Life.ListsLoaded && k < lines.Count() ? lines[k] : std::string();
    entries[k]->setText(Caption(TabLineText(pane.Tree, line)));
  }
}

void TForm1::TabMenuClick(int entry) {
  TPane& pane = PaneAt(Menus.TabListPopupTag);
  if (entry < 0 || entry >= pane.Tabs->count()) return;
  pane.Tabs->setCurrentIndex(entry);
  ShowTabFolder(pane.List);
}

// --- The History menu ---------------------------------------------------------------------

void TForm1::HistoryPopup() {
  if (HistoryTag < 0 || HistoryTag > 7) return;
  std::vector<std::string> lines;
  // The captions of the network locations, which show their names.
  std::vector<std::pair<std::string, QString>> named;
  switch (HistoryTag) {
    case 0:
    case 1:
    case 2:
    case 3:
      if (Life.ListsLoaded) {
        TPane& pane = PaneAt(HistoryTag % 2);
        lines = (HistoryTag < 2 ? pane.History : pane.FileRuns).Lines;
      }
      break;
    case 4:
    case 5:
      for (QToolButton* button : Buttons(ToolBar2)) lines.push_back(HintOf(button));
      break;
    default:
      ListLogicalDrives(&lines);
      // Then the network locations the desktop knows: its bookmarks and mounts.
      for (const network::KnownLocation& location : network::KnownLocations()) {
        lines.push_back(location.uri);
        QString caption = QStringLiteral("ネットワーク - ") + QString::fromStdString(location.name);
        if (location.name != location.uri) caption += QStringLiteral(" (%1)").arg(QString::fromStdString(location.uri));
        named.emplace_back(location.uri, caption);
      }
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
    auto name = std::find_if(named.begin(), named.end(), [&](const auto& n) { return n.first == line; });
    entries[k]->setText(name != named.end() ? Caption(name->second) : Caption(line));
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
      if (Hooks.OpenChosenFile)
        Hooks.OpenChosenFile(path);
      else
        ShellOpen(path);
      break;
    case 0:
    case 1:
    case 4:
    case 5:
    case 6:
    case 7:
      TLocationOpener::Of(this, PaneAt(HistoryTag % 2).List)->Open(path);
      break;
    default:
      break;
  }
}

// --- The filter ---------------------------------------------------------------------------

namespace {

// The pane's mask, parsed again only when its edit changed.
const TPane::TMaskFilter& CurrentMask(TPane& pane) {
  TPane::TMaskFilter& filter = pane.Filter;
  if (const QString text = pane.Edit->text(); text != filter.editText) {
    filter.editText = text;
    const QString mask = TForm1::MaskPartOf(text);
    filter.all = mask.isEmpty() || mask == QLatin1String("*.*");
    filter.masks = filter.all ? std::vector<std::string>{} : TForm1::SplitMasks(mask.toStdString());
  }
  return filter;
}

}  // namespace

std::function<bool(std::string_view)> TForm1::LV1ShNameFilter(TShellListView* sender) {
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->List) return nullptr;
  const TPane::TMaskFilter& filter = CurrentMask(*pane);
  if (filter.all) return [](std::string_view) { return true; };
  // The masks are copied: the parts run while the window could change them.
  return [masks = filter.masks](std::string_view entry) {
    thread_local std::string name;
    name.assign(entry);
    return std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MatchWildcard(name, m); });
  };
}

bool TForm1::LV1ShFilterPassesAll(TShellListView* sender) {
  TPane* pane = PaneOf(sender);
  return !pane || sender != pane->List || CurrentMask(*pane).all;
}

void TForm1::LV1ShFilter(TShellListView* sender, TShellFileItem* item, bool& accept) {
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->List || !item) return;
  const TPane::TMaskFilter& filter = CurrentMask(*pane);
  if (filter.all) return;
  // A million rows are filtered by the name their IDs hold, not by a path each.
  // One buffer for all: filters run on the window's thread only.
  static std::string name;
  const std::string_view entry = item->EntryName();
  if (entry.empty())
    name = LastPathComponent(item->GetItemPath());
  else
    name.assign(entry);
  accept = std::any_of(filter.masks.begin(), filter.masks.end(),
                       [&](const std::string& m) { return MatchWildcard(name, m); });
}

void TForm1::Edit1KeyDown(QLineEdit* sender, int virtualKey) {
  if (virtualKey != kVkReturn) return;
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->Edit) return;
  TShellListView* list = pane->List;
  if (network::IsLocationUri(sender->text().toStdString())) {
    OpenTypedLocation(*this, *pane);
    return;
  }
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
