#pragma once
// platform/desktop: stands in for the desktop's context menus, clipboard formats,
// drag-and-drop targets, open-with and properties. It never changes files on
// its own: file work goes through the fileops engine.
//
// The shell's context menu for a set of items (IContextMenu): it fills a QMenu
// with the verbs that apply, each action carrying its command identifier
// (first identifier + the verb's offset), runs a verb by its offset whether or
// not it was put in a menu, and gives a help text per verb for status tips.
//
//   offset  verb                        shown when
//    0      開く (default)              always
//    1      プログラムから開く...       file-system files, no folders
//   24      切り取り                    the items can be deleted
//   25      コピー                      the items can be copied and have paths
//   26      貼り付け                    one folder, and the clipboard holds files
//   16      ショートカットの作成        the items can be linked (a symbolic link)
//   17      削除                        the items can be deleted
//   18      名前の変更                  CMF_CANRENAME and the items can be renamed
//   19      プロパティ                  the items have properties
//   27      元に戻す - (operation)      the undo journal holds an operation
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/namespace/IDList.h"

class QAction;
class QMenu;
class QString;
class QWidget;
class IFileOperationUI;

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

// The dynamic property of a menu action that holds its command identifier.
extern const char* const kCommandIdProperty;
// The command identifier of an action; 0 when it has none.
int CommandIdOf(const QAction* action);
void SetCommandIdOf(QAction* action, int id);

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
std::unique_ptr<IContextMenu> CreateItemsContextMenu(QWidget* owner, std::vector<ContextMenuItem> items,
                                                     uint32_t attributes);

// The undo entry for menus of their own (the lists' ordinary menu): the same
// text as the row menu's ("元に戻す(&U) - what"), "元に戻す(&U)" alone while
// the journal is empty.
QString UndoEntryText();
// Undoes the journal's newest operation once the current event is over (the
// menu that asked has closed and its list watches again).
void UndoLastOperationLater(QWidget* owner);

// The name a new link to source gets in folder: "NAME へのリンク", then
// "NAME へのリンク (2)"... (the number before a file's extension).
std::string LinkNameFor(const std::string& sourceName, bool folder, int number);
// Makes symbolic links to sources and never replaces anything: in folder,
// named like each source ("NAME (2).EXT" when taken), or, with no folder,
// beside each source, named by LinkNameFor.
bool CreateLinks(const std::vector<std::string>& sources, const std::string& folder, IFileOperationUI* ui,
                 std::vector<std::string>* made = nullptr);
// Makes links to sources beside them, named by LinkNameFor; never replaces.
// Failures are asked through ui (retry, skip, cancel). The paths of the links
// made go to made. true when every link was made.
bool CreateLinksBeside(const std::vector<std::string>& sources, IFileOperationUI* ui,
                       std::vector<std::string>* made = nullptr);
