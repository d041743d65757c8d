#include <QApplication>
#include <gtest/gtest.h>

#include "platform/ui/PlatformUi.h"

// Every test runs with a real application object, as the program does: the
// watchers call back on its thread and the icon list needs a GUI. The menus
// and dialogs are plugged in as the program plugs them.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InstallPlatformUi();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
