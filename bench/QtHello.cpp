// The reference for the start-up benchmark: the smallest Qt Widgets program
// with a window, reporting its first paint as Tolvane does.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      QTimer::singleShot(0, [] {
        std::fputs("first-paint\n", stdout);
        std::fflush(stdout);
        QApplication::quit();
      });
    }
    return false;
  }

 private:
  bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel window("Hello");
  window.resize(696, 467);
  FirstPaint spy;
  window.installEventFilter(&spy);
  window.show();
  return app.exec();
}
