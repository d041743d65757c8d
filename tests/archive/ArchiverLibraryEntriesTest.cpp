// Entries that used to stop or spoil an extraction: names that do not decode, names the file
// system refuses, folders without rights, checksums, passwords, the archive's own name,
// archives larger than the free space, and what a killed extraction left behind.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <set>

#include "ArchiverLibraryFixture.h"
#include "TestData.h"

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string ZipLine(const std::string& archive, const std::string& dest, const std::string& switches = "") {
  return "-x " + switches + " " + Quote(archive) + " " + Quote(dest + "/");
}

// Types the given passwords one per question, and answers message boxes with a button text.
class DialogAnswerer {
 public:
  DialogAnswerer(std::vector<QString> passwords, QString button) : passwords_(std::move(passwords)), button_(button) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (auto* input = qobject_cast<QInputDialog*>(w)) {
        labels.push_back(input->labelText());
        if (passwords_.empty()) {
          input->reject();
          return;
        }
        input->setTextValue(passwords_.front());
        passwords_.erase(passwords_.begin());
        input->accept();
      } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
        labels.push_back(box->text());
        for (QAbstractButton* b : box->buttons())
          if (b->text() == button_) b->click();
        if (box->isVisible()) box->accept();
      }
    });
    timer_.start(30);
  }
  std::vector<QString> labels;

 private:
  std::vector<QString> passwords_;
  QString button_;
  QTimer timer_;
};

}  // namespace

TEST(ArchiverLibraryEntries, NamesThatDoNotDecodeStayDistinctAndEucJpIsRead) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import tarfile, zipfile, io
with zipfile.ZipFile("raw.zip", "w") as zf:
    for n in ("Q.txt", "R.txt", "S.txt"): zf.writestr(n, "content " + n[0])
raw = open("raw.zip", "rb").read()
for n, b in ((b"Q.txt", b"\xfd.txt"), (b"R.txt", b"\xfe.txt"), (b"S.txt", b"\xff.txt")):
    raw = raw.replace(n, b)
open("raw.zip", "wb").write(raw)
with zipfile.ZipFile("flag.zip", "w") as zf:
    zi = zipfile.ZipInfo("XY.txt"); zi.flag_bits |= 0x800
    zf.writestr(zi, "hyou")
    zf.writestr("ok.txt", "ok")
flag = open("flag.zip", "rb").read().replace(b"XY.txt", b"\x95\x5c.txt")
open("flag.zip", "wb").write(flag)
def add(tf, name, data):
    ti = tarfile.TarInfo(name); ti.size = len(data); tf.addfile(ti, io.BytesIO(data))
with tarfile.open("euc.tar", "w", format=tarfile.GNU_FORMAT, encoding="euc-jp") as tf:
    add(tf, "日本語.txt", b"euc")
    add(tf, "フォルダ/表示.txt", b"euc2")
)"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip"), tar("TAR32.so", "Tar");
  EXPECT_EQ(zip.Run(ZipLine(t / "raw.zip", t / "z")), 0) << zip.output();
  EXPECT_EQ(TreeOf(t / "z"), (std::vector<std::string>{"\xfd.txt", "\xfe.txt", "\xff.txt"}));
  EXPECT_EQ(ReadWholeFile(t / "z/\xfe.txt"), "content R");
  std::vector<std::string> listed = Names(zip.List(t / "raw.zip"));
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), 3u);

  // Flagged as UTF-8 but stored in CP932, with a trail byte 0x5C: read as CP932.
  EXPECT_EQ(zip.Run(ZipLine(t / "flag.zip", t / "f")), 0) << zip.output();
  EXPECT_EQ(ReadWholeFile(t / "f/表.txt"), "hyou");
  EXPECT_EQ(tar.Run("x -f " + Quote(t / "euc.tar") + " -o " + Quote(t / "e/")), 0) << tar.output();
  EXPECT_EQ(ReadWholeFile(t / "e/日本語.txt"), "euc");
  EXPECT_EQ(ReadWholeFile(t / "e/フォルダ/表示.txt"), "euc2");
}

TEST(ArchiverLibraryEntries, AnEntryTheFileSystemRefusesIsSkippedAndTheRestExtracted) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import tarfile, io
def add(tf, name, data=b"x", kind=tarfile.REGTYPE, mode=0o644):
    ti = tarfile.TarInfo(name); ti.type = kind; ti.mode = mode
    ti.size = len(data) if kind == tarfile.REGTYPE else 0
    tf.addfile(ti, io.BytesIO(data) if kind == tarfile.REGTYPE else None)
