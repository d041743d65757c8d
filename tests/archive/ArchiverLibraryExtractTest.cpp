// Extraction through the command entry of each library, with the command lines the
// program builds: paths kept or dropped, times, modes, overwriting, response files, the
// output buffer and the progress message to the owner window.
#include <sys/stat.h>

#include "ArchiverLibraryFixture.h"

namespace {

struct Format {
  const char* lib;
  const char* prefix;
  const char* archive;
  const char* make;       // shell command that makes `archive` from the folder src
  std::string withPaths;  // command line before the archive name, paths kept
  std::string withoutPaths;
  bool destBySwitch = false;  // 7z names the destination with -o, tar with -o and a blank
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string Line(const Format& f, bool paths, const std::string& archive, const std::string& dest) {
  const std::string& sw = paths ? f.withPaths : f.withoutPaths;
  if (std::string(f.prefix) == "Tar") return sw + " -f " + Quote(archive) + " -o " + Quote(dest + "/");
  if (std::string(f.prefix) == "SevenZip") return sw + " " + Quote("-o" + dest + "/") + "  " + Quote(archive);
  return sw + "  " + Quote(archive) + " " + Quote(dest + "/") + " ";
}

const std::vector<Format>& Formats() {
  static const std::vector<Format> formats = {
      {"UNZIP32.so", "UnZip", "a.zip", "cd src && zip -qr ../a.zip .", "-x", "-x -j"},
      {"TAR32.so", "Tar", "a.tgz", "bsdtar -czf a.tgz -C src .", "x", "x --use-directory=0"},
      {"TAR32.so", "Tar", "a.tar.bz2", "bsdtar -cjf a.tar.bz2 -C src .", "x", "x --use-directory=0"},
      {"7-zip32.so", "SevenZip", "a.7z", "cd src && 7zz a -bd ../a.7z .", "x -aoa", "e -aoa"},
      {"CAB32.so", "Cab", "a.cab", "cd src && gcab -c ../a.cab sub/deep/b.txt a.txt", "-x", "-x -j"},
  };
  return formats;
}

}  // namespace

TEST(ArchiverLibraryExtract, EachFormatExtractsWithAndWithoutPaths) {
  for (const Format& f : Formats()) {
    SCOPED_TRACE(f.archive);
    TempDir t;
    MakeFiles(t, {{"src/a.txt", "alpha"}, {"src/sub/deep/b.txt", std::string(300000, 'b')}});
    ASSERT_TRUE(Shell(t.path(), f.make));
    ArchiverLibrary lib(f.lib, f.prefix);
    ASSERT_TRUE(lib.loaded());
    ASSERT_EQ(lib.Run(Line(f, true, t / f.archive, t / "out")), 0) << lib.output();
    EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "alpha");
    EXPECT_EQ(ReadWholeFile(t / "out/sub/deep/b.txt"), std::string(300000, 'b'));
    ASSERT_EQ(lib.Run(Line(f, false, t / f.archive, t / "flat")), 0) << lib.output();
    EXPECT_EQ(TreeOf(t / "flat"), (std::vector<std::string>{"a.txt", "b.txt"}));
  }
}

