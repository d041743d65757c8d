// The file commands: copy and move between the panes or to a chosen folder,
// delete to the recycle bin and empty it, rename, new folder, the external
// editors, run with parameters, and the view dialog and view defaults.
// Copy, move and delete go through the file-operation engine with undo, so
// its confirmations, conflicts, progress and errors are what the user sees.
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/InputNewDirDlg.h"
#include "app/MainForm.h"
#include "platform/namespace/FolderEntries.h"
#include "platform/fileops/ErrorText.h"
#include "platform/fileops/FileOperation.h"
#include "platform/state/IniFile.h"
#include "platform/desktop/OpenWith.h"
#include "platform/namespace/PathText.h"
#include "platform/state/StateFolder.h"
#include "platform/system/TrailingSlash.h"

namespace {

QString Shown(const std::string& path) { return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())); }

// Copies or moves the current pane's selection into the other pane's folder.
void TransferToOtherPane(TForm1& form, bool move) {
  TShellListView* source = form.CurrentList();
  if (!source) return;
  // A preview covers a pane's list: a copy would land where nobody sees it.
  if (!move && (form.LV1->isHidden() || form.LV2->isHidden())) return;
  TShellListView* target = form.OtherList(source);
  const std::string destination = target->GetPathName();
  if (destination.empty()) {
    // A shell folder (the computer, the trash) is no place for files.
    if (source->SelectedCount() > 0)
      form.ShowMessage(move ? QStringLiteral("このフォルダへは移動できません。")
                            : QStringLiteral("このフォルダへはコピーできません。"));
    return;
  }
  // The target is re-read once when everything has arrived, not once per file.
  auto suspended = target->SuspendedWatching();
  if (form.TryTransferSelection(source, destination, move)) target->RefreshList();
}

void PopDestinations(TForm1& form, int moveTag) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  form.CopyPopupTag = moveTag + (list == form.LV1 ? 0 : 1);
  QAction* chosen = form.ExecPopup(form.CopyPopup, form.MenuPoint(form.CopyPopup));
  // The entry the menu answers is the one clicked, also inside a submenu.
  form.CopyListClick(chosen);
}

bool IsNotepad(const std::string& program) {
  return strcasecmp(program.c_str(), "notepad.exe") == 0 || strcasecmp(program.c_str(), "notepad") == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program's full path through PATH; empty when it is not there.
std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      std::string candidate = folder + (folder.back() == '/' ? "" : "/") + program;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Opens the current pane's selection in the program the settings name under
// section/key, each path its own argument.
void OpenSelectionWith(TForm1& form, const char* section, const char* key) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  const std::vector<std::string> files = form.SelectedShortPaths(list);
  std::string program;
  {
    TIniFile ini(IniFilePath());
    program = ini.ReadString(section, key, "");
  }
  std::vector<std::string> command;
  std::string folder;
  if (program.empty() || IsNotepad(program)) {
    command = TForm1::DefaultEditorCommand();
  } else {
    // The setting names a program file, blanks and all: it is not a command line.
    command.push_back(program);
    if (program.find('/') != std::string::npos) folder = DirName(program);
  }
  bool started = true;
  if (command.size() == 1 && command[0] == "xdg-open") {
    // The desktop opens one document at a time.
    for (const std::string& file : files) started = OpenWithDefaultApplication(file) && started;
  } else {
    command.insert(command.end(), files.begin(), files.end());
    started = StartDetachedProgram(command, folder);
  }
  if (!started) form.ShowMessage(QStringLiteral("プログラムを起動できません。\n") + Shown(command[0]));
}

// Why a typed folder name cannot be used; empty when it can.
QString BadFolderName(const QString& name) {
  for (const QString& part : name.split('/', Qt::SkipEmptyParts))
    if (part == "." || part == "..") return QStringLiteral("フォルダ名に「.」や「..」は使えません。");
  if (name.split('/', Qt::SkipEmptyParts).isEmpty()) return QStringLiteral("フォルダ名を入力してください。");
  return {};
}

}  // namespace

// --- Selection ----------------------------------------------------------------------

void TForm1::SelectedPaths(TShellListView* list, TLineList& lines) {
  lines.Clear();
  if (!list) return;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    std::string path = item ? item->GetItemPath() : std::string();
    // Items without a place on disk (the computer, the trash) have nothing to hand on.
    if (!path.empty()) lines.Add(path);
  }
}

