// Tolvane: a two-pane, keyboard-driven file manager.
#include <QApplication>

#include "app/MainForm.h"
#include "app/RunControl.h"
#include "platform/fileops/FileOperationDialogs.h"
#include "platform/namespace/SystemImageList.h"

int main(int argc, char** argv) {
  CatchTerminationSignals();
  QApplication app(argc, argv);
  CatchTerminationSignals();
  QApplication::setApplicationName("Tolvane");
  QApplication::setApplicationDisplayName("Tolvane");
  SystemImageList::EnsureIconTheme();
  InstallFileOperationDropHandler();
  PrepareUnattendedRun();
  int code = 0;
  {
    TForm1 form;
    InstallRunControl(&form);
    CloseOnTerminationSignals(&form);
    form.show();
    code = app.exec();
  }
  return code;
}
