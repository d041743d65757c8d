// The archive file component over the real archiver libraries, with archives
// made in the test by the real tools (zip, bsdtar).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "TempDir.h"
#include "TestData.h"
#include "archive/ArchiveFile.h"
#include "archive/Tar32.h"
#include "archive/Zip32.h"

namespace {

bool Tool(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1").c_str()) == 0;
}

bool IsFile(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A folder "src" of a few files, one in a sub-folder and one with a Japanese name.
std::string MakeSource(const TempDir& tmp) {
  tmp.dir("src/sub");
  tmp.file("src/a.txt", "alpha\n");
  tmp.file("src/sub/b.txt", std::string(100000, 'b'));
  tmp.file("src/日本語.txt", "nihongo");
  return tmp / "src";
}

class ArchiveFileExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh binding per test, over the libraries beside the program.
    TZip32::FreeDLL();
    TTar32::FreeDLL();
  }
  TempDir tmp;
};

}  // namespace

TEST_F(ArchiveFileExtractTest, ZipExtractsWithAndWithoutPaths) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "cd src && zip -qr ../t.zip ."));
  TArchiveFile af;
  af.SetFileName(tmp / "t.zip");
  ASSERT_EQ(af.ArchiverType(), atZip);
  af.SetOutputSize(4096);
  af.Options.x = 1;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "out"), 0) << af.OutputText();
  EXPECT_EQ(ReadWholeFile(tmp / "out/a.txt"), "alpha\n");
  EXPECT_EQ(ReadWholeFile(tmp / "out/sub/b.txt"), std::string(100000, 'b'));
  EXPECT_EQ(ReadWholeFile(tmp / "out/日本語.txt"), "nihongo");

  af.Options.x = 0;
  af.Options.c = 1;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {std::string("sub/b.txt")}, tmp / "flat"), 0) << af.OutputText();
  EXPECT_TRUE(IsFile(tmp / "flat/b.txt"));
  EXPECT_FALSE(IsFile(tmp / "flat/a.txt"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "flat/sub"));
}

TEST_F(ArchiveFileExtractTest, ListingThroughTheArchiverAndHandleZeroFindsNothing) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "cd src && zip -qr ../t.zip a.txt sub/b.txt"));
  TArchiveFile af;
  af.SetFileName(tmp / "t.zip");
  TArchiveEntryInfo info{};
  EXPECT_NE(af.FindFirst("*.*", &info), 0);
  EXPECT_NE(af.FindNext(&info), 0);

  HARC h = af.Archiver()->OpenArchive(nullptr, af.FileName(), 0);
  ASSERT_NE(h, nullptr);
  std::vector<std::pair<std::string, int64_t>> seen;
  for (int r = af.Archiver()->FindFirst(h, &info, "*.*"); r == 0; r = af.Archiver()->FindNext(h, &info))
    seen.emplace_back(info.Info.szFileName, int64_t(info.OriginalSize));  // packed: by value
  af.Archiver()->CloseArchive(h);
  std::sort(seen.begin(), seen.end());
  ASSERT_GE(seen.size(), 2u);
  auto find = [&](const std::string& name) {
    for (auto& [n, s] : seen)
      if (n == name) return s;
    return int64_t(-1);
  };
  EXPECT_EQ(find("a.txt"), 6);
  EXPECT_EQ(find("sub/b.txt"), 100000);
  // The record's write time is filled: not zero, after 2000.
  EXPECT_GT((uint64_t(info.LastWriteTime.dwHighDateTime) << 32) | info.LastWriteTime.dwLowDateTime,
            125911584000000000ull);
}

TEST_F(ArchiveFileExtractTest, ProgressOfARealExtractionReachesOnProgress) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "cd src && zip -qr ../t.zip ."));
  TArchiveFile af;
  af.SetFileName(tmp / "t.zip");
  std::vector<int> states;
  std::vector<std::string> names;
  af.OnProgress = [&](TArchiveFile* sender, int state, ArcExtractingInfoEx* eis, bool&) {
    states.push_back(state);
    if (eis) names.emplace_back(eis->exinfo.szSourceFileName);
  };
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "out"), 0);
  EXPECT_FALSE(states.empty());
  EXPECT_NE(std::find(names.begin(), names.end(), "sub/b.txt"), names.end());
  EXPECT_TRUE(IsFile(tmp / "out/sub/b.txt"));

  // Aborting from the handler stops the library with a failure.
  af.OnProgress = [&](TArchiveFile*, int, ArcExtractingInfoEx*, bool& abort) { abort = true; };
  EXPECT_NE(af.Extract(nullptr, nullptr, {}, tmp / "aborted"), 0);
  EXPECT_FALSE(IsFile(tmp / "aborted/sub/b.txt"));
}