std::vector<std::string> TForm1::SelectedShortPaths(TShellListView* list) {
  TLineList paths;
  SelectedPaths(list, paths);
  std::vector<std::string> arguments;
  for (const std::string& path : paths.Lines) arguments.push_back(ToShortPath(path));
  return arguments;
}

std::string TForm1::ToShortPath(const std::string& path) { return path; }

std::vector<std::string> TForm1::DefaultEditorCommand() {
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    std::vector<std::string> command;
    for (const QString& word : QProcess::splitCommand(QString::fromLocal8Bit(value)))
      command.push_back(word.toLocal8Bit().toStdString());
    if (!command.empty()) return command;
  }
  for (const char* editor :
       {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma", "featherpad", "leafpad", "geany"}) {
    std::string found = FindOnPath(editor);
    if (!found.empty()) return {found};
  }
  return {"xdg-open"};
}

// --- Copy and move ------------------------------------------------------------------

void TForm1::CCExecute() { TransferToOtherPane(*this, false); }

void TForm1::MMExecute() { TransferToOtherPane(*this, true); }

void TForm1::CExecute() { PopDestinations(*this, 0); }

void TForm1::MExecute() { PopDestinations(*this, 2); }

// --- Delete -------------------------------------------------------------------------

void TForm1::DExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  FileOperationRequest request;
  request.function = FO_DELETE;
  request.sources = SelectedShortPaths(list);
  request.flags = FOF_ALLOWUNDO;
  request.owner = this;
  if (request.sources.empty()) return;
  // The engine asks and reports; the pane follows through its watching.
  RunFileOperation(request);
}

void TForm1::DDExecute() { EmptyRecycleBin(DefaultFileOperationUI(this)); }

// --- External programs --------------------------------------------------------------

void TForm1::BExecute() { OpenSelectionWith(*this, "Binary", "Binary"); }

void TForm1::EExecute() { OpenSelectionWith(*this, "Edit", "Path1"); }

void TForm1::EEExecute() { OpenSelectionWith(*this, "Edit", "Path2"); }

void TForm1::XExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  std::string path = FocusedItemPath(list);
  // Nothing focused is nothing to run.
  if (path.empty()) return;
  TForm4 dialog(this);
  dialog.SetFileName(path);
  dialog.Edit2->clear();
  dialog.exec();
}

// --- New folder and rename ----------------------------------------------------------

void TForm1::KExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  std::string folder = list->GetPathName();
  if (folder.empty()) return;  // a shell folder has no place for one
  TInputNewDirDlg dialog(this);
  dialog.SetInitialDir(folder);
  if (dialog.exec() != QDialog::Accepted) return;
  QString name = dialog.edtDirName->text();
  QString bad = BadFolderName(name);
  if (!bad.isEmpty()) {
    ShowMessage(bad);
    return;
  }
  const std::string path = WithoutTrailingSlash(dialog.GetNewDirPath());
  if (FolderExists(path)) {
    ShowMessage(QStringLiteral("同じ名前のフォルダが既にあります。\n") + Shown(path));
    return;
  }
  if (int error = CreateFolderChain(path))
    ShowMessage(QStringLiteral("フォルダを作成できません。\n") + Shown(path) + "\n" +
                QString::fromStdString(SystemErrorText(error)));
}

void TForm1::RExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  list->SuspendWatching();
  // The list that stopped watching is the one re-read and resumed, wherever
  // the focus went meanwhile; also when a failure ends the series.
  auto finish = [list] {
    list->RefreshList();
    list->ResumeWatching();
  };
  try {
    TLineList paths;
    SelectedPaths(list, paths);
    TForm2 dialog(this);
    for (const std::string& path : paths.Lines) {
      dialog.SetFileName(path);
      dialog.exec();  // OK renames, never over another file; Cancel skips this one
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

// --- View -----------------------------------------------------------------------------

void TForm1::SExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  TForm3 dialog(LV1, LV2, this);
  dialog.RadioGroup4->SetItemIndex(list == LV1 ? 0 : 1);
  dialog.exec();
}

void TForm1::SSExecute() {
  TShellListView* list = CurrentList();
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
