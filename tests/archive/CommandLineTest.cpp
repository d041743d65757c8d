// Command lines as the libraries receive them, byte for byte, for every format.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ArcTestLibrary.h"
#include "TempDir.h"

namespace {

TArchiverOptions LhaReady() {
  TArchiverOptions o;
  o.x = 1;
  o.jso = 1;
  o.jse = 1;
  return o;
}

class CommandLineTest : public ::testing::Test {
 protected:
  ArcTestLibrary lib;
  std::string out;  // no output buffer
};

}  // namespace

TEST_F(CommandLineTest, LhaExtractWithDefaultsReachesTheLibraryExactly) {
  TLha32 lha;
  EXPECT_EQ(lha.Extract(nullptr, "a.lzh", out, false, {}, "/out", LhaReady()), 0);
  const std::string expected = "x -+ -x1 -jse1 -jso1  \"a.lzh\" \"/out/\" ";
  EXPECT_EQ(lha.CommandLine, expected);
  EXPECT_EQ(lib.LastEntry(), "Unlha");
  EXPECT_EQ(lib.LastCommand(), expected);
  EXPECT_TRUE(lib.LastOutputNull());
  EXPECT_EQ(lib.LastOutputSize(), 0u);
}

TEST_F(CommandLineTest, LhaEmitsEverySwitchInDeclarationOrder) {
  TArchiverOptions o;
  int v = 0;
  for (TArchiverOptions::Int* p :
       {&o.a,   &o.c,   &o.e,   &o.f,  &o.h,   &o.i,   &o.l,   &o.m,   &o.n,   &o.o,   &o.p,   &o.r,
        &o.s,   &o.t,   &o.u,   &o.x,  &o.y,   &o.z,   &o.jc,  &o.jd,  &o.je,  &o.jf,  &o.jh,  &o.ji,
        &o.jm,  &o.jn,  &o.jp,  &o.jr, &o.jsb, &o.jsc, &o.jsd, &o.jse, &o.jsf, &o.jsl, &o.jso, &o.jss,
        &o.jst, &o.jsv, &o.jsz, &o.jw, &o.jyc, &o.jyd, &o.jyk, &o.jyn, &o.jyo, &o.ga,  &o.gd,  &o.ge,
        &o.gf,  &o.gj,  &o.gm,  &o.gn, &o.go,  &o.gp,  &o.gs,  &o.gu,  &o.gw})
    *p = static_cast<TArchiverOptions::Int>(v++ % 10);
  o.w = "/tmp";
  o.jo = "O";
  o.job = "B";
  o.jz = "Z";
  o.gr = "R";
  o.jx = {"*.bak", "-x"};
  o.UserOptions = "-user";
  o.UserFileList = "list";
  TLha32 lha;
  lha.Pack(nullptr, "a.lzh", out, false, {std::string("f1"), std::string("f 2")}, "/d/", o);
  EXPECT_EQ(lha.CommandLine,
            "u -+ -a0 -c1 -e2 -f3 -h4 -i5 -l6 -m7 -n8 -o9 -p0 -r1 -s2 -t3 -u4 \"-w/tmp/\" -x5 -y6"
            " -z7 -jc8 -jd9 -je0 -jf1 -jh2 -ji3 -jm4 -jn5 \"-joO\" \"-jobB\" -jp6 -jr7 -jsb8 -jsc9"
            " -jsd0 -jse1 -jsf2 -jsl3 -jso4 -jss5 -jst6 -jsv7 -jsz8 -jw9 \"-jx*.bak\" \"-jx-x\""
            " -jyc0 -jyd1 -jyk2 -jyn3 -jyo4 \"-jzZ\" -ga5 -gd6 -ge7 -gf8 -gj9 -gm0 -gn1 -go2 -gp3"
            " \"-grR\" -gs4 -gu5 -gw6 -user \"a.lzh\" \"/d/\" \"f1\" \"f 2\" list");
}

TEST_F(CommandLineTest, NotSetStringAddsNothingButAnEmptyStringAddsTheBareSwitch) {
  TLha32 lha;
  TArchiverOptions o = LhaReady();
  lha.Delete(nullptr, "a.lzh", out, false, {}, "", o);
  EXPECT_EQ(lha.CommandLine, "d -+ -x1 -jse1 -jso1  \"a.lzh\" ");
  o.jo = "";
  o.w = "";  // an empty folder is left out like an unset one
  lha.Delete(nullptr, "a.lzh", out, false, {}, "", o);
  EXPECT_EQ(lha.CommandLine, "d -+ -x1 \"-jo\" -jse1 -jso1  \"a.lzh\" ");
}

