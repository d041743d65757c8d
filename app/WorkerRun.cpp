#include "app/WorkerRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

void RunOnWorker(QWidget* owner, const QString& label, const std::function<void()>& job,
                 const std::function<int()>& progress, const std::function<void()>& cancel) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    job();
    done = true;
  });
  QTimer tick;  // wakes the loop below
  tick.start(50);
  QElapsedTimer clock;
  clock.start();
  std::unique_ptr<QProgressDialog> dialog;
  bool stopped = false;
  // Esc reaches a window that is not active yet as a plain reject, which
  // hides the dialog without its canceled signal: either way stops the job.
  auto stop = [&] {
    if (stopped) return;
    stopped = true;
    dialog->cancel();  // or its timer shows it again
    cancel();
  };
  while (!done) {
    // Until the modal progress window shows, the user's input waits: nothing
    // may start on the files this job is working on, nor once it is stopped.
    const bool shown = dialog && !stopped;
    QCoreApplication::processEvents((shown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents) |
                                    QEventLoop::WaitForMoreEvents);
    if (done) break;
    if (!dialog && clock.elapsed() > 500) {
      dialog = std::make_unique<QProgressDialog>(label, QStringLiteral("キャンセル"), 0, 100, owner);
      dialog->setObjectName(QStringLiteral("workerProgress"));
      dialog->setWindowModality(Qt::ApplicationModal);
      QObject::connect(dialog.get(), &QProgressDialog::canceled, stop);
      QObject::connect(dialog.get(), &QDialog::rejected, stop);
      dialog->show();
    }
    if (dialog && !stopped) dialog->setValue(progress());
  }
  worker.join();
}
