// The folder menu: a folder shown as a cascade of menus. Every level reads
// the folder itself, "↑" for its parent, its subfolders, its files; a level
// is filled when its menu is about to show, once per popup.
#include <QAction>
#include <QMenu>

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "platform/namespace/FolderEntries.h"
#include "platform/system/Exception.h"
#include "platform/namespace/NameCompare.h"
#include "platform/system/TrailingSlash.h"

namespace {

// An entry that stands for a folder keeps the folder (with its '/') here, as bytes.
const char* const kHintProperty = "Hint";
// A file entry keeps its exact name here; its caption is only for the eye.
const char* const kNameProperty = "Name";

QString Caption(const std::string& text) { return QString::fromUtf8(text).replace('&', "&&"); }

std::string EntryHint(const QAction* entry) { return entry->property(kHintProperty).toByteArray().toStdString(); }

// The caption of a folder: its name, or the whole path for "/".
std::string FolderCaption(const std::string& folder) {
  const std::string bare = WithoutTrailingSlash(folder);
  const std::string name = TForm1::LastPathComponent(bare);
  return name.empty() ? bare : name;
}

// The folder above root ("/a/b/" -> "/a/"); "/" is its own parent.
std::string ParentFolder(const std::string& root) {
  const std::string bare = WithoutTrailingSlash(root);
  const size_t slash = bare.rfind('/');
  if (slash == std::string::npos) return root;
  return bare.substr(0, slash + 1);
}

struct FolderContents {
  std::vector<std::string> folders;  // hidden ones left out
  std::vector<std::string> files;    // hidden ones included
};

// The folder's entries in name order; an unreadable folder has none.
FolderContents ReadFolder(const std::string& root) {
  FolderContents contents;
  for (FolderEntry& entry : ReadFolderEntries(root)) {
    if (!entry.folder)
      contents.files.push_back(std::move(entry.name));
    else if (entry.name.front() != '.')
      contents.folders.push_back(std::move(entry.name));
  }
  auto byName = [](const std::string& a, const std::string& b) { return CompareNames(a, b) < 0; };
  std::sort(contents.folders.begin(), contents.folders.end(), byName);
  std::sort(contents.files.begin(), contents.files.end(), byName);
  return contents;
}

// Frees every entry of the menu with its submenus.
void FreeEntries(QMenu* menu) {
  for (QAction* entry : menu->actions()) {
    if (QMenu* sub = entry->menu()) {
      delete sub;  // takes its own entry along
    } else {
      menu->removeAction(entry);
      if (entry->parent() == menu) delete entry;
    }
  }
}

// The entry that stands for a folder: clicking it shows the folder in the pane.
QAction* AddFolderEntry(TForm1* form, QMenu* menu, const std::string& folder, const std::string& caption) {
  auto* entry = new QAction(Caption(caption), menu);
  entry->setProperty(kHintProperty, QByteArray::fromStdString(TForm1::WithTrailingSlash(folder)));
  QObject::connect(entry, &QAction::triggered, form,
                   [form, entry] { Guarded([&] { form->FolderMenuNavigate(entry); }); });
  menu->addAction(entry);
  return entry;
}

// A submenu for a folder, holding only the folder's own entry until it opens.
void AddFolderSubmenu(TForm1* form, QMenu* menu, const QString& title, const std::string& folder,
                      const std::string& caption) {
  auto* sub = new QMenu(title, menu);
  AddFolderEntry(form, sub, folder, caption);
  QObject::connect(sub, &QMenu::aboutToShow, form, [form, sub] { Guarded([&] { form->PopupMenu2Popup(sub); }); });
  menu->addMenu(sub);
}

// The folder of a level: the one its first entry stands for.
std::string LevelFolder(QAction* entry) {
  auto* level = qobject_cast<QMenu*>(entry->parent());
  QAction* first = level && !level->actions().isEmpty() ? level->actions().front() : entry;
  return TForm1::WithTrailingSlash(EntryHint(first));
}

}  // namespace

void TForm1::PopupMenu2Popup(QMenu* menu) {
  if (!menu) return;
  std::string root;
  if (menu == PopupMenu2) {
    // No folder given: the menu keeps what it holds.
    if (PopupMenu2Root.isEmpty()) return;
    const std::string given = PopupMenu2Root == QString::fromUtf8(Menus.PopupMenu2RootPath)
                                  ? Menus.PopupMenu2RootPath
                                  : PopupMenu2Root.toStdString();
    FreeEntries(PopupMenu2);
    // Only a whole path names a folder; anything else leaves the menu empty.
    if (given.front() != '/') return;
    root = WithTrailingSlash(given);
    AddFolderEntry(this, PopupMenu2, root, FolderCaption(root));
  } else {
    // A submenu is filled the first time it opens in a popup.
    disconnect(menu, &QMenu::aboutToShow, this, nullptr);
    const QList<QAction*> entries = menu->actions();
    if (entries.isEmpty()) return;
    root = WithTrailingSlash(EntryHint(entries.front()));
  }

  const std::string parent = ParentFolder(root);
  AddFolderSubmenu(this, menu, QStringLiteral("↑"), parent, FolderCaption(parent));
  const FolderContents contents = ReadFolder(root);
  for (const std::string& name : contents.folders) AddFolderSubmenu(this, menu, Caption(name), root + name + '/', name);
  for (const std::string& name : contents.files) {
    auto* entry = new QAction(Caption(name), menu);
    entry->setProperty(kNameProperty, QByteArray::fromStdString(name));
    connect(entry, &QAction::triggered, this, [this, entry] { Guarded([&] { FolderMenuOpenFile(entry); }); });
    menu->addAction(entry);
  }
}

void TForm1::FolderMenuNavigate(QAction* entry) {
  if (!entry) return;
  const std::string path = WithoutTrailingSlash(LevelFolder(entry));
  if (path.empty() || path.front() != '/') return;
  if (PopupMenu2Tag == TPane::kLeft || PopupMenu2Tag == TPane::kRight) PaneAt(PopupMenu2Tag).List->SetPathName(path);
}

void TForm1::FolderMenuOpenFile(QAction* entry) {
  if (!entry) return;
  const std::string name = entry->property(kNameProperty).toByteArray().toStdString();
  if (name.empty()) return;
  const std::string path = LevelFolder(entry) + name;
  if (Hooks.OpenChosenFile)
    Hooks.OpenChosenFile(path);
  else
    ShellOpen(path);
}
