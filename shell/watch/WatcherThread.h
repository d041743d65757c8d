#pragma once
// The thread base of the change watchers. A watcher is created with new, runs
// at once and frees itself when its thread ends. Owners never delete one: they
// clear its end-of-thread notification and call Stop(). No watcher thread
// outlives the application object: the program calls WaitForWatcherThreads()
// before the application object goes.
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/system/WaitObjects.h"

// A failed wait or re-arm. It ends the thread without a message.
class EWatchSystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TWatcherThread {
 public:
  TWatcherThread(const TWatcherThread&) = delete;
  TWatcherThread& operator=(const TWatcherThread&) = delete;

  // GUI thread: clears the handlers and tells the thread to end. A step that
  // reaches the GUI thread afterwards finds no handler and does nothing.
  void Stop();

 protected:
  TWatcherThread();
  virtual ~TWatcherThread();

  // The most derived constructor calls this last: the thread starts running.
  void Start();
  virtual void Execute() = 0;
  virtual void ClearHandlers() = 0;
  // GUI thread, once the thread has ended, right before the object is freed.
  virtual void DoTerminate() = 0;
  // Runs fn on the GUI thread while this thread waits; false when the stop
  // event came first and fn was never run.
  bool Synchronize(const std::function<void()>& fn);
  // The path names a folder (a link to one counts).
  static bool FolderExists(const std::string& path);

  TEvent StopEvent{true};

 private:
  void Run();
  void Finish();

  std::thread thread_;
};

// GUI thread: stops every watcher still running, then processes the GUI
// thread's events (pending synchronised calls and end-of-thread notifications)
// until every watcher thread has ended and its object is freed.
void WaitForWatcherThreads();
// Watchers created and not yet freed.
int LiveWatcherThreads();
