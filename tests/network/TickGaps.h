#pragma once
// The longest time the window's thread went without running a timer: what a
// user feels as a frozen window.
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

class TickGaps {
 public:
  TickGaps() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = std::max(longest_, clock_.restart()); });
    clock_.start();
    timer_.start(10);
  }
  qint64 Longest() const { return std::max(longest_, clock_.elapsed()); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

// The longest gap the network tests allow.
constexpr qint64 kLongestGapMs = 300;
