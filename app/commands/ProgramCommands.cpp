// The commands that start other programs: the two text editors and the
// binary editor the settings name, running the focused file with parameters,
// and a terminal in the current folder.
#include <QLineEdit>
#include <QString>
#include <strings.h>

#include "app/Form4.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/desktop/OpenWith.h"
#include "platform/namespace/PathText.h"
#include "platform/state/IniFile.h"
#include "platform/state/StateFolder.h"

namespace {

QString Shown(const std::string& path) { return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())); }

bool IsNotepad(const std::string& program) {
  return strcasecmp(program.c_str(), "notepad.exe") == 0 || strcasecmp(program.c_str(), "notepad") == 0;
}

// Opens the current pane's selection in the program the settings name under
// section/key, each path its own argument.
void OpenSelectionWith(TForm1& form, const char* section, const char* key) {
  TShellListView* list = form.CurrentList();
  if (!list || RefuseOnLocation(form, list)) return;
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
  if (!started) form.Hooks.ShowMessage(QStringLiteral("プログラムを起動できません。\n") + Shown(command[0]));
}

}  // namespace

void BExecute(TForm1& form) { OpenSelectionWith(form, "Binary", "Binary"); }

void EExecute(TForm1& form) { OpenSelectionWith(form, "Edit", "Path1"); }

void EEExecute(TForm1& form) { OpenSelectionWith(form, "Edit", "Path2"); }

void XExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list || RefuseOnLocation(form, list)) return;
  std::string path = form.FocusedItemPath(list);
  // Nothing focused is nothing to run.
  if (path.empty()) return;
  TForm4 dialog(&form);
  dialog.SetFileName(path);
  dialog.Edit2->clear();
  dialog.exec();
}

void TerminalKey(TForm1& form, TPane& pane) {
  if (RefuseOnLocation(form, pane.List)) return;
  const std::string folder = pane.List->GetPathName();
  if (folder.empty()) {
    form.Hooks.ShowMessage(QStringLiteral("このフォルダでは端末を開けません。"));
    return;
  }
  // The terminal starts in the folder as its working folder, as terminals expect.
  for (const std::vector<std::string>& command : TForm1::TerminalCommands())
    if (StartDetachedProgram(command, folder)) return;
  form.Hooks.ShowMessage(
      QStringLiteral("端末を開けません。\n環境変数 TERMINAL に端末のプログラムを指定するか、"
                     "x-terminal-emulator を用意してください（Debian では端末のパッケージを入れると用意されます）。"));
}
