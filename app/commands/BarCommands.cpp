// Q and F: the focused item joins the launcher bar, the selected folder the
// folder bar; each bar is built again from its buttons' paths and the new one.
#include <QToolBar>
#include <QToolButton>

#include "app/MainForm.h"
#include "app/commands/Commands.h"

namespace {

TLineList HintsAnd(TForm1& form, QToolBar* bar, const std::string& path) {
  TLineList lines;
  for (QToolButton* button : form.Buttons(bar)) lines.Add(TForm1::HintOf(button));
  lines.Add(path);
  return lines;
}

}  // namespace

void QExecute(TForm1& form) {
  std::string path = form.FocusedItemPath(form.CurrentList());
  if (path.empty()) return;
  const TLineList lines = HintsAnd(form, form.ToolBar1, path);
  form.ClearToolBar(form.ToolBar1, &form.ImageList1);
  form.BuildLauncherBar(lines, form.ToolBar1, form.ImageList1);
}

void FExecute(TForm1& form) {
  std::string path = form.SelectedFolderPath(form.CurrentList());
  if (path.empty()) return;
  const TLineList lines = HintsAnd(form, form.ToolBar2, path);
  form.ClearToolBar(form.ToolBar2);
  form.BuildFolderBar(lines, form.ToolBar2);
}
