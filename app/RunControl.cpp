#include "app/RunControl.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "platform/system/Exception.h"
#include "platform/system/Library.h"
#include "shell/watch/WatcherThread.h"
#include "shell/ShellListView.h"

namespace {

// A non-negative number from the environment, or -1.
int EnvMilliseconds(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return -1;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return *end == '\0' && value >= 0 && value < 24L * 3600 * 1000 ? static_cast<int>(value) : -1;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  // Nothing else is safe in a signal handler; the loop does the closing.
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

class RunControl : public QObject {
 public:
  explicit RunControl(QWidget* window) : QObject(window), window_(window) {
    report_ = std::getenv("TOLVANE_REPORT_FIRST_PAINT") != nullptr;
    if (const char* shot = std::getenv("TOLVANE_SCREENSHOT"); shot && *shot) screenshot_ = shot;
    screenshotAfter_ = EnvMilliseconds("TOLVANE_SCREENSHOT_AFTER_MS");
    if (screenshotAfter_ < 0) screenshotAfter_ = 2000;
    quitAfter_ = EnvMilliseconds("TOLVANE_QUIT_AFTER_MS");
    if (const char* keys = std::getenv("TOLVANE_KEYS")) keys_ = keys;
    reportLibraries_ = std::getenv("TOLVANE_REPORT_LIBRARIES") != nullptr;
    window->installEventFilter(this);
    // Scripts also learn when a message of the start waits for an answer.
    if (report_) qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (report_ && event->type() == QEvent::Show)
      if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isModal()) {
        std::fputs("dialog-shown\n", stdout);
        std::fflush(stdout);
      }
    if (watched == window_ && event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      // The children paint in the same pass; report once it is over.
      QTimer::singleShot(0, this, [this] { FirstPaintDone(); });
    }
    if (watched == window_ && event->type() == QEvent::Close && reportLibraries_) ReportLibraries();
    return false;
  }

 private:
  void FirstPaintDone() {
    if (report_) {
      std::fputs("first-paint\n", stdout);
      std::fflush(stdout);
      ReportListsFilled();
    }
    if (!screenshot_.empty()) QTimer::singleShot(screenshotAfter_, this, [this] { TakeScreenshot(); });
    if (!keys_.empty()) QTimer::singleShot(kKeyGapMs, this, [this] { PressNextKey(); });
    if (quitAfter_ >= 0)
      QTimer::singleShot(quitAfter_ + kKeyGapMs * static_cast<int>(keys_.size()), this, [this] { CloseWindow(); });
  }

  // One key a time, far enough apart that each letter runs its single command.
  void PressNextKey() {
    if (keys_.empty()) return;
    const char c = keys_.front();
    keys_.erase(0, 1);
    int key = 0;
    if (c >= 'a' && c <= 'z') key = Qt::Key_A + (c - 'a');
    if (c >= 'A' && c <= 'Z') key = Qt::Key_A + (c - 'A');
    if (c >= '0' && c <= '9') key = Qt::Key_0 + (c - '0');
    // Offscreen and under some window managers nothing activates the window by itself.
    if (window_ && !window_->isActiveWindow()) QApplication::setActiveWindow(window_);
    if (QWidget* target = QApplication::focusWidget(); target && key) {
      const QString text(QChar(c).toLower());
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
      QApplication::sendEvent(target, &press);
      QApplication::sendEvent(target, &release);
    }
    if (!keys_.empty()) QTimer::singleShot(kKeyGapMs, this, [this] { PressNextKey(); });
  }

  // The program's own libraries and plug-ins that are mapped now, from the kernel's view.
  void ReportLibraries() {
    reportLibraries_ = false;
    for (const std::string& file : LoadedLibrariesIn(RuntimeFolder()))
      std::fprintf(stdout, "library: %s\n", file.c_str());
    std::fflush(stdout);
  }

  // "lists-filled" once no list waits for its rows any more and the window
  // has been painted with them.
  void ReportListsFilled() {
    if (!window_) return;
    for (TShellListView* list : window_->findChildren<TShellListView*>())
      if (list->Reading()) {
        QTimer::singleShot(2, this, [this] { ReportListsFilled(); });
        return;
      }
    window_->repaint();
    std::fputs("lists-filled\n", stdout);
    std::fflush(stdout);
  }

  void TakeScreenshot() {
    if (screenshot_.empty() || !window_) return;
    std::string file = std::exchange(screenshot_, std::string());
    if (window_->grab().save(QString::fromLocal8Bit(file.c_str()), "PNG"))
      std::fprintf(stderr, "tolvane: screenshot saved to %s\n", file.c_str());
    else
      std::fprintf(stderr, "tolvane: could not save the screenshot to %s\n", file.c_str());
  }

  void CloseWindow() {
    TakeScreenshot();
    if (window_) window_->close();
  }

  QPointer<QWidget> window_;
  bool report_ = false;
  bool painted_ = false;
  std::string screenshot_;
  int screenshotAfter_ = 2000;
  int quitAfter_ = -1;
  static constexpr int kKeyGapMs = 400;
  std::string keys_;
  bool reportLibraries_ = false;
};

}  // namespace