TEST_F(CommandLineTest, NumbersZeroAddTheSwitchAndMinusOneNothing) {
  TLha32 lha;
  TArchiverOptions o = LhaReady();
  o.a = 0;
  o.x = -1;
  lha.Update(nullptr, "a.lzh", out, false, {}, "", o);
  EXPECT_EQ(lha.CommandLine, "f -+ -a0 -jse1 -jso1  \"a.lzh\" ");
}

TEST_F(CommandLineTest, OwnerWindowForcesLhaQuietSwitch) {
  TLha32 lha;
  ArcWindow w{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, nullptr};
  lha.SetOwnerWindowEx(&w, nullptr);
  EXPECT_TRUE(lha.HasOwnerWindow());
  lha.Extract(nullptr, "a.lzh", out, false, {}, "", LhaReady());
  EXPECT_EQ(lha.CommandLine, "x -+ -n1 -x1 -jse1 -jso1  \"a.lzh\" ");
  lha.KillOwnerWindowEx(&w);
  EXPECT_FALSE(lha.HasOwnerWindow());
}

TEST_F(CommandLineTest, LhaAndArjRefuseWithoutJseOrJsoAndRunNothing) {
  TLha32 lha;
  lha.CommandLine = "before";
  TArchiverOptions o = LhaReady();
  o.jse = -1;
  try {
    lha.Extract(nullptr, "a.lzh", out, false, {}, "", o);
    ADD_FAILURE() << "extraction without jse ran";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(std::string(e.what()).rfind("jse オプションが設定されていません。", 0), 0u) << e.what();
  }
  EXPECT_EQ(lha.CommandLine, "before");
  EXPECT_EQ(lib.LastCommand(), "");
  // Packing does not need jse.
  EXPECT_EQ(lha.Pack(nullptr, "a.lzh", out, false, {}, "", o), 0);
  o = LhaReady();
  o.jso = -1;
  EXPECT_THROW(lha.Pack(nullptr, "a.lzh", out, false, {}, "", o), EAssertionFailed);

  TArj32 arj;
  o = LhaReady();
  o.jse = -1;
  EXPECT_THROW(arj.Extract(nullptr, "a.arj", out, false, {}, "", o), EAssertionFailed);
  arj.Extract(nullptr, "a.arj", out, false, {}, "", LhaReady());
  EXPECT_EQ(lib.LastEntry(), "Unarj");
  EXPECT_EQ(lib.LastCommand(), "x -+ -x1 -jse1 -jso1  \"a.arj\" ");
  EXPECT_THROW(arj.Pack(nullptr, "a.arj", out, false, {}, "", LhaReady()), EArchiver);
  EXPECT_EQ(lib.LastEntry(), "Unarj");
}

TEST_F(CommandLineTest, LhaExtractMemHasNoCommandWordNoFolderAndTheEntry) {
  TLha32 lha;
  char buf[16];
  lha.ExtractMem(nullptr, "a.lzh", LhaReady(), "dir/e.txt", buf, sizeof buf, nullptr, nullptr, nullptr);
  EXPECT_EQ(lib.LastEntry(), "UnlhaExtractMem");
  EXPECT_EQ(lib.LastCommand(), " -+ -x1 -jse1 -jso1  \"a.lzh\" \"dir/e.txt\" ");
}

TEST_F(CommandLineTest, ResponseFileCarriesTheNamesAndIsRemovedAfterTheCommand) {
  TempDir tmp;
  TLha32 lha;
  TArchiverOptions o = LhaReady();
  o.ResFileName = tmp / "res.txt";
  TStringList list{"a b.txt", "", "c.txt"};
  EXPECT_EQ(lha.Extract(nullptr, "a.lzh", out, true, {&list, std::string("d.txt")}, "", o), 0);
  EXPECT_EQ(lib.LastCommand(), "x -+ -x1 -jse1 -jso1  \"a.lzh\" \"@" + o.ResFileName + "\" ");
  EXPECT_EQ(lib.LastResponse(), "\"a b.txt\"\r\n\"c.txt\"\r\n\"d.txt\"\r\n");
  EXPECT_NE(::access(o.ResFileName.c_str(), F_OK), 0) << "response file left behind";

  // Not asked for by the usage set, or no file name: the names go on the line.
  lha.Extract(nullptr, "a.lzh", out, false, {&list}, "", o);
  EXPECT_EQ(lib.LastCommand(), "x -+ -x1 -jse1 -jso1  \"a.lzh\" \"a b.txt\" \"c.txt\" ");
  o.ResFileName = "";
  lha.Extract(nullptr, "a.lzh", out, true, {&list}, "", o);
  EXPECT_EQ(lib.LastCommand(), "x -+ -x1 -jse1 -jso1  \"a.lzh\" \"a b.txt\" \"c.txt\" ");
}