with tarfile.open("rough.tar", "w", format=tarfile.GNU_FORMAT) as tf:
    add(tf, "first.txt", b"first")
    add(tf, "L" * 300 + ".txt")
    add(tf, "d/" * 2100 + "deep.txt")
    add(tf, "n/" * 2000 + "nested.txt", b"nested")
    add(tf, "clash", b"a file")
    add(tf, "clash", kind=tarfile.DIRTYPE)
    add(tf, "clash/inner.txt")
    add(tf, "locked", kind=tarfile.DIRTYPE, mode=0)
    add(tf, "locked/in.txt", b"in")
    add(tf, "last.txt", b"last")
)"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  EXPECT_EQ(tar.Run("x -f " + Quote(t / "rough.tar") + " -o " + Quote(t / "d/")), ARC_ERROR_WARNING);
  EXPECT_EQ(ReadWholeFile(t / "d/first.txt"), "first");
  EXPECT_EQ(ReadWholeFile(t / "d/last.txt"), "last");
  EXPECT_EQ(ReadWholeFile(t / "d/clash"), "a file");
  EXPECT_EQ(ReadWholeFile(t / "d/locked/in.txt"), "in");
  for (const char* said : {"LLLL", "deep.txt", "clash", "名前が長すぎます"})
    EXPECT_NE(tar.output().find(said), std::string::npos) << said << "\n" << tar.output();
  // A folder stored without rights still belongs to its owner.
  struct stat st {};
  ASSERT_EQ(stat((t / "d/locked").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IRWXU, static_cast<mode_t>(S_IRWXU));
  for (const auto& e : std::filesystem::directory_iterator(t / "d"))
    EXPECT_EQ(e.path().filename().string().find(".tvx-"), std::string::npos);
}

TEST(ArchiverLibraryEntries, AWrongChecksumKeepsTheDataAndTheArchiveItselfIsNeverReplaced) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import zipfile
with zipfile.ZipFile("crc.zip", "w", zipfile.ZIP_STORED) as zf:
    zf.writestr("hello.txt", "hello world")
    zf.writestr("other.txt", "other")
raw = open("crc.zip", "rb").read().replace(b"hello world", b"jello world")
open("crc.zip", "wb").write(raw)
with zipfile.ZipFile("self.zip", "w") as zf:
    zf.writestr("self.zip", "not the archive")
    zf.writestr("beside.txt", "beside")
)"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  EXPECT_EQ(zip.Run(ZipLine(t / "crc.zip", t / "c")), ARC_ERROR_FILE_CRC);
  EXPECT_EQ(ReadWholeFile(t / "c/hello.txt"), "jello world");
  EXPECT_EQ(ReadWholeFile(t / "c/other.txt"), "other");
  EXPECT_NE(zip.output().find("CRC"), std::string::npos) << zip.output();

  // Beside the archive, with the switch that replaces without asking.
  const std::string before = ReadWholeFile(t / "self.zip");
  EXPECT_EQ(zip.Run(ZipLine(t / "self.zip", t.path(), "-o")), ARC_ERROR_UNSAFE_PATH);
  EXPECT_EQ(ReadWholeFile(t / "self.zip"), before);
  EXPECT_EQ(ReadWholeFile(t / "beside.txt"), "beside");
  EXPECT_NE(zip.output().find("展開中の書庫"), std::string::npos) << zip.output();
}

