// Self-extracting archives made by concatenating a stub found on the search
// path (for 7z also through the registry file) with the archive.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ArcTestLibrary.h"
#include "TempDir.h"
#include "archive/SelfExtract.h"

namespace {

// PATH and the state folder pointed at a temporary folder for one test.
class SelfExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* p = std::getenv("PATH");
    const char* h = std::getenv("TOLVANE_HOME");
    savedPath_ = p ? p : "";
    savedHome_ = h ? h : "";
    hadHome_ = h != nullptr;
    ::setenv("PATH", (tmp.dir("bin") + ":/usr/bin:/bin").c_str(), 1);
    ::setenv("TOLVANE_HOME", tmp.dir("state").c_str(), 1);
    archive = tmp.file("x.zip", "ARCHIVE-BYTES");
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    if (hadHome_)
      ::setenv("TOLVANE_HOME", savedHome_.c_str(), 1);
    else
      ::unsetenv("TOLVANE_HOME");
  }
  std::string Message(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(nothing raised)";
  }

  ArcTestLibrary lib;
  TempDir tmp;
  std::string archive, out;

 private:
  std::string savedPath_, savedHome_;
  bool hadHome_ = false;
};

}  // namespace

TEST_F(SelfExtractTest, ZipConcatenatesTheStubAndRunsDashA) {
  TZip32 zip;
  TArchiverOptions o;
  o.gw = 1;
  EXPECT_EQ(Message([&] { zip.MakeSfx(nullptr, archive, out, "", o); }),
            "zip 書庫からのWin32自己解凍書庫の作成には 'sfx32gui.dat' ファイルが必要です。");
  EXPECT_FALSE(std::filesystem::exists(tmp / "x.EXE"));
  tmp.file("bin/sfx32gui.dat", "STUB32");
  EXPECT_EQ(zip.MakeSfx(nullptr, archive, out, "", o), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "x.EXE"), "STUB32ARCHIVE-BYTES");
  EXPECT_EQ(zip.CommandLine, "-A " + tmp / "x.EXE");
  EXPECT_EQ(lib.LastEntry(), "Zip");
  EXPECT_EQ(lib.LastCommand(), zip.CommandLine);

  // 16-bit stub, written into another folder.
  o.gw = -1;
  EXPECT_EQ(Message([&] { zip.MakeSfx(nullptr, archive, out, tmp / "o", o); }),
            "zip 書庫からのDOS自己解凍書庫の作成には 'sfx16.dat' ファイルが必要です。");
  tmp.file("bin/sfx16.dat", "STUB16");
  tmp.dir("o");
  EXPECT_EQ(zip.MakeSfx(nullptr, archive, out, tmp / "o", o), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "o/x.EXE"), "STUB16ARCHIVE-BYTES");
}

TEST_F(SelfExtractTest, ZipNeedsZip32j) {
  UseZipLibraries({TestLibraryPath(), TestLibraryPath(), "/nonexistent/ZIP32J.so"});
  tmp.file("bin/sfx32gui.dat", "STUB32");
  TZip32 zip;
  TArchiverOptions o;
  o.gw = 1;
  EXPECT_EQ(Message([&] { zip.MakeSfx(nullptr, archive, out, "", o); }),
            "zip 書庫からの自己解凍書庫の作成には 'ZIP32J.DLL' ファイルが必要です。");
  EXPECT_FALSE(std::filesystem::exists(tmp / "x.EXE"));
}

TEST_F(SelfExtractTest, TarFamilyUsesKmtarsefAndBz2Refuses) {
  TArchiverOptions o;
  TBZ232 bz2;
  tmp.file("bin/kmtarsef.exe", "TARSTUB");
  EXPECT_EQ(Message([&] { bz2.MakeSfx(nullptr, archive, out, "", o); }), "BZ2 形式書庫は自己解凍形式にできません。");
  std::filesystem::remove(tmp / "bin/kmtarsef.exe");
  TTgz32 tgz;
  std::string tgzFile = tmp.file("a.tar.gz", "TGZ");
  EXPECT_EQ(Message([&] { tgz.MakeSfx(nullptr, tgzFile, out, "", o); }),
            "tar/tgz 書庫からの自己解凍書庫の作成には 'kmtarsef.exe' ファイルが必要です。");
  tmp.file("bin/kmtarsef.exe", "TARSTUB");
  tgz.CommandLine = "before";
  EXPECT_EQ(tgz.MakeSfx(nullptr, tgzFile, out, "", o), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "a.tar.EXE"), "TARSTUBTGZ");
  EXPECT_EQ(tgz.CommandLine, "before");  // nothing run
}

TEST_F(SelfExtractTest, SevenZipLooksInTheRegisteredFolderFirst) {
  TSevenZip32 sz;
  TArchiverOptions o;
  std::string a7 = tmp.file("a.7z", "7Z");
  EXPECT_EQ(Message([&] { sz.MakeSfx(nullptr, a7, out, "", o); }), "16bit SFX を作成することはできません。");
  o.gw = 1;
  EXPECT_EQ(Message([&] { sz.MakeSfx(nullptr, a7, out, "", o); }),
            "7z 書庫からの自己解凍書庫の作成には '7z.sfx' ファイルが必要です。");
  tmp.file("bin/7z.sfx", "PATHSTUB");
  EXPECT_EQ(sz.MakeSfx(nullptr, a7, out, "", o), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "a.exe"), "PATHSTUB7Z");
  tmp.dir("7zip");
  tmp.file("7zip/7z.sfx", "REGSTUB");
  tmp.file("state/registry.ini", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\7-ZIP]\nPath=" + tmp / "7zip" + "\n");
  EXPECT_EQ(sz.MakeSfx(nullptr, a7, out, "", o), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "a.exe"), "REGSTUB7Z");
}

TEST_F(SelfExtractTest, AnUnreadableArchiveLeavesNoOutput) {
  tmp.file("bin/kmtarsef.exe", "TARSTUB");
  TTar32 tar;
  TArchiverOptions o;
  EXPECT_THROW(tar.MakeSfx(nullptr, tmp / "missing.tar", out, "", o), Exception);
  EXPECT_FALSE(std::filesystem::exists(tmp / "missing.EXE"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 3);  // bin, state, x.zip
}

TEST(SelfExtractPathTest, OutputNames) {
  EXPECT_EQ(SfxOutputPath("/a/x.zip", ".EXE", ""), "/a/x.EXE");
  EXPECT_EQ(SfxOutputPath("/a/x.zip", ".EXE", "/out"), "/out/x.EXE");
  EXPECT_EQ(SfxOutputPath("/a.d/x", ".exe", "/out/"), "/out/x.exe");
  EXPECT_EQ(ChangeFileExt("/a.d/x.tar.gz", ".EXE"), "/a.d/x.tar.EXE");
}
