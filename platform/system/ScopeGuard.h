#pragma once
// Undoing on every way out of a scope: a return, an exception, the end.
// Objects that frame work (updates stopped, watching suspended, a selection
// being changed) restore their state through this, not through catch blocks.
#include <utility>

template <class Undo>
class [[nodiscard]] ScopeGuard {
 public:
  explicit ScopeGuard(Undo undo) : undo_(std::move(undo)) {}
  ~ScopeGuard() {
    if (armed_) undo_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  // The work succeeded and keeps its effect.
  void Dismiss() { armed_ = false; }

 private:
  Undo undo_;
  bool armed_ = true;
};

// Does begin now and end when the scope is left, however it is left.
template <class Begin, class End>
[[nodiscard]] ScopeGuard<End> BeginEnd(Begin&& begin, End end) {
  begin();
  return ScopeGuard<End>(std::move(end));
}
