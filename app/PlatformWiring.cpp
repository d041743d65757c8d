#include "app/PlatformWiring.h"

#include "app/commands/Commands.h"

#include "platform/fileops/FileOperation.h"
#include "platform/namespace/SystemImageList.h"
#include "platform/state/StateFolder.h"
#include "platform/ui/PlatformUi.h"

void WirePlatform() {
  InstallPlatformUi();
  SystemImageList::EnsureIconTheme();
  InstallFileOperationDropHandler();
  InstallArchiveDropHandler();
  InstallLocationDropHandler();
  FileOperationJournal::Instance().UseFile(StateFolder() + "/undo-journal");
}
