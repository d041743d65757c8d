// Locations listed through GIO (no FUSE path): leaving their folders, and the
// commands on them, each taken through GIO on a worker or refused.
#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellFolderBase.h"
#include "shell/ShellListView.h"

bool LeaveLocationFolder(TForm1& form, TPane& pane) {
  PCItemIDList current = pane.List->FolderIDList();
  if (!current || !IsLocationIDList(current)) return false;
  // The server's root has nothing above it in the location.
  if (CountIDs(current) <= 1) return true;
  IDListPtr parent(CopyParentIDList(current));
  if (!parent) return true;
  const std::string name(IDPayloadText(LastID(current)));
  pane.List->SetFolderIDList(parent.get());
  // Back on the row it was entered from, once that row has come.
  form.FocusItemByCaption(name, pane.List);
  return true;
}
