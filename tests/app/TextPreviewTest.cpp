// The text preview's reading of real files: encodings, the head of a large
// file, binary files, and files that are no files.
#include <QElapsedTimer>
#include <QStringList>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempDir.h"
#include "app/TextPreview.h"
#include "platform/system/Exception.h"

namespace {

// "日本語のテキスト表ソ" in each encoding: 表 and ソ end in 0x5C in Shift_JIS,
// the byte of a backslash.
const QString kJapanese = QString::fromUtf8("日本語のテキスト表ソ");
const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x95\x5c\x83\x5c";
const std::string kEuc = "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xc6\xa5\xad\xa5\xb9\xa5\xc8\xc9\xbd\xa5\xbd";
const std::string kUtf8 = "日本語のテキスト表ソ";

std::string Utf16(const QString& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (QChar c : text) {
    char hi = static_cast<char>(c.unicode() >> 8), lo = static_cast<char>(c.unicode() & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(TextPreviewTest, ReadsTheEncodingsOfJapaneseText) {
  TempDir dir;
  const QString expected = kJapanese + "\nabc\n" + kJapanese;
  struct Case {
    const char* name;
    std::string bytes;
    TTextEncoding encoding;
  } cases[] = {
      {"utf8.txt", kUtf8 + "\nabc\n" + kUtf8, TTextEncoding::Utf8},
      {"bom.txt", "\xEF\xBB\xBF" + kUtf8 + "\r\nabc\r\n" + kUtf8, TTextEncoding::Utf8},
      {"le.txt", Utf16(kJapanese + "\r\nabc\n" + kJapanese, false), TTextEncoding::Utf16LE},
      {"be.txt", Utf16(kJapanese + "\nabc\r" + kJapanese, true), TTextEncoding::Utf16BE},
      {"sjis.txt", kSjis + "\r\nabc\r\n" + kSjis, TTextEncoding::ShiftJis},
      {"euc.txt", kEuc + "\nabc\n" + kEuc, TTextEncoding::EucJp},
  };
  for (const Case& c : cases) {
    TTextPreview preview = LoadTextPreview(dir.file(c.name, c.bytes));
    EXPECT_EQ(preview.Text, expected) << c.name;
    EXPECT_EQ(preview.Encoding, c.encoding) << c.name;
    EXPECT_FALSE(preview.Cut) << c.name;
  }
  // Half-width katakana alone reads as Shift_JIS; plain ASCII as UTF-8.
  EXPECT_EQ(LoadTextPreview(dir.file("kana.txt", "\xB1\xB2\xB3 abc")).Text, QString::fromUtf8("ｱｲｳ abc"));
  EXPECT_EQ(DetectTextEncoding("plain ascii\n", false), TTextEncoding::Utf8);
  // CP932's own characters (the circled digit, NEC's row 13) are no loss.
  EXPECT_EQ(LoadTextPreview(dir.file("nec.txt", "\x87\x40\x87\x90")).Text, QString::fromUtf8("①≒"));
}

TEST(TextPreviewTest, ALargeFileShowsItsHeadWithANoteAndNoBrokenLastCharacter) {
  TempDir dir;
  // 7 bytes of ASCII, then Shift_JIS pairs: a limit of 10 cuts the second pair.
  std::string sjis = "abcdefg" + kSjis;
  TTextPreview head = LoadTextPreview(dir.file("cut.txt", sjis), 10);
  EXPECT_TRUE(head.Cut);
  EXPECT_EQ(head.Encoding, TTextEncoding::ShiftJis);
  EXPECT_TRUE(head.Text.startsWith(QString::fromUtf8("（ファイルが大きいため、先頭の 10 バイト")));
  EXPECT_TRUE(head.Text.endsWith("\nabcdefg" + QString::fromUtf8("日"))) << head.Text.toStdString();
  // The same for UTF-8 cut inside a three-byte character.
  TTextPreview utf8 = LoadTextPreview(dir.file("cut8.txt", "ab" + kUtf8), 6);
  EXPECT_TRUE(utf8.Text.endsWith("\nab" + QString::fromUtf8("日"))) << utf8.Text.toStdString();

  // The real limit: 8 MB of a 9 MB Shift_JIS file, in one piece of time.
  std::string big;
  big.reserve(9u << 20);
  while (big.size() < (9u << 20)) big += kSjis + "\r\n";
  const std::string path = dir.file("big.txt", big);
  QElapsedTimer clock;
  clock.start();
  TTextPreview preview = LoadTextPreview(path);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(preview.Cut);
  EXPECT_TRUE(preview.Text.startsWith(QString::fromUtf8("（ファイルが大きいため、先頭の 8 MB だけを表示しています）\n") + kJapanese + "\n"));
  EXPECT_FALSE(preview.Text.contains(QChar(0xFFFD)));
  // 22 bytes a line: the lines of 8 MB, the note, and the part of the last one.
  EXPECT_EQ(preview.Text.count('\n'), static_cast<qsizetype>(kTextPreviewLimit / 22 + 1));
}

TEST(TextPreviewTest, BinaryFilesAndLongLinesShowWithoutStalling) {
  TempDir dir;
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  TTextPreview binary = LoadTextPreview(dir.file("core.txt", data));
  EXPECT_EQ(binary.Encoding, TTextEncoding::Binary);
  EXPECT_TRUE(binary.Cut);
  const QStringList lines = binary.Text.split('\n', Qt::SkipEmptyParts);
  // The note, then 16 bytes a line for the first 64 KB.
  ASSERT_EQ(lines.size(), 1 + 4096);
  EXPECT_EQ(lines[1].toStdString(), "00000000  00 07 0e 15 1c 23 2a 31  38 3f 46 4d 54 5b 62 69  |.....#*18?FMT[bi|");
  EXPECT_TRUE(lines.last().startsWith("0000fff0"));

  // One line of 100,000 characters goes on in lines of 4,096.
  TTextPreview wide = LoadTextPreview(dir.file("wide.txt", std::string(100000, 'x') + "\nend"));
  const QStringList pieces = wide.Text.split('\n');
  ASSERT_EQ(pieces.size(), 100000 / 4096 + 2);
  EXPECT_EQ(pieces[0].size(), 4096);
  EXPECT_EQ(pieces.last(), "end");
}

TEST(TextPreviewTest, WhatCannotBeReadIsAnErrorAndAPipeIsNeverWaitedOn) {
  TempDir dir;
  const std::string fifo = dir / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  QElapsedTimer clock;
  clock.start();
  EXPECT_THROW(LoadTextPreview(fifo), Exception);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_THROW(LoadTextPreview(dir / "missing.txt"), Exception);
  EXPECT_THROW(LoadTextPreview(dir.path()), Exception);
  EXPECT_EQ(LoadTextPreview(dir.file("empty.txt")).Text, QString());
}

}  // namespace
