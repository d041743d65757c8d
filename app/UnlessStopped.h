#pragma once
// Runs call on a thread of its own and waits for it until stop turns true: a
// server that stalls holds a call through its FUSE path for good, and the
// thread that waits must still end on Esc. A call left behind ends when the
// server answers or goes.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

template <class T>
std::optional<T> UnlessStopped(std::function<T()> call, const std::atomic<bool>& stop) {
  struct State {
    std::mutex lock;
    std::condition_variable done;
    std::optional<T> value;
  };
  auto state = std::make_shared<State>();
  std::thread([state, call = std::move(call)] {
    T value = call();
    std::lock_guard<std::mutex> guard(state->lock);
    state->value = std::move(value);
    state->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> guard(state->lock);
  while (!state->value && !stop) state->done.wait_for(guard, std::chrono::milliseconds(50));
  return std::move(state->value);
}
