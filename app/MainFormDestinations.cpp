// The destination menu of C and M: the tabs of both panes, the folder bar's
// folders and both folder histories. Each submenu is filled as it opens, so
// tabs and history lines added since the last opening are there too.
#include <QAction>
#include <QByteArray>
#include <QMenu>
#include <QToolButton>
#include <QVariant>

#include "app/MainForm.h"
#include "platform/search/SearchQuery.h"
#include "platform/system/Exception.h"

namespace {

// The folder an entry copies or moves to, as bytes: a caption cannot carry a
// name that is not UTF-8.
const char* const kDestinationProperty = "destination";

QString MenuCaption(const std::string& folder) {
  // '&' would mark an accelerator instead of showing.
  return QString::fromUtf8(folder.data(), static_cast<qsizetype>(folder.size())).replace('&', "&&");
}

// One entry per folder, in order, all of them (a folder bar may hold more than ten).
void FillDestinations(QMenu* submenu, const std::vector<std::string>& folders) {
  submenu->clear();
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;  // a tab whose folder is still being opened
    QAction* entry = submenu->addAction(MenuCaption(folder));
    entry->setProperty(kDestinationProperty, QByteArray::fromStdString(folder));
  }
}

}  // namespace

void TForm1::CreateCopyPopup() {
  auto submenu = [this](const char* name, const char* caption) {
    QMenu* menu = CopyPopup->addMenu(QString::fromUtf8(caption));
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    return menu;
  };
  Left.TabDestinations = submenu("Tab1List", "左タブ");
  Right.TabDestinations = submenu("Tab2List", "右タブ");
  N3 = submenu("N3", "登録フォルダ");
  Left.HistoryDestinations = submenu("N4", "左履歴");
  Right.HistoryDestinations = submenu("N5", "右履歴");
  for (QMenu* tabs : {Left.TabDestinations, Right.TabDestinations})
    connect(tabs, &QMenu::aboutToShow, this, [this, tabs] { Guarded([&] { Tab1ListClick(tabs); }); });
  for (QMenu* folders : {N3, Left.HistoryDestinations, Right.HistoryDestinations})
    connect(folders, &QMenu::aboutToShow, this, [this, folders] { Guarded([&] { N3Click(folders); }); });
}

void TForm1::Tab1ListClick(QMenu* submenu) {
  if (!submenu) return;
  std::vector<std::string> folders;
  for (const TPane* pane : {&Left, &Right}) {
    if (!Life.ListsLoaded || submenu != pane->TabDestinations) continue;
    // A tab of a shell folder (the computer, the trash) has no folder to copy into.
    for (const std::string& line : pane->Lines.Lines)
      if (!IsTreeIndex(line) && !IsSearchParseName(line)) folders.push_back(line);
  }
  FillDestinations(submenu, folders);
}

void TForm1::N3Click(QMenu* submenu) {
  if (!submenu) return;
  std::vector<std::string> folders;
  if (submenu == N3) {
    for (QToolButton* button : Buttons(ToolBar2)) folders.push_back(HintOf(button));
  } else if (Life.ListsLoaded) {
    for (const TPane* pane : {&Left, &Right})
      if (submenu == pane->HistoryDestinations) folders = pane->History.Lines;
  }
  FillDestinations(submenu, folders);
}

void TForm1::CopyListClick(QAction* entry) {
  if (!entry) return;
  QVariant destination = entry->property(kDestinationProperty);
  if (!destination.isValid()) return;
  // Taken before the operation: its events may refill the submenus.
  const std::string folder = destination.toByteArray().toStdString();
  // Copy from the left pane, from the right; move from the left, from the right.
  if (Menus.CopyPopupTag < 0 || Menus.CopyPopupTag > 3) return;
  TransferSelection(PaneAt(Menus.CopyPopupTag % 2).List, folder, Menus.CopyPopupTag >= 2);
}
