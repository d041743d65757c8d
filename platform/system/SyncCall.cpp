#include "platform/system/SyncCall.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <exception>
#include <memory>

#include "platform/system/WaitObjects.h"

namespace {

enum CallState { csPending, csRunning, csAbandoned };

// Shared by the worker and the posted call: whichever side is left last frees it,
// so an abandoned call that the GUI thread reaches later touches nothing freed.
struct SyncCallData {
  std::function<void()> fn;
  std::atomic<int> state{csPending};
  TEvent done{true};
  std::exception_ptr error;
};

}  // namespace

bool IsGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool SyncCall(const std::function<void()>& fn, TEvent* stopEvent) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || !fn) return false;
  if (QThread::currentThread() == app->thread()) {
    fn();
    return true;
  }
  auto data = std::make_shared<SyncCallData>();
  data->fn = fn;
  bool posted = QMetaObject::invokeMethod(
      app,
      [data] {
        int expected = csPending;
        if (!data->state.compare_exchange_strong(expected, csRunning)) return;
        try {
          data->fn();
        } catch (...) {
          data->error = std::current_exception();
        }
        data->done.Set();
      },
      Qt::QueuedConnection);
  if (!posted) return false;

  std::vector<TWaitHandle*> handles;
  if (stopEvent) handles.push_back(stopEvent);
  handles.push_back(&data->done);
  uint32_t result = WaitForMultipleObjects(handles, INFINITE);
  if (result != WAIT_OBJECT_0 + handles.size() - 1) {
    int expected = csPending;
    if (data->state.compare_exchange_strong(expected, csAbandoned)) return false;
    // Already running on the GUI thread: it may use our objects, so see it end.
    WaitForSingleObject(&data->done, INFINITE);
  }
  if (data->error) std::rethrow_exception(data->error);
  return true;
}
