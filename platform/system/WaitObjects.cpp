#include "platform/system/WaitObjects.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

TEvent::TEvent(bool manualReset, bool initialState) : manual_(manualReset) {
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (initialState) Set();
}

TEvent::~TEvent() {
  if (fd_ >= 0) close(fd_);
}

void TEvent::Set() {
  if (fd_ < 0) return;
  sets_.fetch_add(1, std::memory_order_release);
  uint64_t one = 1;
  // Only fails when the counter is saturated, which still leaves it signalled.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEvent::Reset() {
  if (fd_ < 0) return;
  uint64_t value;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEvent::IsSet() const {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) return false;
  sets_.load(std::memory_order_acquire);
  return true;
}

bool TEvent::TryAcquire() {
  if (manual_) return IsSet();
  // Reading the counter resets it; of several waiters only one read succeeds.
  uint64_t value;
  for (;;) {
    if (read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
      sets_.load(std::memory_order_acquire);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

uint32_t WaitForMultipleObjects(const std::vector<TWaitHandle*>& handles, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  if (handles.empty()) return WAIT_FAILED;
  std::vector<pollfd> fds(handles.size());
  for (size_t i = 0; i < handles.size(); ++i) {
    if (!handles[i] || handles[i]->PollFd() < 0) return WAIT_FAILED;
    fds[i] = pollfd{handles[i]->PollFd(), POLLIN, 0};
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // A readable descriptor is only a hint: a change notification may have read
    // events that do not match its filter, so ask each object in index order.
    for (size_t i = 0; i < handles.size(); ++i) {
      if (handles[i]->TryAcquire()) return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
    }
    int waitMs = -1;
    if (timeoutMs != INFINITE) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WAIT_TIMEOUT;
      waitMs = static_cast<int>(left);
    }
    for (auto& p : fds) p.revents = 0;
    int n = poll(fds.data(), fds.size(), waitMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WAIT_FAILED;
    }
    for (const auto& p : fds) {
      if (p.revents & (POLLERR | POLLNVAL)) return WAIT_FAILED;
    }
    if (n == 0 && timeoutMs != INFINITE && Clock::now() >= deadline) {
      // One last look, so a signal that arrives with the deadline is not lost.
      for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i]->TryAcquire()) return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
      }
      return WAIT_TIMEOUT;
    }
  }
}

uint32_t WaitForSingleObject(TWaitHandle* handle, uint32_t timeoutMs) {
  return WaitForMultipleObjects({handle}, timeoutMs);
}
