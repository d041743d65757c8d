// The view of a pane: the view options dialog, the view defaults of the
// settings' [Sort] section, and the key list.
#include "app/Form3.h"
#include "app/KeyTable.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/state/IniFile.h"
#include "platform/state/StateFolder.h"

void SExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  TForm3 dialog(form.LV1, form.LV2, &form);
  dialog.RadioGroup4->SetItemIndex(pane->Index());
  dialog.exec();
}

void SSExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  int style, sortType;
  bool ascending;
  {
    TIniFile ini(IniFilePath());
    style = ini.ReadInteger("Sort", "ViewStyle", 2);
    sortType = ini.ReadInteger("Sort", "SortType", 0);
    ascending = ini.ReadBool("Sort", "UpDown", true);
  }
  static const TViewStyle kStyles[] = {vsIcon, vsSmallIcon, vsList, vsReport};
  if (style >= 0 && style < 4) list->SetViewStyleProperty(kStyles[style]);
  // Name, type, size, date.
  static const int kColumns[] = {0, 2, 1, 3};
  if (sortType >= 0 && sortType < 4) list->SortColumn(kColumns[sortType], ascending);
}

void KeyTableKey(TForm1& form, TPane&) {
  QPointer<QDialog>& table = form.keyTable_;
  if (!table) {
    table = new TKeyTableDialog(&form, KeyTableRows(form.ActionList2));
    table->setAttribute(Qt::WA_DeleteOnClose);
  }
  table->show();
  table->raise();
  table->activateWindow();
}