TEST(ArchiverLibraryEntries, EncryptedEntriesAskForThePasswordAgainWhenItIsWrong) {
  TempDir t;
  MakeFiles(t, {{"src/secret.txt", "the secret"}});
  ASSERT_TRUE(Shell(t / "src", "zip -q -P right ../enc.zip secret.txt && 7zz a -bd -pright ../enc.7z secret.txt"));
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, &parent};
  ArchiverLibrary zip("UNZIP32.so", "UnZip"), sz("7-zip32.so", "SevenZip");
  {
    DialogAnswerer answers({"wrong", "right"}, "OK");
    EXPECT_EQ(zip.Run(ZipLine(t / "enc.zip", t / "z", "--i"), &window), 0) << zip.output();
    EXPECT_EQ(ReadWholeFile(t / "z/secret.txt"), "the secret");
    ASSERT_EQ(answers.labels.size(), 2u);
    EXPECT_FALSE(answers.labels[0].contains(QStringLiteral("パスワードが違います")));
    EXPECT_TRUE(answers.labels[1].contains(QStringLiteral("パスワードが違います")));
  }
  {
    DialogAnswerer answers({"wrong", "right"}, "OK");
    EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + t / "s/") + "  " + Quote(t / "enc.7z"), &window), 0) << sz.output();
    EXPECT_EQ(ReadWholeFile(t / "s/secret.txt"), "the secret");
    ASSERT_EQ(answers.labels.size(), 2u);
    EXPECT_TRUE(answers.labels[1].contains(QStringLiteral("パスワードが違います")));
  }
  {
    // A wrong password whose garbage the decoder takes: the file's CRC still refuses it.
    std::filesystem::copy_file(TestArchive("7z_wrong_key_decodes.7z"), t / "decodes.7z");
    DialogAnswerer answers({"wrong", "right"}, "OK");
    EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + t / "d/") + "  " + Quote(t / "decodes.7z"), &window), 0)
        << sz.output();
    EXPECT_EQ(ReadWholeFile(t / "d/secret.txt"), "the secret");
    ASSERT_EQ(answers.labels.size(), 2u);
    EXPECT_TRUE(answers.labels[1].contains(QStringLiteral("パスワードが違います")));
  }
  {
    // Names encrypted too: the password opens the list of entries as well.
    ASSERT_TRUE(Shell(t / "src", "7zz a -bd -pright -mhe=on ../names.7z secret.txt"));
    DialogAnswerer answers({"nope", "right"}, "OK");
    EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + t / "h/") + "  " + Quote(t / "names.7z"), &window), 0)
        << sz.output();
    EXPECT_EQ(ReadWholeFile(t / "h/secret.txt"), "the secret");
    ASSERT_EQ(answers.labels.size(), 2u);
    EXPECT_TRUE(answers.labels[1].contains(QStringLiteral("パスワードが違います")));
  }
  {
    // The password that opened an archive opens that file again without a question, so
    // listing it first and then extracting it asks once; a copy of it is another file.
    {
      DialogAnswerer answers({}, "OK");
      EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + t / "again/") + "  " + Quote(t / "names.7z"), &window), 0);
      EXPECT_EQ(ReadWholeFile(t / "again/secret.txt"), "the secret");
      EXPECT_TRUE(answers.labels.empty());
    }
    std::filesystem::copy_file(t / "names.7z", t / "listed.7z");
    DialogAnswerer once({"right"}, "OK");
    const auto listed = sz.List(t / "listed.7z", "*.*", &window);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_STREQ(listed[0].szFileName, "secret.txt");
    EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + t / "l/") + "  " + Quote(t / "listed.7z"), &window), 0);
    EXPECT_EQ(ReadWholeFile(t / "l/secret.txt"), "the secret");
    EXPECT_EQ(once.labels.size(), 1u);
    // Without a window nothing is asked and the names stay hidden.
    std::filesystem::copy_file(t / "names.7z", t / "unlisted.7z");
    EXPECT_TRUE(sz.List(t / "unlisted.7z").empty());
  }
  {
    std::filesystem::copy_file(t / "names.7z", t / "cancelled.7z");
    DialogAnswerer none({}, "OK");
    EXPECT_NE(sz.Run("x -aoa -hide " + Quote("-o" + t / "c/") + "  " + Quote(t / "cancelled.7z"), &window), 0);
    EXPECT_NE(sz.output().find("パスワードがないため"), std::string::npos) << sz.output();
    EXPECT_EQ(sz.output().find("壊れています"), std::string::npos) << sz.output();
    EXPECT_FALSE(Exists(t / "c/secret.txt"));
  }
  // Without a window there is no one to ask.
  EXPECT_NE(zip.Run(ZipLine(t / "enc.zip", t / "n")), 0);
  EXPECT_NE(zip.output().find("パスワード"), std::string::npos) << zip.output();
  EXPECT_FALSE(Exists(t / "n/secret.txt"));
}

