#pragma once
// platform/system: stands in for kernel objects, change notifications, library
// loading and the exception display. The bottom layer: it uses no other
// folder of platform/ and Qt Core alone, and knows nothing of folders or files
// beyond what a single call needs.
//
// Event objects and the wait over several of them. An event is an eventfd; a
// wait is one poll over the descriptors of every object it names. Change
// notifications (ChangeNotification.h) are waitable objects too.
#include <atomic>
#include <cstdint>
#include <vector>

constexpr uint32_t INFINITE = 0xFFFFFFFFu;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// Something a thread can wait for.
class TWaitHandle {
 public:
  virtual ~TWaitHandle() = default;
  // The descriptor that becomes readable when the object may have become
  // signalled; -1 when the object is unusable.
  virtual int PollFd() const = 0;
  // True when the object is signalled now. An object that resets itself on a
  // successful wait (an auto-reset event) is consumed by a true answer.
  virtual bool TryAcquire() = 0;
};

class TEvent : public TWaitHandle {
 public:
  // A manual-reset event stays signalled until Reset; an auto-reset event is
  // reset by the one wait that reports it.
  explicit TEvent(bool manualReset, bool initialState = false);
  ~TEvent() override;
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  // Signalled now; never consumes the event.
  bool IsSet() const;

  int PollFd() const override { return fd_; }
  bool TryAcquire() override;

 private:
  int fd_ = -1;
  bool manual_;
  // Orders what the setter wrote before Set() ahead of what the waiter reads
  // after the wait; a system call alone promises no such thing to the compiler.
  std::atomic<unsigned> sets_{0};
};

// Waits until one of the handles is signalled and returns WAIT_OBJECT_0 plus its
// index; when several are, the lowest index wins. WAIT_TIMEOUT after timeoutMs
// (INFINITE waits without limit); WAIT_FAILED for a null or unusable handle or
// a failed poll. Unlike the 64-handle limit of the desktop original, any number
// of handles may be given.
uint32_t WaitForMultipleObjects(const std::vector<TWaitHandle*>& handles, uint32_t timeoutMs);
uint32_t WaitForSingleObject(TWaitHandle* handle, uint32_t timeoutMs);