void PrepareUnattendedRun() {
  if (EnvMilliseconds("TOLVANE_QUIT_AFTER_MS") >= 0)
    SetExceptionDisplay([](const std::string& message) { std::fprintf(stderr, "tolvane: %s\n", message.c_str()); });
}

void InstallRunControl(QWidget* window) {
  if (window) new RunControl(window);
}

namespace {

QPointer<QWidget> signalTarget;
bool closeRequested = false;

void CloseSignalTarget() {
  if (signalTarget)
    QTimer::singleShot(0, signalTarget.data(), [] {
      if (signalTarget) signalTarget->close();
    });
}

// Once the program is asked to end, a modal dialog (a message of the start,
// say) is rejected as it shows, and the window closes as soon as it shows:
// before that, closing it would do nothing and the start would go on.
class EndRequestCloser : public QObject {
 public:
  using QObject::QObject;
  static void RejectModalDialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible() && dialog->isModal())
        QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || !closeRequested) return false;
    if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isModal())
      QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
    else if (watched == signalTarget)
      CloseSignalTarget();
    return false;
  }
};

void SignalArrived() {
  char bytes[16];
  [[maybe_unused]] ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
  closeRequested = true;
  if (signalTarget && signalTarget->isVisible() && !QApplication::activeModalWidget()) {
    signalTarget->close();
    return;
  }
  static EndRequestCloser* closer = nullptr;
  if (!closer) {
    closer = new EndRequestCloser(qApp);
    qApp->installEventFilter(closer);
  }
  EndRequestCloser::RejectModalDialogs();
  // After the dialogs' own loops have ended.
  if (signalTarget && signalTarget->isVisible()) CloseSignalTarget();
}

}  // namespace

void CatchTerminationSignals() {
  if (signalPipe[0] < 0) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    ::fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
  }
  // The bytes of signals that came before the application wait in the pipe.
  static QSocketNotifier* notifier = nullptr;
  if (!notifier && qApp) {
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { SignalArrived(); });
  }
}

void CloseOnTerminationSignals(QWidget* window) {
  CatchTerminationSignals();
  if (!window) return;
  signalTarget = window;
  // The request ends with the window it closed; a later window of the
  // process (a test's, say) starts afresh.
  QObject::connect(window, &QObject::destroyed, [] { closeRequested = false; });
  // Asked to end during the start: close as soon as the loop runs.
  if (closeRequested) QTimer::singleShot(0, window, [window] { window->close(); });
}

int RunMainWindow(const std::vector<std::string>& startPaths, const std::vector<std::string>& rightPaths,
                  TInstanceServer* server) {
  int code = 0;
  {
    TForm1 form;
    InstallRunControl(&form);
    CloseOnTerminationSignals(&form);
    ServeStarts(server, &form);
    form.OpenStartPaths(startPaths, rightPaths);
    form.show();
    code = QApplication::exec();
  }
  WaitForWatcherThreads();
  return code;
}
