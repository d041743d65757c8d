#pragma once
// Waits for ready while the window's events go on: a server answers in its own
// time, and the window must keep turning meanwhile.
#include <QTest>

template <class F>
bool WaitUntil(F ready, int ms = 60000) {
  for (int waited = 0; waited < ms && !ready(); waited += 20) QTest::qWait(20);
  return ready();
}
