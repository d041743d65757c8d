// The text view on real files: encodings and their override, files of any
// size scrolled to their end, selection and copying, binary files, files
// that are no files, and loading that never holds up the window.
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "TempDir.h"
#include "app/TextView.h"
#include "platform/system/Exception.h"

namespace {

// "日本語のテキスト表ソ" in each encoding: 表 and ソ end in 0x5C in Shift_JIS,
// the byte of a backslash.
const QString kJapanese = QString::fromUtf8("日本語のテキスト表ソ");
const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x95\x5c\x83\x5c";
const std::string kEuc = "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xc6\xa5\xad\xa5\xb9\xa5\xc8\xc9\xbd\xa5\xbd";
const std::string kJis = "\x1b$BF|K\\8l$N%F%-%9%HI=%=\x1b(B";
const std::string kUtf8 = "日本語のテキスト表ソ";

std::string Utf16(const QString& text, bool bigEndian, bool mark) {
  std::string out = !mark ? "" : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (QChar c : text) {
    char hi = static_cast<char>(c.unicode() >> 8), lo = static_cast<char>(c.unicode() & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

class TextViewTest : public ::testing::Test {
 protected:
  TextViewTest() {
    view.resize(600, 400);
    view.show();
  }
  // Waits until the file is indexed and its screen painted.
  bool Settle(int ms = 10000) {
    return QTest::qWaitFor(
        [&] {
          view.viewport()->repaint();
          return view.Settled();
        },
        ms);
  }
  QString Shown(const std::string& path) {
    view.Open(path);
    EXPECT_TRUE(Settle()) << path;
    return view.ShownRows().join('\n');
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&view, static_cast<Qt::Key>(key), modifiers);
    Settle();
  }
  QString Clipboard() { return QApplication::clipboard()->text(); }
  bool CopyAndWait(const QString& before = "\x01") {
    QApplication::clipboard()->setText(before);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    return QTest::qWaitFor([&] { return Clipboard() != before; }, 5000);
  }

  TempDir dir;
  TTextView view;
};

TEST_F(TextViewTest, ReadsTheEncodingsAJapaneseUserMeets) {
  const QString expected = kJapanese + "\nabc\n" + kJapanese;
  const QString latin = QString::fromUtf8("Déjà vu: the café served crème brûlée to a naïve señor, “quoted”.");
  struct Case {
    const char* name;
    std::string bytes;
    TTextEncoding encoding;
    QString text;
  } cases[] = {
      {"utf8.txt", kUtf8 + "\nabc\n" + kUtf8, TTextEncoding::Utf8, expected},
      {"bom.txt", "\xEF\xBB\xBF" + kUtf8 + "\r\nabc\r\n" + kUtf8, TTextEncoding::Utf8, expected},
      {"le.txt", Utf16(kJapanese + "\r\nabc\n" + kJapanese, false, true), TTextEncoding::Utf16LE, expected},
      {"be.txt", Utf16(kJapanese + "\nabc\r" + kJapanese, true, true), TTextEncoding::Utf16BE, expected},
      // Without a mark, and with NUL bytes that are no sign of binary data here.
      {"le-nomark.txt", Utf16(kJapanese + "\r\nabc\n" + kJapanese, false, false), TTextEncoding::Utf16LE, expected},
      {"be-nomark.txt", Utf16(kJapanese + "\nabc\n" + kJapanese, true, false), TTextEncoding::Utf16BE, expected},
      {"sjis.txt", kSjis + "\r\nabc\r\n" + kSjis, TTextEncoding::ShiftJis, expected},
      {"euc.txt", kEuc + "\nabc\n" + kEuc, TTextEncoding::EucJp, expected},
      {"jis.txt", kJis + "\nabc\n" + kJis, TTextEncoding::Iso2022Jp, expected},
      {"latin1.txt",
       "D\xE9j\xE0 vu: the caf\xE9 served cr\xE8me br\xFBl\xE9"
       "e to a na\xEFve se\xF1or, \x93quoted\x94.",
       TTextEncoding::Latin1, latin},
      // CP932's own characters (the circled digit, NEC's row 13) are no loss.
      {"nec.txt", "\x87\x40\x87\x90", TTextEncoding::ShiftJis, QString::fromUtf8("①≒")},
      {"ascii.txt", "plain ascii\n", TTextEncoding::Utf8, "plain ascii"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(dir.file(c.name, c.bytes)), c.text) << c.name;
    EXPECT_EQ(view.Encoding(), c.encoding) << c.name;
  }
  // Invalid bytes show as U+FFFD, never as a character of some other encoding.
  EXPECT_EQ(Shown(dir.file("broken8.txt", kUtf8 + "\xFF abc \xC3(\n" + kUtf8 + kUtf8 + kUtf8)),
            kJapanese + QChar(0xFFFD) + " abc " + QChar(0xFFFD) + "(\n" + kJapanese + kJapanese + kJapanese);
  EXPECT_EQ(view.Encoding(), TTextEncoding::Utf8);
  EXPECT_EQ(Shown(dir.file("brokensjis.txt", kSjis + "\x85\x40" + kSjis + "\n" + kSjis)),
            kJapanese + QChar(0xFFFD) + kJapanese + "\n" + kJapanese);
  EXPECT_EQ(Shown(dir.file("empty.txt")), QString());
}

TEST_F(TextViewTest, TheEncodingIsChosenFromTheContextMenu) {
  const std::string path = dir.file("sjis.txt", kSjis + "\n" + kSjis);
  ASSERT_EQ(Shown(path), kJapanese + "\n" + kJapanese);
  auto choose = [&](const QString& label) {
    std::unique_ptr<QMenu> menu(view.CreateContextMenu());
    QMenu* encodings = nullptr;
    for (QAction* action : menu->actions())
      if (action->menu() && action->text() == "文字コード(&E)") encodings = action->menu();
    if (!encodings) return false;
    for (QAction* action : encodings->actions()) {
      if (action->text() == label) {
        EXPECT_FALSE(action->isChecked()) << label.toStdString();
        action->trigger();
        return Settle();
      }
    }
    return false;
  };
  ASSERT_TRUE(choose(EncodingLabel(TTextEncoding::Latin1)));
  EXPECT_EQ(view.Encoding(), TTextEncoding::Latin1);
  // A byte a character, the first (0x93) a quotation mark in Windows' Latin-1.
  EXPECT_EQ(view.ShownRows().value(0).size(), qsizetype(kSjis.size()));
  EXPECT_TRUE(view.ShownRows().value(0).startsWith(QChar(0x201C)));
  ASSERT_TRUE(choose(EncodingLabel(TTextEncoding::Binary)));
  EXPECT_TRUE(view.ShownRows().value(1).startsWith("00000000  93 fa 96 7b"));
  // The override reads the file that was opened, even when its name now points elsewhere.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  dir.file("sjis.txt", "other");
  ASSERT_TRUE(choose("自動判別(&A)"));
  EXPECT_EQ(view.Encoding(), TTextEncoding::ShiftJis);
  EXPECT_EQ(view.ShownRows().join('\n'), kJapanese + "\n" + kJapanese);
}

TEST_F(TextViewTest, EightMegabytesOfLineEndsOpenFastInLittleMemory) {
  const std::string path = dir.file("lf.txt", std::string(8u << 20, '\n'));
  const long before = ResidentKb();
  QElapsedTimer clock;
  clock.start();
  view.Open(path);
  ASSERT_TRUE(Settle());
  // Well under a second alone; the tests run beside other work.
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_EQ(view.RowCount(), int64_t{8} << 20);
  EXPECT_LT(ResidentKb() - before, 64 * 1024);
  Key(Qt::Key_End);
  EXPECT_EQ(view.Top().row + view.ShownRows().size(), int64_t{8} << 20);
}

TEST_F(TextViewTest, ALargeFileScrollsToItsLastLineWithTheKeysAndTheWheel) {
  std::string text;
  int lines = 0;
  while (text.size() < (12u << 20)) text += "line " + std::to_string(++lines) + " of the log\n";
  view.Open(dir.file("big.log", text));
  ASSERT_TRUE(Settle());
  ASSERT_EQ(view.RowCount(), lines);
  const int page = view.ShownRows().size();
  ASSERT_GT(page, 5);
  EXPECT_EQ(view.ShownRows().first(), "line 1 of the log");
  Key(Qt::Key_End);
  EXPECT_EQ(view.ShownRows().last(), QString("line %1 of the log").arg(lines));
  EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  Key(Qt::Key_Home);
  EXPECT_EQ(view.Top().row, 0);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(view.Top().row, 2);
  Key(Qt::Key_Up);
  EXPECT_EQ(view.Top().row, 1);
  Key(Qt::Key_PageDown);
  // A page is what the screen shows less a line kept (and the one cut at the bottom).
  EXPECT_GE(view.Top().row, 1 + page - 3);
  EXPECT_LE(view.Top().row, 1 + page - 1);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(view.Top().row, 1);
  QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120), Qt::NoButton, {},
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(view.viewport(), &wheel);
  EXPECT_EQ(view.Top().row, 1 + QApplication::wheelScrollLines());
  // The scroll bar reaches the end too, and the middle of the file.
  view.verticalScrollBar()->setValue(lines / 2);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(view.ShownRows().first(), QString("line %1 of the log").arg(lines / 2 + 1));
}

TEST_F(TextViewTest, LongLinesGoOnInRowsThatWrapAndCopyBackWhole) {
  // One 100 KB line of three-byte characters: no row boundary parts a character.
  std::string line;
  while (line.size() < 100000) line += kUtf8;
  const QString whole = QString::fromStdString(line);
  view.Open(dir.file("wide.txt", line + "\nend"));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(view.RowCount(), int64_t((line.size() + kRowBytes - 1) / kRowBytes) + 1);
  EXPECT_FALSE(view.ShownRows().join("").contains(QChar(0xFFFD)));
  // A row wraps at the view's width: the first one fills the screen.
  EXPECT_EQ(view.ShownRows().size(), 1);
  view.SelectAll();
  ASSERT_TRUE(CopyAndWait());
  EXPECT_EQ(Clipboard(), whole + "\nend");
  // Shift_JIS walks its pairs to cut the same way.
  std::string sjis = "a";
  while (sjis.size() < 3 * kRowBytes) sjis += kSjis;
  view.Open(dir.file("wide-sjis.txt", sjis));
  ASSERT_TRUE(Settle());
  view.SelectAll();
  ASSERT_TRUE(CopyAndWait());
  EXPECT_FALSE(Clipboard().contains(QChar(0xFFFD)));
  EXPECT_EQ(Clipboard().size(), qsizetype(1 + (sjis.size() - 1) / 2));
}

TEST_F(TextViewTest, TheMouseSelectsAndTheKeysCopy) {
  view.Open(dir.file("words.txt", "alpha beta gamma\r\ndelta epsilon\nzeta\n"));
  ASSERT_TRUE(Settle());
  const int lineHeight = view.fontMetrics().lineSpacing();
  // From the start of the first row to past the end of the second.
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(2, 6));
  QTest::mouseMove(view.viewport(), QPoint(590, 6 + lineHeight + lineHeight / 2));
  QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(590, 6 + lineHeight + lineHeight / 2));
  ASSERT_TRUE(view.HasSelection());
  ASSERT_TRUE(CopyAndWait());
  EXPECT_EQ(Clipboard(), "alpha beta gamma\ndelta epsilon");
  // A double click takes a word; the context menu copies it.
  const int x = view.fontMetrics().horizontalAdvance("alpha be") + 4;
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(x, 6));
  QApplication::clipboard()->setText("-");
  std::unique_ptr<QMenu> menu(view.CreateContextMenu());
  ASSERT_EQ(menu->actions().value(0)->text(), "コピー(&C)");
  ASSERT_TRUE(menu->actions().value(0)->isEnabled());
  menu->actions().value(0)->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Clipboard() != "-"; }, 5000));
  EXPECT_EQ(Clipboard(), "beta");
  // Select all with the keys, and nothing typed changes the text.
  QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(&view, "xyz");
  ASSERT_TRUE(CopyAndWait());
  EXPECT_EQ(Clipboard(), "alpha beta gamma\ndelta epsilon\nzeta");
}

