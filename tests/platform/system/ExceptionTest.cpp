#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QElapsedTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/system/Exception.h"

namespace {

// Captures what would be shown, and on which thread.
class Captured {
 public:
  Captured() {
    SetExceptionDisplay([this](const std::string& m) {
      messages.push_back(m);
      threads.push_back(QThread::currentThread());
    });
  }
  ~Captured() { SetExceptionDisplay({}); }
  std::vector<std::string> messages;
  std::vector<QThread*> threads;
};

}  // namespace

TEST(Exception, GuardShowsAndSwallowsEverything) {
  Captured shown;
  bool after = false;
  Guarded([&] {
    throw EInvalidOperation();
    after = true;
  });
  Guarded([] { throw Exception("書庫が壊れています。"); });
  Guarded([] { throw std::runtime_error("plain"); });
  Guarded([] { throw 42; });
  Guarded([] { throw Exception(""); });
  int ran = 0;
  Guarded([&] { ++ran; });

  EXPECT_FALSE(after);
  EXPECT_EQ(ran, 1);
  ASSERT_EQ(shown.messages.size(), 5u);
  EXPECT_EQ(shown.messages[0], "パラメータが不正です。");
  EXPECT_EQ(shown.messages[1], "書庫が壊れています。");
  EXPECT_EQ(shown.messages[2], "plain");
  EXPECT_EQ(shown.messages[3], kUnknownExceptionMessage);
  EXPECT_EQ(shown.messages[4], kUnknownExceptionMessage);  // an empty message would show a blank box

  EInvalidOperation e("別の文");
  EXPECT_STREQ(e.what(), "別の文");
  const std::exception& base = e;
  EXPECT_EQ(std::string(base.what()), e.Message);
}

TEST(Exception, ShownOnTheGuiThreadWhileTheWorkerWaits) {
  Captured shown;
  std::atomic<bool> done{false};
  size_t seenByWorker = 0;
  std::thread worker([&] {
    Guarded([] { throw Exception("スレッドから"); });
    // Blocking: by the time the guard returns, the message has been shown.
    seenByWorker = shown.messages.size();
    done = true;
  });
  QElapsedTimer timer;
  timer.start();
  while (!done && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(seenByWorker, 1u);
  ASSERT_EQ(shown.messages.size(), 1u);
  EXPECT_EQ(shown.messages[0], "スレッドから");
  EXPECT_EQ(shown.threads[0], QCoreApplication::instance()->thread());
}

TEST(Exception, AThrowingDisplayDoesNotEscape) {
  SetExceptionDisplay([](const std::string&) { throw std::runtime_error("display broke"); });
  EXPECT_NO_THROW(Guarded([] { throw Exception("x"); }));
  SetExceptionDisplay({});
}
