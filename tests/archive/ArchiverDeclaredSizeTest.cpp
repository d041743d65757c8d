// The whole archive's size, read from its headers before anything is written: what each
// format declares, the question when it does not fit the destination, and the progress
// window that shows how many times the archive it has written.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>
#include <chrono>

#include "ArchiverLibraryFixture.h"
#include "core/DeclaredSize.h"

namespace {

// The sizes of an archive's entries as libarchive lists them.
int64_t ListedSum(const std::string& path) {
  struct archive* a = archive_read_new();
  archive_read_support_format_all(a);
  archive_read_support_filter_all(a);
  int64_t sum = -1;
  if (archive_read_open_filename(a, path.c_str(), 1 << 16) == ARCHIVE_OK) {
    sum = 0;
    struct archive_entry* e;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK)
      if (archive_entry_filetype(e) == AE_IFREG) sum += archive_entry_size(e);
  }
  archive_read_free(a);
  return sum;
}

void Lha(struct archive* a) { archive_read_support_format_lha(a); }

int64_t Declared(const std::string& path, int64_t (*read)(int, int64_t)) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int64_t total = read(fd, static_cast<int64_t>(std::filesystem::file_size(path)));
  close(fd);
  return total;
}

int64_t DeclaredLha(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int64_t total = arc::DeclaredTotal(fd, static_cast<int64_t>(std::filesystem::file_size(path)), {Lha, false},
                                     ARCHIVE_FORMAT_LHA, ARCHIVE_FILTER_NONE);
  close(fd);
  return total;
}

// A small tmpfs for the test's span.
class SmallMount {
 public:
  explicit SmallMount(const char* size) {
    dir_ = base_.dir("mnt");
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, size) == 0;
  }
  ~SmallMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 private:
  TempDir base_;
  std::string dir_;
  bool mounted_ = false;
};

// The progress window's labels, read whenever the library reports to its owner window; each
// report takes a while, so the window shows up.
std::vector<QString> progressLabels;
QString progressTitle;
intptr_t SlowOwner(void*, uint32_t, uintptr_t, intptr_t) {
  QThread::msleep(90);
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dlg = qobject_cast<QProgressDialog*>(w); dlg && dlg->isVisible()) {
      progressLabels.push_back(dlg->labelText());
      progressTitle = dlg->windowTitle();
    }
  return 0;
}

}  // namespace

TEST(ArchiverDeclaredSize, RealArchivesDeclareWhatTheirEntriesAddUpTo) {
  TempDir t;
  for (const char* name : {"rar.rar", "rar5_compressed.rar", "rar5_multiple_files.rar"}) {
    const std::string path = t / name;
    std::filesystem::copy_file(TestArchive(name), path);
    EXPECT_EQ(Declared(path, arc::RarDeclaredTotal), ListedSum(path)) << name;
    EXPECT_EQ(Declared(path, arc::CabDeclaredTotal), -1) << name;
  }
  for (const char* name : {"cab_1.cab", "cab_2.cab", "cab_3.cab", "cab_filename_cp932.cab"}) {
    const std::string path = t / name;
    std::filesystem::copy_file(TestArchive(name), path);
    EXPECT_EQ(Declared(path, arc::CabDeclaredTotal), ListedSum(path)) << name;
  }
  for (const char* name : {"lha_header0.lzh", "lha_header2.lzh", "lha_header3.lzh", "lha_lh7.lzh"}) {
    const std::string path = t / name;
    std::filesystem::copy_file(TestArchive(name), path);
    EXPECT_EQ(DeclaredLha(path), ListedSum(path)) << name;
  }
  // Compressed streams tell the size of what they hold; a cut one tells nothing.
  MakeFiles(t, {{"src/a.txt", std::string(300000, 'a')}, {"src/b.txt", "b"}});
  ASSERT_TRUE(Shell(t / "src", "bsdtar -czf ../s.tgz a.txt b.txt && bsdtar -cJf ../s.txz a.txt b.txt"));
  const int64_t tarSize = 300000 + 1 + 3 * 512 + 511;  // at least the data and its headers
  EXPECT_GE(Declared(t / "s.tgz", arc::GzipDeclaredSize), tarSize);
  EXPECT_EQ(Declared(t / "s.tgz", arc::GzipDeclaredSize), Declared(t / "s.tgz", arc::GzipDeclaredSize) / 512 * 512);
  EXPECT_EQ(Declared(t / "s.txz", arc::XzDeclaredSize), Declared(t / "s.tgz", arc::GzipDeclaredSize));
  EXPECT_EQ(Declared(t / "s.tgz", arc::XzDeclaredSize), -1);
  std::filesystem::resize_file(t / "s.txz", std::filesystem::file_size(t / "s.txz") - 20);
  EXPECT_EQ(Declared(t / "s.txz", arc::XzDeclaredSize), -1);
}

