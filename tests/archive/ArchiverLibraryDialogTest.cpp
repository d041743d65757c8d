// With a window to own them, the libraries ask before replacing a file and show their
// errors in Qt dialogs of their own (offscreen here, answered by the test).
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "ArchiverLibraryFixture.h"

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Answers each question with the button labelled `answer`, and closes each other message.
class Answerer {
 public:
  explicit Answerer(const QString& answer) : answer_(answer) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (box->text().contains(QStringLiteral("置き換えますか"))) {
        ++questions;
        lastQuestion = box->text();
        for (QAbstractButton* b : box->buttons())
          if (b->text() == answer_) b->click();
      } else {
        ++otherMessages;
        lastMessage = box->text();
        box->accept();
      }
    });
    timer_.start(30);
  }
  int questions = 0;
  int otherMessages = 0;
  QString lastMessage, lastQuestion;

 private:
  QString answer_;
  QTimer timer_;
};

}  // namespace

TEST(ArchiverLibraryDialog, TheUserIsAskedBeforeAFileIsReplaced) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "new"}, {"src/b.txt", "new b"}});
  ASSERT_TRUE(Shell(t.path(), "cd src && zip -q ../a.zip a.txt b.txt"));
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, &parent};
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  const std::string line = "-x  " + Quote(t / "a.zip") + " " + Quote(t / "out/");
  t.dir("out");
  t.file("out/a.txt", "older");
  {
    Answerer no(QStringLiteral("いいえ"));
    EXPECT_EQ(zip.Run(line, &window), 0) << zip.output();
    EXPECT_EQ(no.questions, 1);
    EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "older");
    // Where the file is, and how it compares with the entry.
    const std::string asked = no.lastQuestion.toStdString();
    EXPECT_NE(asked.find(t / "out/a.txt"), std::string::npos) << asked;
    EXPECT_NE(asked.find("既にあるファイル: 5 バイト、"), std::string::npos) << asked;
    EXPECT_NE(asked.find("書庫の中のファイル: 3 バイト、"), std::string::npos) << asked;
  }
  {
    t.file("out/b.txt", "old b");
    Answerer yesAll(QStringLiteral("すべてはい"));
    EXPECT_EQ(zip.Run(line, &window), 0) << zip.output();
    EXPECT_EQ(yesAll.questions, 1);  // all: the second file is not asked about
    EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "new");
    EXPECT_EQ(ReadWholeFile(t / "out/b.txt"), "new b");
  }
  {
    Answerer cancel(QStringLiteral("中止"));
    EXPECT_EQ(zip.Run(line, &window), ARC_ERROR_USER_CANCEL);
    EXPECT_EQ(cancel.questions, 1);
    EXPECT_EQ(cancel.otherMessages, 0);
  }
  {
    // A switch that says to replace asks nothing.
    Answerer none(QStringLiteral("いいえ"));
    t.file("out/a.txt", "old");
    EXPECT_EQ(zip.Run("-x -o  " + Quote(t / "a.zip") + " " + Quote(t / "out/"), &window), 0);
    EXPECT_EQ(none.questions, 0);
    EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "new");
  }
}

TEST(ArchiverLibraryDialog, ErrorsAreShownUnlessASwitchAsksForSilence) {
  TempDir t;
  t.file("broken.zip", "PK\x03\x04 not really");
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, &parent};
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  {
    Answerer answerer(QStringLiteral("はい"));
    EXPECT_NE(zip.Run("-x  " + Quote(t / "broken.zip") + " " + Quote(t / "out/"), &window), 0);
    EXPECT_EQ(answerer.otherMessages, 1);
    EXPECT_TRUE(answerer.lastMessage.contains(QStringLiteral("broken.zip")));
  }
  {
    // "--i": the program's switch for no dialogs.
    Answerer answerer(QStringLiteral("はい"));
    EXPECT_NE(zip.Run("-x --i  " + Quote(t / "broken.zip") + " " + Quote(t / "out/"), &window), 0);
    EXPECT_EQ(answerer.otherMessages, 0);
  }
}
