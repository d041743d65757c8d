#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/system/SyncCall.h"
#include "platform/system/WaitObjects.h"

namespace {

// Processes the GUI thread's events until done is true.
void PumpUntil(const std::atomic<bool>& done) {
  for (int i = 0; i < 500 && !done; ++i) QTest::qWait(10);
}

}  // namespace

TEST(SyncCall, RunsOnTheGuiThreadWhileTheCallerWaits) {
  TEvent stop(true);
  QThread* guiThread = QCoreApplication::instance()->thread();
  std::atomic<QThread*> ranOn{nullptr};
  std::atomic<bool> finished{false};
  bool result = false;
  bool sawEffect = false;
  std::thread worker([&] {
    int value = 0;
    result = SyncCall(
        [&] {
          ranOn = QThread::currentThread();
          value = 42;
        },
        &stop);
    sawEffect = value == 42;  // the call returned only after the function ran
    finished = true;
  });
  PumpUntil(finished);
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(sawEffect);
  EXPECT_EQ(ranOn.load(), guiThread);

  // On the GUI thread the function runs at once.
  bool direct = false;
  EXPECT_TRUE(SyncCall([&] { direct = true; }, &stop));
  EXPECT_TRUE(direct);
  EXPECT_TRUE(IsGuiThread());

  // A failure comes back to the caller.
  finished = false;
  std::string caught;
  std::thread thrower([&] {
    try {
      SyncCall([] { throw std::runtime_error("boom"); }, nullptr);
    } catch (const std::exception& e) {
      caught = e.what();
    }
    finished = true;
  });
  PumpUntil(finished);
  thrower.join();
  EXPECT_EQ(caught, "boom");
}

TEST(SyncCall, StopBeforeTheCallBeginsAbandonsItForGood) {
  auto stop = std::make_unique<TEvent>(true);
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  bool result = true;
  std::thread worker([&] {
    result = SyncCall([&ran] { ran = true; }, stop.get());
    returned = true;
  });
  // The GUI thread does not process events: the call stays queued.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned);
  stop->Set();
  worker.join();
  EXPECT_FALSE(result);
  stop.reset();  // the caller's objects are gone when the queued call comes up
  QTest::qWait(50);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran) << "an abandoned call must never run";
}
