#include "platform/ui/ContextMenu.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include "platform/system/Exception.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/FileLinks.h"
#include "platform/ui/FileOperationDialogs.h"
#include "platform/desktop/FilePayload.h"
#include "platform/ui/OpenWithDialog.h"
#include "platform/namespace/PathText.h"
#include "platform/ui/PropertiesDialog.h"
#include "platform/namespace/ShellApi.h"
#include "platform/namespace/ShellFolderBase.h"

const char* const kCommandIdProperty = "commandId";

int CommandIdOf(const QAction* action) { return action ? action->property(kCommandIdProperty).toInt() : 0; }

void SetCommandIdOf(QAction* action, int id) {
  if (action) action->setProperty(kCommandIdProperty, id);
}

namespace {

struct Verb {
  int offset;
  const char* text;
  const char* help;
};

// In menu order; a group ends where the next begins (a separator between).
const Verb kVerbGroups[][3] = {
    {{CMDOFF_OPEN, "開く(&O)", "選択した項目を開きます。"},
     {CMDOFF_OPENWITH, "プログラムから開く(&H)...", "選択した項目を開くプログラムを選びます。"},
     {-1, nullptr, nullptr}},
    {{CMDOFF_CUT, "切り取り(&T)", "選択した項目をクリップボードへ切り取ります。"},
     {CMDOFF_COPY, "コピー(&C)", "選択した項目をクリップボードへコピーします。"},
     {CMDOFF_PASTE, "貼り付け(&P)", "クリップボードの項目をこのフォルダーへ貼り付けます。"}},
    {{CMDOFF_CREATELINK, "ショートカットの作成(&S)", "選択した項目へのリンクを同じフォルダーに作成します。"},
     {CMDOFF_DELETE, "削除(&D)", "選択した項目をごみ箱へ移動します。"},
     {CMDOFF_RENAME, "名前の変更(&M)", "選択した項目の名前を変更します。"}},
    {{CMDOFF_UNDO, "元に戻す(&U)", "最後のファイル操作を元に戻します。"},
     {-1, nullptr, nullptr},
     {-1, nullptr, nullptr}},
    {{CMDOFF_PROPERTIES, "プロパティ(&R)", "選択した項目のプロパティを表示します。"},
     {-1, nullptr, nullptr},
     {-1, nullptr, nullptr}},
};

const Verb* FindVerb(int offset) {
  for (const auto& group : kVerbGroups)
    for (const Verb& verb : group)
      if (verb.text && verb.offset == offset) return &verb;
  return nullptr;
}

bool ClipboardHoldsFiles() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard && MimeDataHoldsFiles(clipboard->mimeData());
}

}  // namespace

QString UndoEntryText() {
  QString text = QString::fromUtf8(FindVerb(CMDOFF_UNDO)->text);
  // Names what it undoes.
  if (FileOperationJournal::Instance().CanUndo())
    text += " - " + QString::fromStdString(FileOperationJournal::Instance().NewestDescription()).replace('&', "&&");
  return text;
}

void UndoLastOperationLater(QWidget* owner) {
  // Undone once the menu and its caller are done: a list stops watching its
  // folder while its menu is up, and must see what the undo changes.
  QPointer<QWidget> window = owner;
  QTimer::singleShot(0, QCoreApplication::instance(), [window] {
    Guarded([&] { FileOperationJournal::Instance().UndoLast(DefaultFileOperationUI(window)); });
  });
}

namespace {

class ItemsContextMenu : public IContextMenu {
 public:
  ItemsContextMenu(QWidget* owner, std::vector<ContextMenuItem> items, uint32_t attributes)
      : owner_(owner), items_(std::move(items)), attributes_(attributes) {}

  bool QueryContextMenu(QMenu* menu, int insertPosition, int firstId, int lastId, uint32_t flags) override;
  bool InvokeCommand(QWidget* window, int offset) override;
  std::string GetCommandString(int offset) override {
    const Verb* verb = FindVerb(offset);
    return verb ? verb->help : "";
  }

 private:
  bool Has(uint32_t mask) const { return (attributes_ & mask) == mask; }
  bool AllHavePaths() const {
    for (const ContextMenuItem& item : items_)
      if (item.path.empty()) return false;
    return !items_.empty();
  }
  bool AnyFolder() const {
    for (const ContextMenuItem& item : items_)
      if (item.folder) return true;
    return false;
  }
  bool PasteTarget() const {
    return items_.size() == 1 && items_[0].folder && !items_[0].path.empty() && Has(SFGAO_FILESYSTEM);
  }
  // Whether the verb applies to these items at all (the menu shows fewer:
  // rename only when asked for, paste only with files on the clipboard).
  bool Applies(int offset) const;
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const ContextMenuItem& item : items_) paths.push_back(item.path);
    return paths;
  }

  bool Open();
  bool Paste(QWidget* window);
  bool ShowProperties(QWidget* window);

  QPointer<QWidget> owner_;
  std::vector<ContextMenuItem> items_;
  uint32_t attributes_;
};

bool ItemsContextMenu::Applies(int offset) const {
  if (items_.empty()) return false;
  switch (offset) {
    case CMDOFF_OPEN:
      return true;
    case CMDOFF_OPENWITH:
      return AllHavePaths() && !AnyFolder() && Has(SFGAO_FILESYSTEM);
    case CMDOFF_CUT:
    case CMDOFF_DELETE:
      return AllHavePaths() && Has(SFGAO_CANDELETE);
    case CMDOFF_COPY:
      return AllHavePaths() && Has(SFGAO_CANCOPY);
    case CMDOFF_PASTE:
      return PasteTarget();
    case CMDOFF_CREATELINK:
      return AllHavePaths() && Has(SFGAO_CANLINK);
    case CMDOFF_RENAME:
      return items_.size() == 1 && Has(SFGAO_CANRENAME);
    case CMDOFF_PROPERTIES:
      return Has(SFGAO_HASPROPSHEET);
    case CMDOFF_UNDO:
      return FileOperationJournal::Instance().CanUndo();
    default:
      return false;
  }
}

