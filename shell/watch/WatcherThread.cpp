#include "shell/watch/WatcherThread.h"

#include "platform/namespace/PathText.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <sys/stat.h>

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "platform/system/Exception.h"
#include "platform/system/SyncCall.h"

namespace {

std::mutex registryMutex;
std::set<TWatcherThread*>& Registry() {
  static std::set<TWatcherThread*> live;
  return live;
}

}  // namespace

TWatcherThread::TWatcherThread() {
  std::lock_guard<std::mutex> lock(registryMutex);
  Registry().insert(this);
}

TWatcherThread::~TWatcherThread() {
  std::lock_guard<std::mutex> lock(registryMutex);
  Registry().erase(this);
}

void TWatcherThread::Start() { thread_ = std::thread(&TWatcherThread::Run, this); }

void TWatcherThread::Stop() {
  ClearHandlers();
  StopEvent.Set();
}

bool TWatcherThread::Synchronize(const std::function<void()>& fn) { return SyncCall(fn, &StopEvent); }

bool TWatcherThread::FolderExists(const std::string& path) { return ::FolderExists(path); }

void TWatcherThread::Run() {
  try {
    Execute();
  } catch (const EWatchSystemError&) {
    // Watching ends for this owner; its end-of-thread notification tells it.
  } catch (const std::exception& e) {
    try {
      Synchronize([&e] { ShowException(e); });
    } catch (...) {
    }
  } catch (...) {
    try {
      Synchronize([] { ShowExceptionMessage(kUnknownExceptionMessage); });
    } catch (...) {
    }
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (app && QMetaObject::invokeMethod(
                 app, [this] { Finish(); }, Qt::QueuedConnection))
    return;
  // No application to hand the object to: nobody can be notified any more.
  thread_.detach();
  delete this;
}

void TWatcherThread::Finish() {
  Guarded([this] { DoTerminate(); });
  if (thread_.joinable()) thread_.join();  // the thread has only its return left
  delete this;
}

void WaitForWatcherThreads() {
  std::vector<TWatcherThread*> live;
  {
    std::lock_guard<std::mutex> lock(registryMutex);
    live.assign(Registry().begin(), Registry().end());
  }
  for (TWatcherThread* watcher : live) watcher->Stop();
  while (LiveWatcherThreads() > 0) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int LiveWatcherThreads() {
  std::lock_guard<std::mutex> lock(registryMutex);
  return static_cast<int>(Registry().size());
}