// The layouts 7-Zip writes when it encrypts: solid and not, stored, several streams per
// file (a branch filter), names hidden, and files larger than the block the password is
// tried on. Every file must come out as it went in.
TEST(ArchiverLibraryEntries, EncryptedSevenZipLayoutsExtractWhole) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import os, random
os.makedirs("src/sub/深い", exist_ok=True)
r = random.Random(7)
open("src/big.bin", "wb").write(r.randbytes(3 << 19))
open("src/text.txt", "w").write("".join("行 %d\n" % i for i in range(50000)))
open("src/sub/深い/empty.txt", "w").close()
open("src/prog.exe", "wb").write(bytes([0xE8, 1, 2, 3, 4, 0x90] * 50000))
)"));
  const std::vector<std::string> layouts = {
      "-mhe=on", "-ms=off", "-mx0", "-mf=BCJ -m0=LZMA", "-m0=LZMA2 -mhe=on -mhc=off", "-mf=BCJ2"};
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, &parent};
  ArchiverLibrary sz("7-zip32.so", "SevenZip");
  for (size_t i = 0; i < layouts.size(); ++i) {
    SCOPED_TRACE(layouts[i]);
    const std::string archive = t / ("l" + std::to_string(i) + ".7z");
    const std::string out = t / ("o" + std::to_string(i));
    ASSERT_TRUE(Shell(t / "src", "7zz a -bd -p秘密 " + layouts[i] + " " + Quote(archive) + " . >/dev/null"));
    DialogAnswerer answers({"秘密"}, "OK");
    EXPECT_EQ(sz.Run("x -aoa -hide " + Quote("-o" + out + "/") + "  " + Quote(archive), &window), 0) << sz.output();
    EXPECT_EQ(answers.labels.size(), 1u);
    EXPECT_EQ(TreeOf(out), TreeOf(t / "src"));
    for (const char* f : {"big.bin", "text.txt", "prog.exe"})
      EXPECT_EQ(ReadWholeFile(out + "/" + f), ReadWholeFile(t / (std::string("src/") + f))) << f;
  }
  // Stored data cannot be tried before it is read: a wrong password shows as wrong
  // checksums, and no file is left under its name.
  std::filesystem::copy_file(t / "l2.7z", t / "w.7z");  // not the file the right one opened
  DialogAnswerer wrong({"誤り"}, "OK");
  EXPECT_NE(sz.Run("x -aoa -hide " + Quote("-o" + t / "w/") + "  " + Quote(t / "w.7z"), &window), 0);
  EXPECT_NE(sz.output().find("パスワードが違うか"), std::string::npos) << sz.output();
  EXPECT_FALSE(Exists(t / "w/big.bin"));
  EXPECT_TRUE(NoTempFiles(t / "w"));
}

TEST(ArchiverLibraryEntries, AnArchiveLargerThanTheFreeSpaceAsksFirst) {
  TempDir t;
  // A ZIP that declares 100 entries of almost 4 GiB each in its directory.
  ASSERT_TRUE(Python(t.path(), R"(
import zipfile, struct
with zipfile.ZipFile("bomb.zip", "w", zipfile.ZIP_DEFLATED) as zf:
    for i in range(100): zf.writestr("f%03d.bin" % i, b"\0" * 1000)
raw = bytearray(open("bomb.zip", "rb").read())
pos = raw.find(b"PK\x01\x02")
while pos >= 0:
    raw[pos + 24:pos + 28] = struct.pack("<I", 0xFFFFFFF0)
    pos = raw.find(b"PK\x01\x02", pos + 4)
open("bomb.zip", "wb").write(bytes(raw))
)"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  EXPECT_EQ(zip.Run(ZipLine(t / "bomb.zip", t / "quiet")), ARC_ERROR_DISK_SPACE);
  EXPECT_TRUE(TreeOf(t / "quiet").empty());
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, &parent};
  DialogAnswerer no({}, "いいえ");
  EXPECT_EQ(zip.Run(ZipLine(t / "bomb.zip", t / "asked", "--i"), &window), ARC_ERROR_DISK_SPACE);
  ASSERT_EQ(no.labels.size(), 1u);
  EXPECT_TRUE(no.labels[0].contains(QStringLiteral("空き")));
  EXPECT_TRUE(TreeOf(t / "asked").empty());
}

TEST(ArchiverLibraryEntries, WhatAKilledExtractionLeftIsRemovedNextTime) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "a"}, {"outside/target", "keep"}});
  ASSERT_TRUE(Shell(t / "src", "zip -q ../a.zip a.txt"));
  const std::string dest = t.dir("dest");
  const std::string stale = t.file("dest/.tvx-999999-7-1f", "264 MB once");
  const std::string fresh = t.file("dest/.tvx-999999-8-2f", "still written");
  const std::string foreign = t.file("dest/.tvx-notours", "someone else's");
  ASSERT_EQ(symlink((t / "outside/target").c_str(), (dest + "/.tvx-999999-9-3f").c_str()), 0);
  struct timeval old[2] = {{time(nullptr) - 600, 0}, {time(nullptr) - 600, 0}};
  ASSERT_EQ(utimes(stale.c_str(), old), 0);
  ASSERT_EQ(lutimes((dest + "/.tvx-999999-9-3f").c_str(), old), 0);
  ASSERT_EQ(utimes(foreign.c_str(), old), 0);
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  EXPECT_EQ(zip.Run(ZipLine(t / "a.zip", dest)), 0) << zip.output();
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(fresh));
  EXPECT_TRUE(Exists(foreign));
  EXPECT_TRUE(Exists(dest + "/.tvx-999999-9-3f"));
  EXPECT_EQ(ReadWholeFile(t / "outside/target"), "keep");
}
