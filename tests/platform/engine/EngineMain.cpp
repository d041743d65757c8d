#include <QCoreApplication>
#include <gtest/gtest.h>

// The layers below ui, as a command-line tool uses them: a core application,
// no display, no widgets linked in, nothing plugged in from above.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