TEST(ArchiverLibraryExtract, RealLhaAndRarArchivesExtractAsTheirOwnToolsDo) {
  TempDir t;
  ArchiverLibrary lha("UNLHA32.so", "Unlha");
  ASSERT_EQ(lha.Run("x -+ -x1 -jse1 -jso1  " + Quote(TestArchive("lha_lh6.lzh")) + " " + Quote(t / "lha/")), 0)
      << lha.output();
  // lhasa extracts the same archive for the comparison.
  ASSERT_TRUE(Shell(t.dir("ref"), "lhasa xq " + TestArchive("lha_lh6.lzh")));
  for (const char* f : {"file1", "file2"})
    EXPECT_EQ(ReadWholeFile(t / ("lha/" + std::string(f))), ReadWholeFile(t / ("ref/" + std::string(f))));
  // The links inside the destination are kept as links.
  char target[64] = {};
  ASSERT_GT(readlink((t / "lha/dir2/symlink1").c_str(), target, sizeof target), 0);
  EXPECT_STREQ(target, "../file1");
  EXPECT_EQ(ReadWholeFile(t / "lha/dir2/symlink1"), ReadWholeFile(t / "lha/file1"));

  ArchiverLibrary rar("UNRAR32.so", "Unrar");
  ASSERT_EQ(rar.Run("-x  " + Quote(TestArchive("rar5_compressed.rar")) + " " + Quote(t / "rar/")), 0) << rar.output();
  struct stat st {};
  ASSERT_EQ(stat((t / "rar/test.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1200);
  ASSERT_EQ(rar.Run("-e -y  " + Quote(TestArchive("rar.rar")) + " " + Quote(t / "rarflat/")), 0) << rar.output();
  EXPECT_EQ(ReadWholeFile(t / "rarflat/test.txt").size(), 20u);
  EXPECT_FALSE(Exists(t / "rarflat/testdir"));
}

TEST(ArchiverLibraryExtract, TimesAreKeptAndSetIdBitsNeverRestored) {
  TempDir t;
  MakeFiles(t, {{"src/tool", "#!/bin/sh\n"}, {"src/plain.txt", "p"}});
  ASSERT_TRUE(Shell(t.path(),
                    "chmod 6755 src/tool && touch -d '2019-03-04 05:06:07' src/tool src/plain.txt && "
                    "bsdtar -cf a.tar -C src tool plain.txt"));
  ArchiverLibrary lib("TAR32.so", "Tar");
  ASSERT_EQ(lib.Run("x -f " + Quote(t / "a.tar") + " -o " + Quote(t / "out/")), 0) << lib.output();
  struct stat st {};
  ASSERT_EQ(stat((t / "out/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07000, 0u);
  EXPECT_EQ(st.st_mode & 0100, 0100u);
  struct stat src {};
  ASSERT_EQ(stat((t / "src/plain.txt").c_str(), &src), 0);
  ASSERT_EQ(stat((t / "out/plain.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, src.st_mtime);
}

TEST(ArchiverLibraryExtract, ExistingFilesAreReplacedOnlyWhenASwitchSaysSo) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "new"}, {"src/b.txt", "bee"}});
  ASSERT_TRUE(Shell(t.path(), "cd src && zip -q ../a.zip a.txt b.txt"));
  t.dir("out");
  t.file("out/a.txt", "old");
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  // Nobody to ask: the file stays, the others come, and the result says so.
  EXPECT_EQ(zip.Run("-x  " + Quote(t / "a.zip") + " " + Quote(t / "out/")), ARC_ERROR_ALREADY_EXIST);
  EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "old");
  EXPECT_EQ(ReadWholeFile(t / "out/b.txt"), "bee");
  EXPECT_NE(zip.output().find("a.txt"), std::string::npos);
  EXPECT_EQ(zip.Run("-x -o  " + Quote(t / "a.zip") + " " + Quote(t / "out/")), 0) << zip.output();
  EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "new");

  // 7z: -aos skips, -aou renames the new one.
  ASSERT_TRUE(Shell(t.path(), "cd src && 7zz a -bd ../a.7z a.txt"));
  t.file("out/a.txt", "old");
  ArchiverLibrary sz("7-zip32.so", "SevenZip");
  EXPECT_EQ(sz.Run("x -aos " + Quote("-o" + t / "out/") + "  " + Quote(t / "a.7z")), 0);
  EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "old");
  EXPECT_EQ(sz.Run("x -aou " + Quote("-o" + t / "out/") + "  " + Quote(t / "a.7z")), 0);
  EXPECT_EQ(ReadWholeFile(t / "out/a.txt"), "old");
  EXPECT_EQ(ReadWholeFile(t / "out/a_1.txt"), "new");
  // LHA: -c1 replaces.
  t.file("lha/file1", "old");
  ArchiverLibrary lha("UNLHA32.so", "Unlha");
  EXPECT_EQ(lha.Run("x -+ -c1 -x1  " + Quote(TestArchive("lha_lh0.lzh")) + " " + Quote(t / "lha/") + " file1"), 0)
      << lha.output();
  EXPECT_EQ(ReadWholeFile(t / "lha/file1").size(), 60u);
}

TEST(ArchiverLibraryExtract, FileArgumentsSelectEntriesAndResponseFilesAreConsumed) {
  TempDir t;
  MakeFiles(
      t,
      {{"src/a.txt", "a"}, {"src/b.log", "b"}, {"src/-dash.txt", "d"}, {"src/x[1].txt", "x"}, {"src/sub/c.txt", "c"}});
  ASSERT_TRUE(Shell(t.path(), "cd src && zip -qr ../a.zip . && cd .. && bsdtar -cf a.tar -C src ."));
  ArchiverLibrary zip("UNZIP32.so", "UnZip");
  // The ZIP name converter's "[-]" and "[[]" reach the library as bracket classes.
  ASSERT_EQ(zip.Run("-x  " + Quote(t / "a.zip") + " " + Quote(t / "z/") + " \"[-]dash.txt\" \"x[[]1].txt\""), 0)
      << zip.output();
  EXPECT_EQ(TreeOf(t / "z"), (std::vector<std::string>{"-dash.txt", "x[1].txt"}));

  // A response file names the entries, one quoted name a line, and is removed afterwards.
  std::string resp = t.file("resp.txt", "\"*.txt\"\r\n\"sub\"\r\n");
  ArchiverLibrary tar("TAR32.so", "Tar");
  ASSERT_EQ(tar.Run("x -f " + Quote(t / "a.tar") + " -o " + Quote(t / "r/") + " " + Quote("@" + resp)), 0)
      << tar.output();
  EXPECT_EQ(TreeOf(t / "r"), (std::vector<std::string>{"-dash.txt", "a.txt", "sub/", "sub/c.txt", "x[1].txt"}));
  EXPECT_FALSE(Exists(resp));
  // Also when the command fails; a missing response file is a bad command line.
  resp = t.file("resp2.txt", "\"nothing-like-this\"\r\n");
  EXPECT_EQ(tar.Run("x -f " + Quote(t / "a.tar") + " -o " + Quote(t / "r2/") + " " + Quote("@" + resp)),
            ARC_ERROR_NOT_EXIST);
  EXPECT_FALSE(Exists(resp));
  EXPECT_EQ(tar.Run("x -f " + Quote(t / "a.tar") + " " + Quote("@" + t / "none.txt")), ARC_ERROR_COMMAND_NAME);
  // Exclusions: 7z -x!, LHA -jx.
  ArchiverLibrary lha("UNLHA32.so", "Unlha");
  ASSERT_EQ(lha.Run("x -+ -x1 \"-jxfile2\"  " + Quote(TestArchive("lha_lh0.lzh")) + " " + Quote(t / "l/")), 0);
  EXPECT_TRUE(Exists(t / "l/file1"));
  EXPECT_FALSE(Exists(t / "l/file2"));
}

TEST(ArchiverLibraryExtract, MessagesGoOnlyIntoABufferThatIsThere) {
  TempDir t;
  ArchiverLibrary lib("UNZIP32.so", "UnZip");
  auto cmd = lib.Entry<ArcCommandProc>("");
  std::string line = "-x  " + Quote(t / "missing.zip") + " " + Quote(t / "o/");
  EXPECT_EQ(cmd(nullptr, line.c_str(), nullptr, 0), ARC_ERROR_ARC_FILE_OPEN);
  char buf[8];
  memset(buf, 'Z', sizeof buf);
  EXPECT_NE(cmd(nullptr, line.c_str(), buf, 0), 0);
  EXPECT_EQ(buf[0], 'Z');  // size 0: not a byte written
  EXPECT_NE(cmd(nullptr, line.c_str(), buf, sizeof buf), 0);
  // Cut on a character boundary and terminated.
  EXPECT_GE(strnlen(buf, sizeof buf), sizeof buf - 3);
  EXPECT_LT(strnlen(buf, sizeof buf), sizeof buf);
  EXPECT_EQ(lib.Run(line), ARC_ERROR_ARC_FILE_OPEN);
  EXPECT_NE(lib.output().find("missing.zip"), std::string::npos);
  // Bad command lines.
  EXPECT_EQ(lib.Run("-x \"" + t.path()), ARC_ERROR_COMMAND_NAME);
  EXPECT_EQ(lib.Run("-x"), ARC_ERROR_COMMAND_NAME);
  EXPECT_FALSE(lib.output().empty());
  ArchiverLibrary lha("UNLHA32.so", "Unlha");
  EXPECT_EQ(lha.Run("q  " + Quote(t / "a.lzh")), ARC_ERROR_COMMAND_NAME);
  EXPECT_EQ(lha.Run(""), ARC_ERROR_COMMAND_NAME);
  EXPECT_EQ(cmd(nullptr, nullptr, nullptr, 0), ARC_ERROR_COMMAND_NAME);
}

namespace {
struct ProgressLog {
  std::vector<uintptr_t> states;
  std::vector<std::string> names;
  int abortAfterBegins = -1;
};
intptr_t Record(void* context, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto* log = static_cast<ProgressLog*>(context);
  EXPECT_EQ(msg, ArcRegisterWindowMessage("wm_arcextract"));
  log->states.push_back(wparam);
  auto* eis = reinterpret_cast<ArcExtractingInfoEx*>(lparam);
  if (wparam == ARCEXTRACT_BEGIN) log->names.push_back(eis->exinfo.szSourceFileName);
  return log->abortAfterBegins >= 0 && static_cast<int>(log->names.size()) > log->abortAfterBegins ? 1 : 0;
}
}  // namespace

TEST(ArchiverLibraryExtract, ProgressReachesTheOwnerWindowWhichCanAbort) {
  TempDir t;
  MakeFiles(t, {{"src/1.txt", "1"}, {"src/2.txt", std::string(3 << 20, '2')}, {"src/3.txt", "3"}});
  ASSERT_TRUE(Shell(t.path(), "cd src && zip -q ../a.zip 1.txt 2.txt 3.txt"));
  ArchiverLibrary lib("UNZIP32.so", "UnZip");
  ProgressLog log;
  ArcWindow owner{ARC_WINDOW_MAGIC, sizeof(ArcWindow), &log, &Record, nullptr};
  ASSERT_TRUE(lib.Entry<ArcSetOwnerWindowExProc>("SetOwnerWindowEx")(&owner, nullptr));
  ASSERT_EQ(lib.Run("-x  " + Quote(t / "a.zip") + " " + Quote(t / "out/")), 0) << lib.output();
  EXPECT_EQ(log.names, (std::vector<std::string>{"1.txt", "2.txt", "3.txt"}));
  EXPECT_EQ(log.states.front(), static_cast<uintptr_t>(ARCEXTRACT_OPEN));
  EXPECT_EQ(log.states.back(), static_cast<uintptr_t>(ARCEXTRACT_END));
  EXPECT_NE(std::count(log.states.begin(), log.states.end(), ARCEXTRACT_INPROCESS), 0);

  // An answer of 1 stops the command: nothing after it is written.
  log = ProgressLog{};
  log.abortAfterBegins = 1;
  EXPECT_EQ(lib.Run("-x  " + Quote(t / "a.zip") + " " + Quote(t / "stopped/")), ARC_ERROR_USER_CANCEL);
  EXPECT_FALSE(Exists(t / "stopped/3.txt"));
  EXPECT_FALSE(Exists(t / "stopped/2.txt"));
  EXPECT_TRUE(lib.Entry<ArcKillOwnerWindowExProc>("KillOwnerWindowEx")(&owner));
  log = ProgressLog{};
  ASSERT_EQ(lib.Run("-x -o  " + Quote(t / "a.zip") + " " + Quote(t / "out/")), 0);
  EXPECT_TRUE(log.states.empty());
  // Not a window of ours: refused.
  int junk[8] = {};
  EXPECT_FALSE(lib.Entry<ArcSetOwnerWindowExProc>("SetOwnerWindowEx")(reinterpret_cast<ArcHWND>(junk), nullptr));
}

TEST(ArchiverLibraryExtract, ExtractMemReadsOneEntryIntoTheBuffer) {
  TempDir t;
  MakeFiles(t, {{"src/a.txt", "hello memory"}});
  ASSERT_TRUE(Shell(t.path(), "touch -d '@1500000000' src/a.txt && cd src && zip -q ../a.zip a.txt"));
  ArchiverLibrary lib("UNZIP32.so", "UnZip");
  auto mem = lib.Entry<ArcExtractMemProc>("ExtractMem");
  char buf[64] = {};
  int64_t time = 0;
  uint16_t attr = 0;
  uint32_t written = 0;
  std::string line = "  " + Quote(t / "a.zip") + " \"a.txt\"";
  ASSERT_EQ(mem(nullptr, line.c_str(), buf, sizeof buf, &time, &attr, &written), 0);
  EXPECT_EQ(std::string(buf, written), "hello memory");
  EXPECT_EQ(time, 1500000000);
  EXPECT_EQ(attr & 0x20, 0x20);
  EXPECT_NE(mem(nullptr, line.c_str(), buf, 5, &time, &attr, &written), 0);
  EXPECT_EQ(written, 5u);
  std::string none = "  " + Quote(t / "a.zip") + " \"b.txt\"";
  EXPECT_EQ(mem(nullptr, none.c_str(), buf, sizeof buf, &time, &attr, &written), ARC_ERROR_NOT_EXIST);
}
