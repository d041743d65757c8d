// Archives that try to write outside their destination, broken archives and bad input:
// refused entries are named, the rest is extracted, nothing half-written stays.
#include "ArchiverLibraryFixture.h"

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

TEST(ArchiverLibrarySafety, EscapingEntriesAreRefusedAndTheOthersExtracted) {
  TempDir t;
  std::string outside = t.dir("outside");
  t.file("outside/victim", "untouched");
  ASSERT_TRUE(Python(t.path(), R"(
import io, tarfile, zipfile
outside = ")" + outside + R"("
def add(tf, name, data=b"", kind=tarfile.REGTYPE, link=""):
    ti = tarfile.TarInfo(name); ti.type = kind; ti.linkname = link; ti.size = len(data)
    tf.addfile(ti, io.BytesIO(data) if data else None)
with tarfile.open("evil.tar", "w", format=tarfile.GNU_FORMAT) as tf:
    add(tf, "ok.txt", b"fine")
    add(tf, "../dotdot.txt", b"x")
    add(tf, "sub/../../dotdot2.txt", b"x")
    add(tf, outside + "/absolute.txt", b"x")
    add(tf, "abslink", kind=tarfile.SYMTYPE, link=outside)
    add(tf, "abslink/through.txt", b"x")
    add(tf, "rellink", kind=tarfile.SYMTYPE, link="../outside")
    add(tf, "rellink/through2.txt", b"x")
    add(tf, "hard", kind=tarfile.LNKTYPE, link="../outside/victim")
    add(tf, "inside", kind=tarfile.SYMTYPE, link="ok.txt")
    add(tf, "last.txt", b"last")
with zipfile.ZipFile("evil.zip", "w") as zf:
    zf.writestr("../zipdotdot.txt", "x")
    zf.writestr(outside + "/zipabs.txt", "x")
    zf.writestr("good.txt", "good")
)"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  EXPECT_EQ(tar.Run("x -f " + Quote(t / "evil.tar") + " -o " + Quote(t / "dest/")), ARC_ERROR_UNSAFE_PATH);
  EXPECT_EQ(TreeOf(outside), (std::vector<std::string>{"victim"}));
  EXPECT_EQ(ReadWholeFile(outside + "/victim"), "untouched");
  EXPECT_FALSE(Exists(t / "dotdot.txt"));
  EXPECT_EQ(ReadWholeFile(t / "dest/ok.txt"), "fine");
  EXPECT_EQ(ReadWholeFile(t / "dest/last.txt"), "last");
  EXPECT_EQ(ReadWholeFile(t / "dest/inside"), "fine");  // a link that stays inside is kept
  for (const char* name : {"../dotdot.txt", "sub/../../dotdot2.txt", "absolute.txt", "abslink", "rellink", "hard"})
    EXPECT_NE(tar.output().find(name), std::string::npos) << name << "\n" << tar.output();

  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  EXPECT_EQ(zip.Run("-x  " + Quote(t / "evil.zip") + " " + Quote(t / "zdest/")), ARC_ERROR_UNSAFE_PATH);
  EXPECT_EQ(TreeOf(t / "zdest"), (std::vector<std::string>{"good.txt"}));
  EXPECT_EQ(TreeOf(outside), (std::vector<std::string>{"victim"}));
  EXPECT_FALSE(Exists(t / "zipdotdot.txt"));
}

TEST(ArchiverLibrarySafety, ALinkAlreadyInTheDestinationIsNotFollowed) {
  TempDir t;
  std::string outside = t.dir("outside");
  t.dir("dest");
  ASSERT_EQ(symlink(outside.c_str(), (t / "dest/sub").c_str()), 0);
  MakeFiles(t, {{"src/sub/x.txt", "x"}, {"src/y.txt", "y"}});
  // The archive holds sub/x.txt but no entry for sub itself.
  ASSERT_TRUE(Shell(t.path(), "bsdtar -cf a.tar -C src sub/x.txt y.txt"));
  ArchiverLibrary lib("TAR32.so", "Tar");
  EXPECT_EQ(lib.Run("x -f " + Quote(t / "a.tar") + " -o " + Quote(t / "dest/")), ARC_ERROR_UNSAFE_PATH);
  EXPECT_NE(lib.output().find("sub/x.txt"), std::string::npos);
  EXPECT_TRUE(TreeOf(outside).empty());
  EXPECT_EQ(ReadWholeFile(t / "dest/y.txt"), "y");
}

TEST(ArchiverLibrarySafety, BrokenArchivesFailWithoutHalfWrittenFiles) {
  TempDir t;
  std::string big;
  for (long long i = 0; i < 400000; ++i) big += std::to_string(i * 7919 % 100003) + " ";
  MakeFiles(t, {{"src/a.txt", "small"}, {"src/big.txt", big}});
  ASSERT_TRUE(Shell(t.path(),
                    "bsdtar -czf a.tgz -C src a.txt big.txt && cd src && zip -q ../a.zip a.txt big.txt && "
                    "7zz a -bd ../a.7z a.txt big.txt"));
  // A tarball cut in the middle of big.txt.
  ASSERT_TRUE(Shell(t.path(), "head -c $(( $(stat -c %s a.tgz) / 2 )) a.tgz > cut.tgz"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  EXPECT_NE(tar.Run("x -f " + Quote(t / "cut.tgz") + " -o " + Quote(t / "t/")), 0);
  EXPECT_FALSE(tar.output().empty());
  EXPECT_FALSE(Exists(t / "t/big.txt"));
  EXPECT_TRUE(NoTempFiles(t / "t"));
  // A ZIP whose deflate data is damaged in the middle.
  ASSERT_TRUE(Shell(t.path(),
                    "cp a.zip bad.zip && printf 'XXXXXXXXXXXXXXXX' | "
                    "dd of=bad.zip bs=1 seek=$(( $(stat -c %s a.zip) / 2 )) conv=notrunc"));
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  EXPECT_NE(zip.Run("-x  " + Quote(t / "bad.zip") + " " + Quote(t / "z/")), 0);
  // What inflated whole is kept under its name, with the checksum named in the message.
  if (Exists(t / "z/big.txt")) {
    EXPECT_NE(zip.output().find("CRC"), std::string::npos) << zip.output();
  }
  EXPECT_TRUE(NoTempFiles(t / "z"));
  // A 7z cut short, and a file that is no archive at all.
  ASSERT_TRUE(Shell(t.path(), "head -c 3000 a.7z > cut.7z"));
  ArchiverLibrary sz("7-zip32.so", "SevenZip");
  EXPECT_NE(sz.Run("x " + Quote("-o" + t / "s/") + "  " + Quote(t / "cut.7z")), 0);
  EXPECT_FALSE(Exists(t / "s/big.txt"));
  EXPECT_EQ(sz.Run("x " + Quote("-o" + t / "s/") + "  " + Quote(t / "src/a.txt")), ARC_ERROR_NOT_ARC_FILE);
  // Every archive of every reader, cut at several points: an error or success, never a crash.
  ArchiverLibrary lha("UNLHA32.so", "Unlha"), cab("CAB32.so", "Cab"), rar("UNRAR32.so", "Unrar");
  const std::vector<std::pair<ArchiverLibrary*, std::string>> samples = {
      {&lha, TestArchive("lha_lh7.lzh")},
      {&cab, TestArchive("cab_2.cab")},
      {&rar, TestArchive("rar.rar")},
      {&rar, TestArchive("rar5_multiple_files.rar")}};
  for (const auto& [lib, file] : samples) {
    std::string data = ReadWholeFile(file);
    for (size_t cut : {size_t(10), data.size() / 3, data.size() - 7}) {
      std::string cutFile = t.file("cut.bin", data.substr(0, cut));
      std::string cmd = lib == &lha ? "x -+ -x1  " : "-x  ";
      int r = lib->Run(cmd + Quote(cutFile) + " " + Quote(t / "cuts/"));
      EXPECT_NE(r, 0) << file << " cut at " << cut;
      EXPECT_TRUE(NoTempFiles(t / "cuts"));
    }
  }
}
