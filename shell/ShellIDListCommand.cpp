// Shell commands on a set of items: cut, copy, paste, link, delete, properties.
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include "platform/ui/ContextMenu.h"
#include "platform/desktop/FilePayload.h"
#include "shell/ShellCtrls.h"

bool TShellIDList::InvokeCommand(QWidget* window, int kind) {
  uint32_t needs = 0;
  int offset = 0;
  switch (kind) {
    case sckCut:
      needs = SFGAO_CANDELETE, offset = CMDOFF_CUT;
      break;
    case sckCopy:
      needs = SFGAO_CANCOPY, offset = CMDOFF_COPY;
      break;
    case sckPaste:
      needs = SFGAO_FILESYSTEM, offset = CMDOFF_PASTE;
      break;
    case sckCreateLink:
      needs = SFGAO_CANLINK, offset = CMDOFF_CREATELINK;
      break;
    case sckDelete:
      needs = SFGAO_CANDELETE, offset = CMDOFF_DELETE;
      break;
    case sckProperties:
      needs = SFGAO_HASPROPSHEET, offset = CMDOFF_PROPERTIES;
      break;
    default:
      return false;
  }
  if (!HasAttribute(needs)) return false;
  if (kind == sckPaste) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !MimeDataHoldsFiles(clipboard->mimeData())) return false;
  }
  ShellFolderPtr folder;
  if (!GetParentFolder(folder)) return false;
  std::vector<PCItemIDList> lists(items_.begin(), items_.end());
  std::unique_ptr<IContextMenu> menu = folder->GetContextMenu(window, Count(), lists.data());
  if (!menu) return false;
  QMenu popup;
  if (!menu->QueryContextMenu(&popup, 0, 1, 0x7FFF, CMF_DEFAULTONLY)) return false;
  return menu->InvokeCommand(window, offset);
}
