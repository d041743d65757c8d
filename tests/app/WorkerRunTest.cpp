// The progress window of a job on a worker: however the window goes away,
// the job is told to stop and the window does not come back.
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/WorkerRun.h"

namespace {

QProgressDialog* ShownProgress() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QProgressDialog*>(w); dialog && dialog->isVisible()) return dialog;
  return nullptr;
}

// Runs a job that waits for its stop (at most limitMs) and closes the progress
// window with close the first time it shows; counts how often it showed.
struct WorkerOutcome {
  int shown = 0;
  bool stopped = false;
  qint64 ms = 0;
};

template <class Close>
WorkerOutcome RunAndClose(Close close, int limitMs) {
  QWidget owner;
  owner.show();
  WorkerOutcome run;
  std::atomic<bool> stop{false};
  QProgressDialog* last = nullptr;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QProgressDialog* dialog = ShownProgress();
    if (!dialog || dialog == last) return;
    last = dialog;
    ++run.shown;
    close(dialog);
  });
  watch.start(20);
  QElapsedTimer clock;
  clock.start();
  RunOnWorker(
      &owner, QStringLiteral("待っています"),
      [&] {
        for (int i = 0; i < limitMs / 10 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        run.stopped = stop;
      },
      [] { return 0; }, [&] { stop = true; });
  run.ms = clock.elapsed();
  return run;
}

}  // namespace

TEST(WorkerRunTest, EscOnAWindowNotYetActiveStopsTheJobAsTheCancelButtonDoes) {
  // A key sent straight to the dialog misses its Esc shortcut (the window is
  // not active) and arrives as a reject: the job must stop all the same.
  WorkerOutcome esc = RunAndClose([](QProgressDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, 8000);
  EXPECT_TRUE(esc.stopped);
  EXPECT_EQ(esc.shown, 1);
  EXPECT_LT(esc.ms, 3000);

  WorkerOutcome rejected = RunAndClose([](QProgressDialog* d) { d->reject(); }, 8000);
  EXPECT_TRUE(rejected.stopped);
  EXPECT_LT(rejected.ms, 3000);

  WorkerOutcome button = RunAndClose(
      [](QProgressDialog* d) {
        QMetaObject::invokeMethod(
            d, [d] { emit d->canceled(); }, Qt::QueuedConnection);
      },
      8000);
  EXPECT_TRUE(button.stopped);
  EXPECT_LT(button.ms, 3000);
}

TEST(WorkerRunTest, AQuickJobShowsNoWindow) {
  WorkerOutcome quick = RunAndClose([](QProgressDialog*) {}, 100);
  EXPECT_EQ(quick.shown, 0);
  EXPECT_FALSE(quick.stopped);
}