TEST_F(ArchiveFileExtractTest, TgzFromBsdtarThroughTar32) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "bsdtar -czf t.tgz -C src ."));
  TArchiveFile af;
  af.SetFileName(tmp / "t.tgz");
  ASSERT_EQ(af.ArchiverType(), atTgz);
  af.SetOutputSize(4096);
  af.Options.x = 1;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "out"), 0) << af.OutputText();
  EXPECT_EQ(ReadWholeFile(tmp / "out/sub/b.txt"), std::string(100000, 'b'));
  EXPECT_EQ(ReadWholeFile(tmp / "out/日本語.txt"), "nihongo");
}

TEST_F(ArchiveFileExtractTest, ExeArchivesAreRecognisedByTheLibraries) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(),
                   "cd src && zip -qr ../z.exe . && cd .. && bsdtar -czf g.exe -C src . && "
                   "bsdtar -cf t.exe -C src ."));
  tmp.file("plain.exe", std::string(4096, 'M'));
  EXPECT_EQ(DetectArchiverType(tmp / "z.exe", true), atZip);
  EXPECT_EQ(DetectArchiverType(tmp / "g.exe", true), atTgz);
  EXPECT_EQ(DetectArchiverType(tmp / "t.exe", true), atTar);
  EXPECT_EQ(DetectArchiverType(tmp / "plain.exe", true), atNone);
  TArchiveFile af;
  af.SetFileName(tmp / "z.exe");
  EXPECT_EQ(af.ArchiverType(), atZip);
  af.SetFileName(tmp / "plain.exe");
  EXPECT_EQ(af.ArchiverType(), atZip);  // nothing recognised: unchanged
}

TEST_F(ArchiveFileExtractTest, ACorruptArchiveFailsWithAMessageInTheBuffer) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "cd src && zip -qr ../t.zip ."));
  std::string data = ReadWholeFile(tmp / "t.zip");
  tmp.file("cut.zip", data.substr(0, data.size() / 2));
  TArchiveFile af;
  af.SetFileName(tmp / "cut.zip");
  af.SetOutputSize(1024);
  EXPECT_NE(af.Extract(nullptr, nullptr, {}, tmp / "out"), 0);
  EXPECT_FALSE(af.OutputText().empty());
  af.SetOutputSize(0);
  EXPECT_NE(af.Extract(nullptr, nullptr, {}, tmp / "out2"), 0);
}

TEST_F(ArchiveFileExtractTest, LhaCabAndRarOfOtherSystemsWithTheirLines) {
  TArchiveFile af;
  af.SetOutputSize(4096);
  af.Options.x = 1;
  af.Options.jso = 1;
  af.Options.jse = 1;
  af.SetFileName(TestArchive("lha_filename_cp932.lzh"));
  ASSERT_EQ(af.ArchiverType(), atLha);
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "lha"), 0) << af.OutputText();
  EXPECT_TRUE(IsFile(tmp / "lha/漢字.txt"));
  EXPECT_TRUE(IsFile(tmp / "lha/表.txt"));

  af.SetFileName(TestArchive("cab_filename_cp932.cab"));
  ASSERT_EQ(af.ArchiverType(), atCab);
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "cab"), 0) << af.OutputText();
  EXPECT_TRUE(IsFile(tmp / "cab/表だよ/一覧表.txt"));

  // RAR without paths ("-e"), and only the names asked for.
  af.SetFileName(TestArchive("rar5_multiple_files.rar"));
  ASSERT_EQ(af.ArchiverType(), atRar);
  af.Options.x = 0;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {std::string("test2.bin")}, tmp / "rar"), 0) << af.OutputText();
  EXPECT_EQ(af.CommandLine.substr(0, 3), "-e ");
  EXPECT_TRUE(IsFile(tmp / "rar/test2.bin"));
  EXPECT_FALSE(IsFile(tmp / "rar/test1.bin"));
}

TEST_F(ArchiveFileExtractTest, SevenZipFromTheRealToolWithXAndE) {
  MakeSource(tmp);
  ASSERT_TRUE(Tool(tmp.path(), "cd src && 7zz a -bd ../t.7z ."));
  TArchiveFile af;
  af.SetFileName(tmp / "t.7z");
  ASSERT_EQ(af.ArchiverType(), at7z);
  af.SetOutputSize(4096);
  af.Options.x = 1;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "x"), 0) << af.OutputText();
  EXPECT_EQ(ReadWholeFile(tmp / "x/sub/b.txt"), std::string(100000, 'b'));
  af.Options.x = 0;
  EXPECT_EQ(af.Extract(nullptr, nullptr, {}, tmp / "e"), 0) << af.OutputText();
  EXPECT_TRUE(IsFile(tmp / "e/b.txt"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "e/sub"));
}