bool ItemsContextMenu::QueryContextMenu(QMenu* menu, int insertPosition, int firstId, int lastId, uint32_t flags) {
  if (!menu || items_.empty() || firstId < 0) return false;
  QList<QAction*> existing = menu->actions();
  QAction* before = insertPosition >= 0 && insertPosition < existing.size() ? existing[insertPosition] : nullptr;
  qsizetype above = before ? insertPosition : existing.size();  // entries above ours
  bool entriesBefore = above > 0 && !existing[above - 1]->isSeparator();
  bool pasteShown = !(flags & CMF_DEFAULTONLY) && ClipboardHoldsFiles();

  bool any = false, groupStarted = false;
  auto insert = [&](QAction* action) { menu->insertAction(before, action); };
  auto separate = [&] {
    auto* separator = new QAction(menu);
    separator->setSeparator(true);
    insert(separator);
  };
  for (const auto& group : kVerbGroups) {
    groupStarted = false;
    for (const Verb& verb : group) {
      if (!verb.text || firstId + verb.offset > lastId || !Applies(verb.offset)) continue;
      if (flags & CMF_DEFAULTONLY && verb.offset != CMDOFF_OPEN) continue;
      if (verb.offset == CMDOFF_RENAME && !(flags & CMF_CANRENAME)) continue;
      if (verb.offset == CMDOFF_PASTE && !pasteShown) continue;
      if (!groupStarted && (any || entriesBefore)) separate();
      groupStarted = any = true;
      QString text = verb.offset == CMDOFF_UNDO ? UndoEntryText() : QString::fromUtf8(verb.text);
      auto* action = new QAction(text, menu);
      SetCommandIdOf(action, firstId + verb.offset);
      action->setStatusTip(QString::fromUtf8(verb.help));
      insert(action);
      if (verb.offset == CMDOFF_OPEN) menu->setDefaultAction(action);
    }
  }
  // Keep the caller's own entries after ours apart.
  if (any && before && !before->isSeparator()) separate();
  return true;
}

bool ItemsContextMenu::InvokeCommand(QWidget* window, int offset) {
  if (!Applies(offset)) return false;
  if (!window) window = owner_;
  switch (offset) {
    case CMDOFF_OPEN:
      return Open();
    case CMDOFF_OPENWITH:
      return ChooseAndOpenWith(window, Paths());
    case CMDOFF_CUT:
    case CMDOFF_COPY: {
      QClipboard* clipboard = QGuiApplication::clipboard();
      if (!clipboard) return false;
      clipboard->setMimeData(MakeFilesMimeData(Paths(), offset == CMDOFF_CUT));
      return true;
    }
    case CMDOFF_PASTE:
      return Paste(window);
    case CMDOFF_CREATELINK:
      return CreateLinksBeside(Paths(), DefaultFileOperationUI(window));
    case CMDOFF_DELETE: {
      FileOperationRequest request;
      request.function = FO_DELETE;
      request.sources = Paths();
      request.flags = FOF_ALLOWUNDO;
      request.owner = window;
      return RunFileOperation(request).code == 0;
    }
    case CMDOFF_RENAME:
      return true;  // the caller edits the name in place
    case CMDOFF_PROPERTIES:
      return ShowProperties(window);
    case CMDOFF_UNDO:
      UndoLastOperationLater(window);
      return true;
    default:
      return false;
  }
}

bool ItemsContextMenu::Open() {
  bool all = true;
  for (const ContextMenuItem& item : items_) {
    // Folders and virtual items are opened by the view, which navigates.
    if (item.folder || item.path.empty() || !Has(SFGAO_FILESYSTEM)) continue;
    if (!OpenWithDefaultApplication(item.path)) all = false;
  }
  return all;
}

bool ItemsContextMenu::Paste(QWidget* window) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  std::vector<std::string> sources;
  bool cut = false;
  if (!clipboard || !ReadFilesMimeData(clipboard->mimeData(), sources, cut)) return false;
  FileOperationRequest request;
  request.function = cut ? FO_MOVE : FO_COPY;
  request.sources = std::move(sources);
  request.destination = items_[0].path;
  request.flags = FOF_ALLOWUNDO;
  request.owner = window;
  FileOperationResult result = RunFileOperation(request);
  // What was cut is where it belongs now; pasting it again would find nothing.
  if (cut && result.code == 0) clipboard->clear();
  return result.code == 0;
}

bool ItemsContextMenu::ShowProperties(QWidget* window) {
  std::vector<PropertyItem> items;
  for (const ContextMenuItem& item : items_) {
    PropertyItem property;
    property.name = item.name;
    property.path = item.path;
    property.contentPath = item.contentPath;
    SHFILEINFO info;
    if (SHGetFileInfo(item.absolute.get(), SHGFI_PIDL | SHGFI_TYPENAME | SHGFI_SYSICONINDEX | SHGFI_LARGEICON, info)) {
      property.typeName = info.szTypeName;
      property.iconIndex = info.iIcon;
    }
    items.push_back(std::move(property));
  }
  auto* dialog = new PropertiesDialog(window, std::move(items));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  return true;
}

}  // namespace

std::unique_ptr<IContextMenu> CreateItemsContextMenu(QWidget* owner, std::vector<ContextMenuItem> items,
                                                     uint32_t attributes) {
  if (items.empty()) return nullptr;
  return std::make_unique<ItemsContextMenu>(owner, std::move(items), attributes);
}