TEST_F(CommandLineTest, ResponseFileNeverWritesThroughALinkAndRunsNothingWhenItCannotBeMade) {
  TempDir tmp;
  std::string victim = tmp.file("victim.txt", "keep");
  std::string link = tmp / "res.txt";
  ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
  TLha32 lha;
  lha.CommandLine = "before";
  TArchiverOptions o = LhaReady();
  o.ResFileName = link;
  EXPECT_THROW(lha.Extract(nullptr, "a.lzh", out, true, {std::string("x")}, "", o), Exception);
  EXPECT_EQ(ReadWholeFile(victim), "keep");
  o.ResFileName = tmp / "no/such/folder/res.txt";
  EXPECT_THROW(lha.Extract(nullptr, "a.lzh", out, true, {std::string("x")}, "", o), Exception);
  EXPECT_EQ(lha.CommandLine, "before");
  EXPECT_EQ(lib.LastCommand(), "");
}

TEST_F(CommandLineTest, ZipConvertsFileNamesAndLeavesBackslashesAlone) {
  TZip32 zip;
  TArchiverOptions o;
  o.c = 1;
  o.x = 0;
  TFileArgs files{std::string("-a.txt"), std::string("/dir/a[1].txt"), std::string("b\\c")};
  EXPECT_EQ(zip.Extract(nullptr, "/x/a.zip", out, false, files, "/out", o), 0);
  const std::string expected = "-x -o -j  \"/x/a.zip\" \"/out/\" \"[-]a.txt\" \"/dir/a[[]1].txt\" \"b\\c\" ";
  EXPECT_EQ(zip.CommandLine, expected);
  EXPECT_EQ(lib.LastEntry(), "UnZip");
  EXPECT_EQ(lib.LastCommand(), expected);
  // The converter also applies to a response file.
  TempDir tmp;
  o.ResFileName = tmp / "r";
  zip.Extract(nullptr, "/x/a.zip", out, true, {std::string("-b[")}, "", o);
  EXPECT_EQ(lib.LastResponse(), "\"[-]b[[]\"\r\n");
}

TEST_F(CommandLineTest, ZipCreationLinesForZip32jAndLmzip32Alone) {
  TArchiverOptions o;
  {
    TZip32 zip;
    zip.Pack(nullptr, "a.zip", out, false, {std::string("-f")}, "", o);
    EXPECT_EQ(zip.CommandLine, " -D  \"a.zip\" \"[-]f\" ");
    EXPECT_EQ(lib.LastEntry(), "Zip");
    o.a = 2;
    o.l = 1;
    o.n = 1;
    o.r = 1;
    o.u = 1;
    o.x = 0;
    o.jc = 1;
    o.ji = 1;
    o.jm = 0;
    o.gd = 1;
    zip.Delete(nullptr, "a.zip", out, false, {std::string("f")}, "/d", o);
    EXPECT_EQ(zip.CommandLine, "-d -S -v -q -r -o -u -j -FF -k -0 -J  \"a.zip\" \"f\" ");
    o.a = 1;
    o.jm = 9;
    zip.Update(nullptr, "a.zip", out, false, {std::string("f")}, "/d", o);
    EXPECT_EQ(zip.CommandLine, "-f -S -D -v -q -r -o -u -j -FF -k -9 -J  \"a.zip\" \"/d/\" \"f\" ");
  }
  UseZipLibraries(std::array<std::string, 3>{"/nonexistent/UNZIP32.so", TestLibraryPath(), "/nonexistent/ZIP32J.so"});
  TZip32 zip;
  TArchiverOptions p;
  p.c = 1;
  p.x = 0;
  zip.Pack(nullptr, "a.zip", out, false, {std::string("-f[")}, "/d", p);
  EXPECT_EQ(zip.CommandLine, "-ru -o -j  \"a.zip\" \"-f[\" ");
}

