// Making archives: ZIP through ZIP32J, tar/tgz/bz2 through TAR32, 7z through 7-zip32, each
// checked by the real tools (CRC and sizes); adding to and deleting from a ZIP; refusals.
#include "ArchiverLibraryFixture.h"

namespace {
std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// What python's zipfile reads back: name -> (size, crc ok).
std::string ZipReport(const std::string& dir, const std::string& zip) {
  std::string out = dir + "/report.txt";
  std::string cmd = "python3 -c \"import zipfile; z=zipfile.ZipFile('" + zip + "'); f=open('" + out +
                    "','w'); bad=z.testzip(); print('BAD' if bad else 'OK', file=f); "
                    "[print(i.filename, i.file_size, i.flag_bits & 0x800, file=f) for i in z.infolist()]\"";
  if (!Shell(dir, cmd)) return "python failed";
  return ReadWholeFile(out);
}
}  // namespace

TEST(ArchiverLibraryCreate, ZipIsMadeAddedToAndDeletedFrom) {
  TempDir t;
  std::string big(500000, 'z');
  MakeFiles(t, {{"src/a.txt", "alpha"}, {"src/dir/b.bin", big}, {"src/漢字.txt", "kanji"}, {"src/skip.log", "l"}});
  ArchiverLibrary zip("ZIP32J.so", "Zip");
  ASSERT_TRUE(zip.loaded());
  // The ZIP32J-style line: switches, archive, base folder, files.
  ASSERT_EQ(zip.Run(" -D -r -9  " + Quote(t / "a.zip") + " " + Quote(t / "src/") + " \"*.txt\" \"dir\""), 0)
      << zip.output();
  EXPECT_EQ(ZipReport(t.path(), t / "a.zip"), "OK\na.txt 5 0\n漢字.txt 5 2048\ndir/b.bin 500000 0\n");
  ASSERT_TRUE(Shell(t.path(), "unzip -tq a.zip"));
  // The reader's records carry the CRC the tools computed.
  ArchiverLibrary unzip("UNZIP32.so", "UnZip");
  auto list = unzip.List(t / "a.zip", "b.bin");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].dwOriginalSize, 500000u);
  EXPECT_LT(list[0].dwCompressedSize, 5000u);

  // Adding keeps what is there and replaces an entry of the same name.
  t.file("src/a.txt", "alpha 2");
  t.file("src/new.txt", "new");
  ASSERT_EQ(zip.Run("  " + Quote(t / "a.zip") + " " + Quote(t / "src/") + " \"a.txt\" \"new.txt\""), 0) << zip.output();
  EXPECT_EQ(ZipReport(t.path(), t / "a.zip"), "OK\n漢字.txt 5 2048\ndir/b.bin 500000 0\na.txt 7 0\nnew.txt 3 0\n");
  // Deleting.
  ASSERT_EQ(zip.Run("-d  " + Quote(t / "a.zip") + " \"dir/*\""), 0) << zip.output();
  EXPECT_EQ(ZipReport(t.path(), t / "a.zip"), "OK\n漢字.txt 5 2048\na.txt 7 0\nnew.txt 3 0\n");
  // Files that do not exist: non-zero, and no archive is made.
  EXPECT_NE(zip.Run("  " + Quote(t / "none.zip") + " " + Quote(t / "src/") + " \"nothing*\""), 0);
  EXPECT_FALSE(Exists(t / "none.zip"));
  for (const std::string& n : TreeOf(t.path())) EXPECT_EQ(n.find(".tvc-"), std::string::npos) << n;
}

TEST(ArchiverLibraryCreate, TarFamilyAnd7zAreMadeAndReadBackByTheirTools) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "alpha"}, {"src/sub/b.txt", std::string(100000, 'b')}});
  ASSERT_TRUE(Shell(t.path(), "touch -d '2020-01-02 03:04:05' src/a.txt"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  ASSERT_EQ(tar.Run("c -z9 -f " + Quote(t / "a.tgz") + " -o " + Quote(t / "src/") + " \"a.txt\" \"sub\""), 0)
      << tar.output();
  ASSERT_EQ(tar.Run("c -B -f " + Quote(t / "a.tbz") + " -o " + Quote(t / "src/") + " \"a.txt\" \"sub\""), 0);
  ASSERT_EQ(tar.Run("c -f " + Quote(t / "a.tar") + " -o " + Quote(t / "src/") + " \"a.txt\""), 0);
  auto type = tar.Entry<ArcGetArchiveTypeProc>("GetArchiveType");
  EXPECT_EQ(type((t / "a.tgz").c_str()), ARC_TYPE_TAR_GZ);
  EXPECT_EQ(type((t / "a.tbz").c_str()), ARC_TYPE_TAR_BZ2);
  EXPECT_EQ(type((t / "a.tar").c_str()), ARC_TYPE_TAR);
  for (const char* a : {"a.tgz", "a.tbz"}) {
    SCOPED_TRACE(a);
    std::string out = t.dir(std::string("x-") + a);
    ASSERT_TRUE(Shell(out, std::string("bsdtar -xf ../") + a));
    EXPECT_EQ(TreeOf(out), (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));
    EXPECT_EQ(ReadWholeFile(out + "/sub/b.txt"), std::string(100000, 'b'));
    struct stat st {
    }, src{};
    ASSERT_EQ(stat((out + "/a.txt").c_str(), &st), 0);
    ASSERT_EQ(stat((t / "src/a.txt").c_str(), &src), 0);
    EXPECT_EQ(st.st_mtime, src.st_mtime);
  }

  ArchiverLibrary sz("7-zip32.so", "SevenZip");
  ASSERT_EQ(sz.Run("u " + Quote("-o" + t / "src/") + "  " + Quote(t / "a.7z") + " \"a.txt\" \"sub\""), 0)
      << sz.output();
  ASSERT_TRUE(Shell(t.path(), "7zz t a.7z"));
  std::string out = t.dir("x7");
  ASSERT_TRUE(Shell(out, "7zz x ../a.7z"));
  EXPECT_EQ(TreeOf(out), (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));
  EXPECT_EQ(ReadWholeFile(out + "/sub/b.txt"), std::string(100000, 'b'));
}

TEST(ArchiverLibraryCreate, ReadOnlyLibrariesSayTheyCannotCreate) {
  TempDir t;
  t.file("a.txt", "a");
  ArchiverLibrary lha("UNLHA32.so", "Unlha"), cab("CAB32.so", "Cab");
  EXPECT_EQ(lha.Run("u -+ -jso1  " + Quote(t / "a.lzh") + " " + Quote(t.path() + "/") + " \"a.txt\""),
            ARC_ERROR_NOT_SUPPORT);
  EXPECT_NE(lha.output().find("UNLHA32"), std::string::npos);
  EXPECT_EQ(cab.Run("-a  " + Quote(t / "a.cab") + " " + Quote(t.path() + "/") + " \"a.txt\""), ARC_ERROR_NOT_SUPPORT);
  EXPECT_FALSE(Exists(t / "a.lzh"));
  EXPECT_FALSE(Exists(t / "a.cab"));
}
