// The format of an archive from its name, and of an ".exe" from what the
// libraries make of its contents; what setting the file name and type does.
#include <gtest/gtest.h>

#include "ArcTestLibrary.h"
#include "TempDir.h"
#include "archive/ArchiveFile.h"

TEST(DetectTest, ByExtensionIgnoringCaseAndOnlyTheLastOne) {
  struct {
    const char* name;
    TArchiverType type;
  } cases[] = {{"ARCHIVE.LZH", atLha},   {"a.Lzh", atLha},  {"/x/a.lzh", atLha}, {"a.tar.gz", atTgz},
               {"a.jar", atZip},         {"a.zip", atZip},  {"a.cab", atCab},    {"a.arj", atArj},
               {"a.7z", at7z},           {"a.Z", atTgz},    {"a.taz", atTgz},    {"a.tgz", atTgz},
               {"lib.a", atTar},         {"x.lib", atTar},  {"p.deb", atTar},    {"p.rpm", atTar},
               {"a.cpio", atTar},        {"a.bz2", atBZ2},  {"a.gza", atBga},    {"a.bza", atBga},
               {"a.gca", atGCA},         {"a.rar", atRar},  {"a.txt", atNone},   {"noext", atNone},
               {"dir.zip/file", atNone}, {"a.zip.", atNone}};
  for (const auto& c : cases) EXPECT_EQ(DetectArchiverType(c.name, true), c.type) << c.name;
}

TEST(DetectTest, ExeContentsWithPrecedenceLhaCabBgaZipArjRarThenTar) {
  ArcTestLibrary lib;
  TempDir tmp;
  struct {
    const char* markers;
    TArchiverType type;
  } cases[] = {{"", atNone},
               {"[Tar=1]", atTar},
               {"[Tar=2]", atTgz},
               {"[Tar=5]", atTgz},
               {"[Tar=7]", atBZ2},
               {"[Tar=8]", atNone},
               {"[Tar=1][Unrar]", atRar},
               {"[Unrar][Unarj]", atArj},
               {"[Unarj][UnZip]", atZip},
               {"[UnZip][Bga]", atBga},
               {"[Bga][Cab]", atCab},
               {"[Cab][Unlha]", atLha},
               {"[UnZip][Unlha]", atLha}};
  int k = 0;
  for (const auto& c : cases) {
    std::string exe = tmp.file("setup" + std::to_string(k++) + ".EXE", std::string("MZ") + c.markers);
    EXPECT_EQ(DetectArchiverType(exe, true), c.type) << c.markers;
  }
  // A relative name is probed by its full path.
  EXPECT_EQ(DetectArchiverType(tmp.file("plain.exe", "[Unlha]"), false), atLha);
}

TEST(DetectTest, ProbesThatCannotLoadTheirLibraryAnswerNo) {
  ArcTestLibrary lib;
  TLha32::Binding.FreeDLL();
  TLha32::Binding.DllName = "NOSUCH32.DLL";
  TempDir tmp;
  EXPECT_EQ(DetectArchiverType(tmp.file("a.exe", "[Unlha][UnZip]"), true), atZip);
  TLha32::Binding.FreeDLL();
}

TEST(DetectTest, FileNameChoosesTheArchiverAndUnknownNamesKeepIt) {
  ArcTestLibrary lib;
  TArchiveFile af;
  EXPECT_EQ(af.FileName(), kNotSetString);
  EXPECT_EQ(af.ArchiverType(), atAutoDetect);
  EXPECT_EQ(af.Archiver(), nullptr);
  af.SetFileName("a.lzh");
  EXPECT_EQ(af.ArchiverType(), atLha);
  EXPECT_NE(dynamic_cast<TLha32*>(af.Archiver()), nullptr);
  TArchiver* lha = af.Archiver();
  af.SetFileName("readme.txt");
  EXPECT_EQ(af.FileName(), "readme.txt");
  EXPECT_EQ(af.ArchiverType(), atLha);
  EXPECT_EQ(af.Archiver(), lha);

  // The same name twice: a new archiver each time over the one binding.
  af.SetFileName("a.zip");
  TArchiver* zip1 = af.Archiver();
  TZipDll* binding = TZip32::Binding.get();
  af.SetFileName("a.zip");
  EXPECT_NE(af.Archiver(), zip1);
  EXPECT_NE(dynamic_cast<TZip32*>(af.Archiver()), nullptr);
  EXPECT_EQ(TZip32::Binding.get(), binding);

  try {
    af.SetFileName("a.gca");
    ADD_FAILURE();
  } catch (const EArchiver& e) {
    EXPECT_STREQ(e.what(), "書庫の形式を特定できませんでした。");
  }
  EXPECT_EQ(af.FileName(), "a.zip");
  EXPECT_EQ(af.ArchiverType(), atZip);

  af.SetArchiverType(atAutoDetect);
  EXPECT_EQ(af.ArchiverType(), atAutoDetect);
  EXPECT_NE(af.Archiver(), nullptr);
  af.Loading = true;
  af.SetArchiverType(atBel);
  EXPECT_EQ(af.ArchiverType(), atBel);
}

TEST(DetectTest, MissingLibraryKeepsThePreviousStateAndLaterCreationSucceeds) {
  ArcTestLibrary lib;
  TArchiveFile af;
  af.SetFileName("a.rar");
  TArchiver* rar = af.Archiver();
  // ARJ has no library on this platform.
  TArj32::Binding.FreeDLL();
  TArj32::Binding.DllName = "UNARJ32J.DLL";
  try {
    af.SetFileName("b.arj");
    ADD_FAILURE();
  } catch (const ENoArchiverDLL& e) {
    EXPECT_STREQ(e.what(), "ARJ 形式書庫 を扱うには UNARJ32J.DLL が 必要です。");
  }
  EXPECT_EQ(af.FileName(), "a.rar");
  EXPECT_EQ(af.ArchiverType(), atRar);
  EXPECT_EQ(af.Archiver(), rar);
  // The unloaded binding stays: the second time the archiver is made, and
  // the error comes from the first operation that loads.
  af.SetFileName("b.arj");
  EXPECT_EQ(af.ArchiverType(), atArj);
  TArchiverOptions o;
  o.jse = o.jso = 1;
  std::string out;
  EXPECT_THROW(af.Archiver()->Extract(nullptr, "b.arj", out, false, {}, "", o), ENoArchiverDLL);
  TArj32::Binding.FreeDLL();
}
