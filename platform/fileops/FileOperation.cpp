#include "platform/fileops/FileOperation.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <exception>
#include <set>
#include <thread>

#include "platform/fileops/FileOperationJob.h"
#include "platform/system/SyncCall.h"

namespace {

constexpr int kPollMs = 100;                // cancel and progress, at most ten times a second
constexpr double kProgressAfterSeconds = 0.5;

// While a job runs, the windows that were open before it take no input: the
// user cannot start a second operation on the files the first is working on.
// Windows opened meanwhile (the progress, the questions) work as usual.
class InputBlocker : public QObject {
 public:
  InputBlocker() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) blocked_.insert(w);
    if (!blocked_.empty()) qApp->installEventFilter(this);
  }
  ~InputBlocker() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Close:
        if (!event->spontaneous()) return false;
        [[fallthrough]];
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::Drop:
        if (!Blocked(object)) return false;
        if (event->type() == QEvent::Close) event->ignore();
        // An accepted override keeps the key from reaching a shortcut.
        if (event->type() == QEvent::ShortcutOverride) event->accept();
        return true;
      default:
        return false;
    }
  }

 private:
  bool Blocked(QObject* object) const {
    for (QObject* o = object; o; o = o->parent()) {
      if (auto* w = qobject_cast<QWidget*>(o)) return blocked_.count(w->window()) > 0;
    }
    return false;
  }
  std::set<QWidget*> blocked_;
};

// Hands the job's counters to the UI and its cancel button to the job, once a tick.
struct ProgressRelay {
  FileOperationJob& job;
  IFileOperationUI* ui;
  bool silent;
  bool started = false;

  void Tick() {
    if (ui->CancelRequested()) job.Cancel();
    if (silent) return;
    FileOperationProgress p = job.Progress();
    if (started) {
      ui->ProgressChanged(p);
    } else if (p.secondsElapsed >= kProgressAfterSeconds) {
      ui->ProgressStarted(p);
      started = true;
    }
  }
  void Finish() {
    if (started) ui->ProgressFinished();
  }
};

FileOperationResult RunHere(FileOperationJob& job, IFileOperationUI* ui, bool silent, bool pollUi) {
  // No GUI thread to poll from: the job polls at its safe points.
  ProgressRelay relay{job, ui, silent};
  auto last = std::chrono::steady_clock::now();
  if (pollUi) {
    job.SetSafePointHook([&] {
      auto now = std::chrono::steady_clock::now();
      if (now - last < std::chrono::milliseconds(kPollMs)) return;
      last = now;
      relay.Tick();
    });
  }
  FileOperationResult result = job.Run();
  relay.Finish();
  return result;
}

}  // namespace

std::vector<std::string> SplitNulList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\0', start);
    if (end == start) break;  // the closing empty entry
    if (end == std::string::npos) end = list.size();
    items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

int SHFileOperation(SHFILEOPSTRUCT& op) {
  FileOperationRequest request;
  request.function = op.wFunc;
  request.sources = SplitNulList(op.pFrom);
  std::vector<std::string> to = SplitNulList(op.pTo);
  if (!to.empty()) request.destination = to.front();
  request.flags = op.fFlags;
  request.owner = op.hwnd;
  FileOperationResult result = RunFileOperation(request);
  op.fAnyOperationsAborted = result.aborted;
  return result.code;
}

FileOperationResult RunFileOperation(const FileOperationRequest& request, IFileOperationUI* ui) {
  if (!ui) ui = DefaultFileOperationUI(request.owner);
  if (!ui) return {FO_ERROR_BAD_REQUEST, false};
  const bool silent = request.flags & FOF_SILENT;
  FileOperationJob job(request, ui);

  auto* guiApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!guiApp || !IsGuiThread()) return RunHere(job, ui, silent, !guiApp);

  // On the GUI thread: the job gets a worker, and this thread keeps serving
  // events (the questions arrive through the synchronised call) while a
  // timer reads the job's counters.
  QEventLoop loop;
  std::atomic<bool> finished{false};
  FileOperationResult result;
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      result = job.Run();
    } catch (...) {
      error = std::current_exception();
    }
    finished = true;
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });

  // The progress shows also while a question is open (the questions that
  // follow then sit on top of it); the timer ticks in the question's own
  // event loop too.
  ProgressRelay relay{job, ui, silent};
  QTimer timer;
  timer.setInterval(kPollMs);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!finished) relay.Tick();
  });
  timer.start();
  {
    std::unique_ptr<InputBlocker> blocker;
    if (qobject_cast<QApplication*>(guiApp)) blocker = std::make_unique<InputBlocker>();
    while (!finished) loop.exec();
  }
  timer.stop();
  worker.join();
  relay.Finish();
  if (error) std::rethrow_exception(error);
  return result;
}
