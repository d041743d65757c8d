#pragma once
// platform/ui: the dialogs and menus, the only code of platform/ that needs Qt
// Widgets; it may use every folder below it. InstallPlatformUi (PlatformUi.h)
// hands them to the layers below at start-up.
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

#include "platform/namespace/ContextMenuProvider.h"

class QAction;
class QMenu;
class QString;
class QWidget;

// The dynamic property of a menu action that holds its command identifier.
extern const char* const kCommandIdProperty;
// The command identifier of an action; 0 when it has none.
int CommandIdOf(const QAction* action);
void SetCommandIdOf(QAction* action, int id);

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