TEST_F(CommandLineTest, ZipRefusesWithoutTheLibrariesItNeeds) {
  UseZipLibraries(std::array<std::string, 3>{"/nonexistent/UNZIP32.so", "/nonexistent/LMZIP32.so", TestLibraryPath()});
  TZip32 zip;
  zip.CommandLine = "before";
  try {
    zip.Extract(nullptr, "a.zip", out, false, {}, "", TArchiverOptions());
    ADD_FAILURE();
  } catch (const EArchiver& e) {
    EXPECT_STREQ(e.what(), "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
  }
  UseZipLibraries(std::array<std::string, 3>{TestLibraryPath(), "/nonexistent/LMZIP32.so", "/nonexistent/ZIP32J.so"});
  try {
    zip.Pack(nullptr, "a.zip", out, false, {}, "", TArchiverOptions());
    ADD_FAILURE();
  } catch (const EArchiver& e) {
    EXPECT_STREQ(e.what(), "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。");
  }
  EXPECT_EQ(zip.CommandLine, "before");
}

TEST_F(CommandLineTest, TarFamilyQuotesSeparatelyAndDoublesTheDash) {
  TArchiverOptions o;
  o.p = 1;
  o.x = 0;
  TTar32 tar;
  tar.Extract(nullptr, "/a b.tar", out, false, {std::string("f1")}, "/out", o);
  EXPECT_EQ(tar.CommandLine, "x --check-all-path=1 --use-directory=0  -f \"/a b.tar\" -o \"/out/\" \"f1\" ");
  EXPECT_EQ(lib.LastEntry(), "Tar");

  TArchiverOptions q;
  q.a = 0;
  q.n = 1;
  q.o = 1;
  TTgz32 tgz;
  tgz.Pack(nullptr, "a.tgz", out, false, {}, "", q);
  EXPECT_EQ(tgz.CommandLine, "c -I --display-dialog=0 -g -z  -f \"a.tgz\" ");
  q.a = 1;
  q.jm = 9;
  ArcWindow w{ARC_WINDOW_MAGIC, sizeof(ArcWindow), nullptr, nullptr, nullptr};
  tgz.SetOwnerWindowEx(&w, nullptr);
  tgz.Pack(nullptr, "a.tgz", out, false, {}, "", q);
  EXPECT_EQ(tgz.CommandLine, "c -AH -g -z9  -f \"a.tgz\" ");
  tgz.KillOwnerWindowEx(&w);
  TBZ232 bz2;
  bz2.Extract(nullptr, "", out, false, {}, "", TArchiverOptions());
  EXPECT_EQ(bz2.CommandLine, "x -B  ");
  q.jm = 0;
  bz2.Extract(nullptr, "a.bz2", out, false, {}, "", q);
  EXPECT_EQ(bz2.CommandLine, "x -AH --display-dialog=0 -g -B  -f \"a.bz2\" ");
  q.jm = 5;
  bz2.Extract(nullptr, "a.bz2", out, false, {}, "", q);
  EXPECT_EQ(bz2.CommandLine, "x -AH --display-dialog=0 -g -B5  -f \"a.bz2\" ");
}

TEST_F(CommandLineTest, RarChoosesExtractWithOrWithoutPaths) {
  TRar32 rar;
  TArchiverOptions o;
  rar.Extract(nullptr, "a.rar", out, false, {}, "/o", o);
  EXPECT_EQ(rar.CommandLine, "-x -u  \"a.rar\" \"/o/\" ");
  EXPECT_EQ(lib.LastEntry(), "Unrar");
  o.x = 0;
  o.c = 1;
  o.m = 1;
  o.p = 1;
  rar.Extract(nullptr, "a.rar", out, false, {}, "", o);
  EXPECT_EQ(rar.CommandLine, "-e -y -s  \"a.rar\" ");
  o.x = 1;
  rar.Extract(nullptr, "a.rar", out, false, {}, "", o);
  EXPECT_EQ(rar.CommandLine.substr(0, 3), "-x ");
}

TEST_F(CommandLineTest, SevenZipExtractsWithXOrE) {
  TSevenZip32 sz;
  TArchiverOptions o;
  sz.Extract(nullptr, "a.7z", out, false, {}, "/o", o);
  EXPECT_EQ(sz.CommandLine, "x \"-o/o/\"  \"a.7z\" ");
  EXPECT_EQ(lib.LastEntry(), "SevenZip");
  o.x = 0;
  o.m = 2;
  o.n = 1;
  o.r = 0;
  o.w = "/w";
  o.y = 1;
  o.jx = {"*.tmp"};
  sz.Extract(nullptr, "a.7z", out, false, {std::string("f")}, "", o);
  EXPECT_EQ(sz.CommandLine, "e -aou -hide -r- \"-w/w/\" -y \"-x!*.tmp\"  \"a.7z\" \"f\" ");
  TArchiverOptions p;
  p.x = 1;
  p.jn = 1;
  p.c = 1;
  p.r = 2;
  sz.Extract(nullptr, "a.7z", out, false, {}, "", p);
  EXPECT_EQ(sz.CommandLine, "x -aos -r  \"a.7z\" ");
  p.jn = -1;
  sz.Extract(nullptr, "a.7z", out, false, {}, "", p);
  EXPECT_EQ(sz.CommandLine, "x -aoa -r  \"a.7z\" ");
  // The overwrite switches belong to extraction only.
  sz.Pack(nullptr, "a.7z", out, false, {std::string("f")}, "", p);
  EXPECT_EQ(sz.CommandLine, "u -r  \"a.7z\" \"f\" ");
}

TEST_F(CommandLineTest, CabAndBgaLines) {
  TempDir tmp;
  TCab32 cab;
  TArchiverOptions o;
  o.w = "/tmp";
  o.c = 1;
  o.r = 1;
  o.x = 0;
  o.ji = 1;
  cab.Pack(nullptr, "a.cab", out, false, {std::string("f")}, "", o);
  EXPECT_EQ(cab.CommandLine, "-a -o -r \"-h/tmp/\" -j -q  \"a.cab\" \"f\" ");
  // Extraction names the archive by its full path.
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  cab.Extract(nullptr, "a.cab", out, false, {}, "", TArchiverOptions());
  EXPECT_EQ(cab.CommandLine, "-x  \"" + std::string(cwd) + "/a.cab\" ");

  TBGA32 bga;
  TArchiverOptions b;
  bga.Extract(nullptr, "a.gza", out, false, {}, "", b);
  EXPECT_EQ(bga.CommandLine, "x -n -j  \"a.gza\" ");
  b.a = 1;
  b.c = 1;
  b.n = 1;
  b.r = 1;
  b.x = 1;
  b.jm = 0;
  bga.Pack(nullptr, "a.gza", out, false, {}, "/o", b);
  EXPECT_EQ(bga.CommandLine, "a -a -o -i -r -l0  \"a.gza\" \"/o/\" ");
  EXPECT_EQ(lib.LastEntry(), "Bga");
}

TEST_F(CommandLineTest, UnsupportedOperationsRaiseTheirMessagesAndRunNothing) {
  TRar32 rar;
  TCab32 cab;
  TTar32 tar;
  TBGA32 bga;
  TSevenZip32 sz;
  rar.CommandLine = "before";
  auto message = [](auto&& f) {
    try {
      f();
    } catch (const EArchiver& e) {
      return std::string(e.what());
    }
    return std::string("(nothing raised)");
  };
  TArchiverOptions o;
  TFileArgs none;
  EXPECT_EQ(message([&] { rar.Pack(nullptr, "a", out, false, none, "", o); }),
            "この形式では書庫ファイルの作成をサポートしておりません。");
  EXPECT_EQ(message([&] { cab.Delete(nullptr, "a", out, false, none, "", o); }),
            "この形式の書庫ではファイルの削除をサポートしておりません。");
  EXPECT_EQ(message([&] { tar.Update(nullptr, "a", out, false, none, "", o); }),
            "この形式の書庫では書庫の更新をサポートしておりません。");
  EXPECT_EQ(message([&] { rar.MakeSfx(nullptr, "a", out, "", o); }),
            "この形式では自己解凍書庫の作成をサポートしておりません。");
  EXPECT_EQ(message([&] { bga.ExtractMem(nullptr, "a", o, "e", nullptr, 0, nullptr, nullptr, nullptr); }),
            "この形式ではメモリへの展開をサポートしておりません。");
  EXPECT_EQ(message([&] { sz.Update(nullptr, "a", out, false, none, "", o); }),
            "この形式の書庫では書庫の更新をサポートしておりません。");
  EXPECT_EQ(rar.CommandLine, "before");
  EXPECT_EQ(lib.LastCommand(), "");
}
