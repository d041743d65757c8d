#pragma once
// The synchronised call of a worker thread: a function runs on the GUI thread
// (the thread of the application object) while the worker waits for it.
#include <functional>

class TEvent;

// Runs fn on the GUI thread and returns once it has run; on the GUI thread
// itself fn runs at once. The wait also watches stopEvent (may be null): when
// it is signalled before fn has begun, the call is abandoned, fn never runs and
// false comes back; a GUI thread that is stopping the worker therefore never
// deadlocks with it. Once fn has begun, the call waits for its end, so fn may
// use the caller's objects. What fn throws is thrown again in the caller.
// Without an application object nothing runs and false comes back.
bool SyncCall(const std::function<void()>& fn, TEvent* stopEvent);

// True on the application object's thread.
bool IsGuiThread();
