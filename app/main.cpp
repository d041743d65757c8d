// Tolvane: a two-pane, keyboard-driven file manager.
#include <QApplication>

#include "app/RunControl.h"
#include "platform/fileops/FileOperationDialogs.h"
#include "platform/namespace/SystemImageList.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tolvane");
  QApplication::setApplicationDisplayName("Tolvane");
  SystemImageList::EnsureIconTheme();
  InstallFileOperationDropHandler();
  PrepareUnattendedRun();
  return RunMainWindow();
}