TEST_F(TextViewTest, BinaryFilesShowAHexDumpOfTheirHead) {
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  view.Open(dir.file("core.txt", data));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(view.Encoding(), TTextEncoding::Binary);
  // The note, then 16 bytes a row for the first 64 KB.
  ASSERT_EQ(view.RowCount(), 1 + 4096);
  EXPECT_EQ(view.ShownRows().value(0),
            QString::fromUtf8("（バイナリファイルのため、先頭の 64 KB を 16 進数で表示しています）"));
  EXPECT_EQ(view.ShownRows().value(1),
            "00000000  00 07 0e 15 1c 23 2a 31  38 3f 46 4d 54 5b 62 69  |.....#*18?FMT[bi|");
  Key(Qt::Key_End);
  EXPECT_TRUE(view.ShownRows().last().startsWith("0000fff0"));
}

TEST_F(TextViewTest, WhatCannotBeReadIsAnErrorAndAPipeIsNeverWaitedOn) {
  const std::string shown = dir.file("shown.txt", "still here");
  ASSERT_EQ(Shown(shown), "still here");
  const std::string fifo = dir / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  QElapsedTimer clock;
  clock.start();
  EXPECT_THROW(view.Open(fifo), Exception);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_THROW(view.Open(dir / "missing.txt"), Exception);
  EXPECT_THROW(view.Open(dir.path()), Exception);
  // A file that failed leaves the shown one as it was.
  EXPECT_EQ(view.Path(), shown);
  EXPECT_EQ(view.ShownRows().join('\n'), "still here");
}