TEST(ArchiverDeclaredSize, EveryFormatIsCheckedWholeBeforeItsFirstEntryIsWritten) {
  SmallMount small("size=256k");
  if (!small.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  TempDir t;
  // The small entry first: a check entry by entry would write it before refusing the big one.
  MakeFiles(t, {{"src/a.txt", "small"}, {"src/big.bin", std::string(1 << 20, '\0')}});
  ASSERT_TRUE(Shell(t / "src",
                    "zip -q ../s.zip a.txt big.bin && bsdtar -cf ../s.tar a.txt big.bin && "
                    "bsdtar -czf ../s.tgz a.txt big.bin && bsdtar -cJf ../s.txz a.txt big.bin && "
                    "bsdtar --format cpio -cf ../s.cpio a.txt big.bin && 7zz a -bd ../s.7z a.txt big.bin && "
                    "gcab -cz ../s.cab a.txt big.bin"));
  struct Case {
    const char *library, *prefix, *archive;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"UNZIP32.so", "UnZip", "s.zip", "-x \"" + t / "s.zip" + "\" \"" + small / "zip/" + "\""},
      {"TAR32.so", "Tar", "s.tar", "x -f \"" + t / "s.tar" + "\" -o \"" + small / "tar/" + "\""},
      {"TAR32.so", "Tar", "s.tgz", "x -f \"" + t / "s.tgz" + "\" -o \"" + small / "tgz/" + "\""},
      {"TAR32.so", "Tar", "s.txz", "x -f \"" + t / "s.txz" + "\" -o \"" + small / "txz/" + "\""},
      {"TAR32.so", "Tar", "s.cpio", "x -f \"" + t / "s.cpio" + "\" -o \"" + small / "cpio/" + "\""},
      {"7-zip32.so", "SevenZip", "s.7z", "x \"-o" + small / "7z/" + "\" \"" + t / "s.7z" + "\""},
      {"CAB32.so", "Cab", "s.cab", "-x \"" + t / "s.cab" + "\" \"" + small / "cab/" + "\""},
  };
  for (const Case& c : cases) {
    ArchiverLibrary lib(c.library, c.prefix);
    EXPECT_EQ(lib.Run(c.line), ARC_ERROR_DISK_SPACE) << c.archive << ": " << lib.output();
    EXPECT_NE(lib.output().find("空きが足りない"), std::string::npos) << c.archive << ": " << lib.output();
    const std::string dest = small / std::string(c.archive).substr(2);
    EXPECT_TRUE(TreeOf(dest).empty()) << c.archive;
  }
  // What fits is extracted as before.
  ArchiverLibrary tar("TAR32.so", "Tar");
  MakeFiles(t, {{"fits/a.txt", "small"}, {"fits/b.txt", std::string(50000, 'b')}});
  ASSERT_TRUE(Shell(t / "fits", "bsdtar -czf ../fits.tgz a.txt b.txt"));
  EXPECT_EQ(tar.Run("x -f \"" + t / "fits.tgz" + "\" -o \"" + small / "fits/" + "\""), 0) << tar.output();
  EXPECT_EQ(ReadWholeFile(small / "fits/b.txt"), std::string(50000, 'b'));
  // Only the entries asked for count.
  EXPECT_EQ(tar.Run("x -f \"" + t / "s.tar" + "\" -o \"" + small / "one/" + "\" a.txt"), 0) << tar.output();
  EXPECT_EQ(ReadWholeFile(small / "one/a.txt"), "small");
}

