// Listing through OpenArchive/FindFirst/FindNext: the 558-byte records, wildcards, the
// optional time and size entries, the archive type probe and Japanese names.
#include <time.h>

#include "ArchiverLibraryFixture.h"

namespace {

uint32_t Crc32(const std::string& s) {
  uint32_t c = 0xFFFFFFFF;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

const ArcIndividualInfo* Find(const std::vector<ArcIndividualInfo>& list, const std::string& name) {
  for (const auto& r : list)
    if (name == r.szFileName) return &r;
  return nullptr;
}

}  // namespace

TEST(ArchiverLibraryList, ZipRecordsCarrySizesCrcDateAndAttributes) {
  TempDir t;
  std::string text(20000, 'a');
  MakeFiles(t, {{"src/docs/readme.txt", text}, {"src/run.sh", "#!/bin/sh\n"}});
  ASSERT_TRUE(Shell(t / "src", "touch -d '2021-06-15 13:45:18' docs/readme.txt && zip -qr ../a.zip docs run.sh"));
  ArchiverLibrary lib("UNZIP32.so", "UnZip");
  ASSERT_TRUE(lib.loaded());
  auto list = lib.List(t / "a.zip");
  ASSERT_EQ(Names(list), (std::vector<std::string>{"docs/", "docs/readme.txt", "run.sh"}));
  const ArcIndividualInfo* r = Find(list, "docs/readme.txt");
  // The record is packed: its fields are read by value, never bound to a reference.
  const uint32_t original = r->dwOriginalSize, compressed = r->dwCompressedSize, crc = r->dwCRC;
  const uint32_t ratio = r->wRatio;
  const int date = r->wDate, time = r->wTime;
  EXPECT_EQ(original, 20000u);
  EXPECT_GT(compressed, 0u);
  EXPECT_LT(compressed, 1000u);
  EXPECT_EQ(ratio, compressed * 1000 / 20000);
  EXPECT_EQ(crc, Crc32(text));
  EXPECT_EQ(date, ((2021 - 1980) << 9) | (6 << 5) | 15);
  EXPECT_EQ(time, (13 << 11) | (45 << 5) | (18 / 2));
  EXPECT_STREQ(r->szMode, "Deflate");
  EXPECT_EQ(std::string(r->szAttribute).substr(0, 1), "-");
  EXPECT_EQ(std::string(Find(list, "docs/")->szAttribute).substr(0, 1), "d");

  // Wildcards match whole names and last components.
  EXPECT_EQ(Names(lib.List(t / "a.zip", "*.txt")), (std::vector<std::string>{"docs/readme.txt"}));
  EXPECT_EQ(Names(lib.List(t / "a.zip", "run.s?")), (std::vector<std::string>{"run.sh"}));
  EXPECT_TRUE(lib.List(t / "a.zip", "*.png").empty());
}

TEST(ArchiverLibraryList, OptionalEntriesDescribeTheEntryLastFound) {
  TempDir t;
  MakeFiles(t, {{"big.bin", std::string(70000, 'x')}});
  ASSERT_TRUE(Shell(t.path(), "touch -d '@1600000000' big.bin && bsdtar -cf a.tar big.bin"));
  ArchiverLibrary lib("TAR32.so", "Tar");
  HARC h = lib.Entry<ArcOpenArchiveProc>("OpenArchive")(nullptr, (t / "a.tar").c_str(), 0);
  ASSERT_NE(h, nullptr);
  ArcIndividualInfo info{};
  ASSERT_EQ(lib.Entry<ArcFindFirstProc>("FindFirst")(h, "*", &info), 0);
  ArcFileTime ft{};
  ASSERT_TRUE(lib.Entry<ArcGetTimeExProc>("GetWriteTimeEx")(h, &ft));
  uint64_t v = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  EXPECT_EQ(v, (1600000000ULL + 11644473600ULL) * 10000000ULL);
  int64_t size = 0;
  ASSERT_TRUE(lib.Entry<ArcGetSizeExProc>("GetOriginalSizeEx")(h, &size));
  EXPECT_EQ(size, 70000);
  ASSERT_TRUE(lib.Entry<ArcGetSizeExProc>("GetCompressedSizeEx")(h, &size));
  EXPECT_EQ(size, 70000);  // a plain tar stores as it is
  EXPECT_NE(lib.Entry<ArcFindNextProc>("FindNext")(h, &info), 0);
  EXPECT_EQ(lib.Entry<ArcCloseArchiveProc>("CloseArchive")(h), 0);
  // A closed or foreign handle is refused, not used.
  EXPECT_NE(lib.Entry<ArcFindFirstProc>("FindFirst")(h, "*", &info), 0);
  EXPECT_NE(lib.Entry<ArcFindFirstProc>("FindFirst")(nullptr, "*", &info), 0);
  EXPECT_FALSE(lib.Entry<ArcGetSizeExProc>("GetOriginalSizeEx")(nullptr, &size));
}

TEST(ArchiverLibraryList, OpenArchiveAndCheckArchiveRefuseOtherFiles) {
  TempDir t;
  t.file("not.zip", std::string(5000, 'n'));
  MakeFiles(t, {{"f.txt", "hello"}});
  ASSERT_TRUE(Shell(t.path(), "zip -q a.zip f.txt && bsdtar -cf a.tar f.txt"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip"), lha("UNLHA32.so", "Unlha");
  auto zipOpen = zip.Entry<ArcOpenArchiveProc>("OpenArchive");
  EXPECT_EQ(zipOpen(nullptr, (t / "not.zip").c_str(), 0), nullptr);
  EXPECT_EQ(zipOpen(nullptr, (t / "a.tar").c_str(), 0), nullptr);
  EXPECT_EQ(zipOpen(nullptr, (t / "missing.zip").c_str(), 0), nullptr);
  EXPECT_EQ(lha.Entry<ArcOpenArchiveProc>("OpenArchive")(nullptr, (t / "a.zip").c_str(), 0), nullptr);
  auto check = zip.Entry<ArcCheckArchiveProc>("CheckArchive");
  EXPECT_TRUE(check((t / "a.zip").c_str(), ARC_CHECKARCHIVE_FULLCRC));
  EXPECT_TRUE(check((t / "a.zip").c_str(), 24));  // extra bits of the probe
  EXPECT_FALSE(check((t / "not.zip").c_str(), ARC_CHECKARCHIVE_RAPID));
  // A ZIP behind a stub, as a self-extracting archive is, still reads.
  ASSERT_TRUE(Shell(t.path(), "head -c 3000 /dev/urandom > sfx.exe && cat a.zip >> sfx.exe"));
  EXPECT_TRUE(check((t / "sfx.exe").c_str(), 24));
  EXPECT_EQ(Names(zip.List(t / "sfx.exe")), (std::vector<std::string>{"f.txt"}));
}

TEST(ArchiverLibraryList, TarArchiveTypeIsReadFromTheContents) {
  TempDir t;
  MakeFiles(t, {{"f.txt", std::string(3000, 'q')}});
  ASSERT_TRUE(Shell(t.path(),
                    "bsdtar -cf a.tar f.txt && bsdtar -czf a.bin f.txt && bsdtar -cjf b.bin f.txt && "
                    "bsdtar -cZf c.bin f.txt && gzip -c f.txt > d.bin && bzip2 -c f.txt > e.bin && "
                    "bsdtar --format cpio -cf f.bin f.txt && zip -q g.bin f.txt"));
  ArchiverLibrary lib("TAR32.so", "Tar");
  auto type = lib.Entry<ArcGetArchiveTypeProc>("GetArchiveType");
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type((t / "a.tar").c_str()), ARC_TYPE_TAR);
  EXPECT_EQ(type((t / "a.bin").c_str()), ARC_TYPE_TAR_GZ);
  EXPECT_EQ(type((t / "b.bin").c_str()), ARC_TYPE_TAR_BZ2);
  EXPECT_EQ(type((t / "c.bin").c_str()), ARC_TYPE_TAR_Z);
  EXPECT_EQ(type((t / "d.bin").c_str()), ARC_TYPE_GZ);
  EXPECT_EQ(type((t / "e.bin").c_str()), ARC_TYPE_BZ2);
  EXPECT_EQ(type((t / "f.bin").c_str()), ARC_TYPE_OTHER);
  EXPECT_EQ(type((t / "g.bin").c_str()), ARC_TYPE_OTHER);
  EXPECT_EQ(type((t / "f.txt").c_str()), ARC_TYPE_OTHER);
  // A compressed single file lists as one entry named after the archive.
  ASSERT_TRUE(Shell(t.path(), "cp d.bin notes.txt.gz"));
  auto list = lib.List(t / "notes.txt.gz");
  ASSERT_EQ(Names(list), (std::vector<std::string>{"notes.txt"}));
}

TEST(ArchiverLibraryList, JapaneseNamesFromWindowsArchivesComeOutAsUtf8) {
  struct Case {
    const char* file;
    const char* lib;
    const char* prefix;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"zip_filename_cp932.zip", "UNZIP32.so", "UnZip", {"表だよ/一覧表.txt", "表だよ/漢字.txt"}},
      {"zip_filename_utf8_jp.zip", "UNZIP32.so", "UnZip", {"表だよ/", "表だよ/一覧表.txt", "表だよ/漢字.txt"}},
      {"cab_filename_cp932.cab", "CAB32.so", "Cab", {"表だよ/漢字.txt", "表だよ/一覧表.txt"}},
      {"lha_filename_cp932.lzh", "UNLHA32.so", "Unlha", {"漢字.txt", "表.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ArchiverLibrary lib(c.lib, c.prefix);
    EXPECT_EQ(Names(lib.List(TestArchive(c.file))), c.names);
    // And they extract under those names: the 0x5C trail byte of 表 splits nothing.
    TempDir t;
    std::string cmd = std::string(c.prefix) == "Unlha" ? "x -+ -x1 -jse1 -jso1 " : "-x ";
    ASSERT_EQ(lib.Run(cmd + "\"" + TestArchive(c.file) + "\" \"" + t.path() + "/\""), 0) << lib.output();
    for (const std::string& n : c.names) EXPECT_TRUE(Exists(t / n)) << n;
  }
}

TEST(ArchiverLibraryList, RealLhaCabAndRarArchivesList) {
  ArchiverLibrary lha("UNLHA32.so", "Unlha"), cab("CAB32.so", "Cab"), rar("UNRAR32.so", "Unrar");
  const std::vector<std::string> lhaNames = {"dir/", "dir2/", "dir2/symlink1", "dir2/symlink2", "file1", "file2"};
  for (const char* f :
       {"lha_header0.lzh", "lha_header1.lzh", "lha_header2.lzh", "lha_lh0.lzh", "lha_lh6.lzh", "lha_lh7.lzh"}) {
    auto names = Names(lha.List(TestArchive(f)));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, lhaNames) << f;
  }
  auto cabList = cab.List(TestArchive("cab_2.cab"));
  ASSERT_EQ(Names(cabList), (std::vector<std::string>{"empty", "zero", "dir1/file1", "dir2/file2"}));
  EXPECT_EQ(uint32_t(cabList[1].dwOriginalSize), 33000u);
  auto rarList = rar.List(TestArchive("rar5_multiple_files.rar"));
  ASSERT_EQ(Names(rarList), (std::vector<std::string>{"test1.bin", "test2.bin", "test3.bin", "test4.bin"}));
  EXPECT_EQ(uint32_t(rarList[0].dwOriginalSize), 4096u);
  EXPECT_EQ(Names(rar.List(TestArchive("rar.rar"))),
            (std::vector<std::string>{"test.txt", "testlink", "testdir/test.txt", "testdir", "testemptydir"}));
}
