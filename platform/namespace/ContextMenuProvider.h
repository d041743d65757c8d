#pragma once
// What a folder's context menu is, as the namespace sees it: the verbs' query
// flags and offsets, the menu interface, and the provider that builds one. The
// menus themselves need widgets; the ui layer provides them at start-up
// (InstallPlatformUi), and without a provider a folder has no menu.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/namespace/IDList.h"

class QMenu;
class QWidget;

// Query flags (CMF_*).
constexpr uint32_t CMF_NORMAL = 0;
constexpr uint32_t CMF_DEFAULTONLY = 0x1;
constexpr uint32_t CMF_EXPLORE = 0x4;
constexpr uint32_t CMF_CANRENAME = 0x10;

// Command offsets of the verbs.
constexpr int CMDOFF_OPEN = 0;
constexpr int CMDOFF_OPENWITH = 1;
constexpr int CMDOFF_CREATELINK = 16;
constexpr int CMDOFF_DELETE = 17;
constexpr int CMDOFF_RENAME = 18;
constexpr int CMDOFF_PROPERTIES = 19;
constexpr int CMDOFF_CUT = 24;
constexpr int CMDOFF_COPY = 25;
constexpr int CMDOFF_PASTE = 26;
constexpr int CMDOFF_UNDO = 27;

class IContextMenu {
 public:
  virtual ~IContextMenu() = default;
  // Inserts the verbs before the entry at insertPosition (appends when there
  // is none); identifiers above lastId are left out. CMF_DEFAULTONLY inserts
  // only the default verb.
  virtual bool QueryContextMenu(QMenu* menu, int insertPosition, int firstId, int lastId, uint32_t flags) = 0;
  // Runs a verb by its offset; true when it was carried out.
  virtual bool InvokeCommand(QWidget* window, int offset) = 0;
  // The verb's help text (UTF-8); empty for an unknown offset.
  virtual std::string GetCommandString(int offset) = 0;
};

// One item of a menu, as its folder knows it.
struct ContextMenuItem {
  IDListPtr absolute;  // the item's absolute list
  std::string path;    // its file-system path; empty for a virtual item
  std::string name;    // display name
  bool folder = false;
  std::string contentPath;  // a virtual folder whose content lies on disk (the recycle bin)
};

// The menu of items of one folder. attributes: the SFGAO bits all the items share.
using ContextMenuProvider = std::function<std::unique_ptr<IContextMenu>(
    QWidget* owner, std::vector<ContextMenuItem> items, uint32_t attributes)>;
void SetContextMenuProvider(ContextMenuProvider provider);
// The provider's menu for the items; null without a provider or items.
std::unique_ptr<IContextMenu> ProvidedContextMenu(QWidget* owner, std::vector<ContextMenuItem> items,
                                                  uint32_t attributes);
