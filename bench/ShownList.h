#pragma once
// A list in report view, shown on screen, and a note of when it paints: the list
// benchmarks time from navigating to the first frame with rows.
#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTest>
#include <memory>

#include "shell/ShellListView.h"

namespace bench {

// Notes when the watched viewport gets a paint event.
class PaintSpy : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

inline std::unique_ptr<TShellListView> NewShownList() {
  auto view = std::make_unique<TShellListView>();
  view->resize(900, 700);
  view->SetViewStyleProperty(vsReport);
  view->show();
  (void)QTest::qWaitForWindowExposed(view.get());
  QApplication::processEvents();
  return view;
}

}  // namespace bench
