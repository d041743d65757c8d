#include <QApplication>
#include <gtest/gtest.h>

// Every test runs with a real application object, as the program does: the
// watchers call back on its thread and the icon list needs a GUI.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