TEST_F(TextViewTest, LoadingRunsOffTheWindowsThreadAndTheNewestFileWins) {
  // 16 GB that take no disk: a text head, then a hole the worker reads as rows of NULs.
  const std::string big = dir / "huge.log";
  std::string head;
  while (head.size() < 2 * kDetectSample) head += "a line of the log\n";
  dir.file("huge.log", head);
  ASSERT_EQ(::truncate(big.c_str(), off_t{16} << 30), 0);
  QElapsedTimer clock;
  clock.start();
  view.Open(big);
  EXPECT_LT(clock.elapsed(), 200);
  // The window's timers keep their time while the index is built.
  QElapsedTimer gap;
  qint64 worst = 0;
  int ticks = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (ticks++ > 0) worst = std::max(worst, gap.elapsed());
    gap.restart();
  });
  gap.start();
  timer.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view.ShownRows().value(0) == "a line of the log"; }, 3000));
  QTest::qWait(600);
  timer.stop();
  // Loose bounds: the tests share a busy machine.
  EXPECT_GT(ticks, 5);
  EXPECT_LT(worst, 300);
  const int64_t rowsThen = view.RowCount();
  EXPECT_GT(rowsThen, 0);
  ASSERT_FALSE(view.Indexed()) << "the machine indexed 16 GB in well under a second";

  // A newer file: its text comes at once, the huge one's load stops.
  clock.restart();
  view.Open(dir.file("small.txt", "the newest file"));
  ASSERT_TRUE(Settle(3000));
  EXPECT_LT(clock.elapsed(), 1500);
  EXPECT_EQ(view.ShownRows(), QStringList{"the newest file"});
  EXPECT_EQ(view.RowCount(), 1);
}

}  // namespace