TEST(ArchiverDeclaredSize, TheProgressWindowShowsHowManyTimesTheArchiveIsWritten) {
  TempDir t;
  const int64_t size = 12 << 20;
  MakeFiles(t, {{"src/zeros.bin", std::string(size, '\0')}});
  ASSERT_TRUE(Shell(t / "src", "zip -q ../z.zip zeros.bin"));
  const double archive = static_cast<double>(std::filesystem::file_size(t / "z.zip"));
  QWidget parent;
  ArcWindow window{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, &SlowOwner, &parent};
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  ASSERT_TRUE(zip.Entry<ArcSetOwnerWindowExProc>("SetOwnerWindowEx")(&window, nullptr));
  progressLabels.clear();
  const int result = zip.Run("-x \"" + t / "z.zip" + "\" \"" + t / "out/\"", &window);
  zip.Entry<ArcKillOwnerWindowExProc>("KillOwnerWindowEx")(&window);
  ASSERT_EQ(result, 0) << zip.output();
  ASSERT_FALSE(progressLabels.empty()) << "the progress window never showed";
  const QString whole = QStringLiteral("全体 12.0 MB (書庫の %1 倍)").arg(size / archive, 0, 'f', 1);
  const QRegularExpression written(QStringLiteral("展開済み ([0-9.]+) MB \\(書庫の ([0-9.]+) 倍\\)"));
  double last = 0;
  for (const QString& label : progressLabels) {
    EXPECT_TRUE(label.startsWith(QStringLiteral("zeros.bin\n"))) << label.toStdString();
    EXPECT_TRUE(label.contains(whole)) << label.toStdString();
    QRegularExpressionMatch m = written.match(label);
    ASSERT_TRUE(m.hasMatch()) << label.toStdString();
    const double mb = m.captured(1).toDouble(), times = m.captured(2).toDouble();
    EXPECT_NEAR(times, mb * (1 << 20) / archive, 0.06 + mb * (1 << 20) / archive * 0.01) << label.toStdString();
    EXPECT_GE(mb, last);
    last = mb;
  }
  EXPECT_GT(last, 1.0);
  EXPECT_EQ(progressTitle, QStringLiteral("展開 - z.zip"));
  // Gone when the work is done.
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QProgressDialog*>(w), nullptr);
}

TEST(ArchiverDeclaredSize, AHeaderThatDeclaresGigabytesInAShortFileFailsSoonWithLittleMemory) {
  TempDir t;
  const std::string path = t / "cut.lzh";
  std::filesystem::copy_file(TestArchive("lha_cut_header.lzh"), path);
  ArchiverLibrary lha("UNLHA32.so", "Unlha");
  struct rusage before {
  }, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  lha.List(path);
  EXPECT_NE(lha.Run("x -+ -x1 -jse1 -jso1  \"" + path + "\" \"" + t / "out/\""), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  getrusage(RUSAGE_SELF, &after);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator touches what libarchive only asks for
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kilobytes
#else
  (void)took;
#endif
  EXPECT_NE(lha.output().find("壊れています"), std::string::npos) << lha.output();
  EXPECT_TRUE(NoTempFiles(t / "out"));
}

TEST(ArchiverDeclaredSize, ListingAgainOnOneHandleReadsTheZipDirectoryAgain) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "alpha"}, {"src/b.txt", "beta"}});
  ASSERT_TRUE(Shell(t / "src", "zip -q ../a.zip a.txt b.txt"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  HARC h = zip.Entry<ArcOpenArchiveProc>("OpenArchive")(nullptr, (t / "a.zip").c_str(), 0);
  ASSERT_NE(h, nullptr);
  auto first = zip.Entry<ArcFindFirstProc>("FindFirst");
  auto next = zip.Entry<ArcFindNextProc>("FindNext");
  std::vector<std::pair<uint32_t, std::string>> rounds[2];
  for (auto& round : rounds) {
    ArcIndividualInfo info{};
    for (int r = first(h, "*.*", &info); r == 0; r = next(h, &info)) round.emplace_back(info.dwCRC, info.szMode);
  }
  zip.Entry<ArcCloseArchiveProc>("CloseArchive")(h);
  ASSERT_EQ(rounds[0].size(), 2u);
  EXPECT_NE(rounds[0][0].first, 0u);
  EXPECT_EQ(rounds[1], rounds[0]);
}
