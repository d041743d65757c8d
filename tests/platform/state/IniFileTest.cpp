#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/state/IniFile.h"

using namespace std::string_literals;

namespace {

size_t EntriesIn(const std::string& folder) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(folder); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}

}  // namespace

TEST(IniFile, ReadsWindowsStyle) {
  TempDir tmp;
  std::string path = tmp.file("a.ini",
                              "stray=before any section\r\n"
                              "[Window]\r\n"
                              "  Top = 12 \r\n"
                              "; Left=99\n"
                              "Left=30\r"
                              "Name=a=b\n"
                              "Empty=\n"
                              "no equals sign\n"
                              "TOP=77\n"
                              "[ Ext ]\n"
                              "ImageExt=.bmp;.png\n"
                              "[window]\n"
                              "Width=5\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("window", "top", -1), 12);          // case-insensitive, blanks trimmed, first wins
  EXPECT_EQ(ini.ReadInteger("Window", "Left", -1), 30);         // CR alone ends a line; comment ignored
  EXPECT_EQ(ini.ReadString("Window", "Name", "?"), "a=b");      // only the first '=' splits
  EXPECT_EQ(ini.ReadString("Window", "Empty", "default"), "");  // present but empty is not missing
  EXPECT_EQ(ini.ReadString("Window", "stray", "default"), "default");
  EXPECT_EQ(ini.ReadString("EXT", "imageext", ""), ".bmp;.png");
  EXPECT_EQ(ini.ReadInteger("Window", "Width", -1), -1);  // a repeated section does not count
  EXPECT_EQ(ini.ReadString("Nope", "Top", "d"), "d");

  std::vector<std::string> list;
  ini.ReadSection("WINDOW", list);
  EXPECT_EQ(list, (std::vector<std::string>{"Top", "Left", "Name", "Empty", "TOP"}));
  ini.ReadSections(list);
  EXPECT_EQ(list, (std::vector<std::string>{"Window", "Ext", "window"}));
  ini.ReadSectionValues("Ext", list);
  EXPECT_EQ(list, (std::vector<std::string>{"ImageExt=.bmp;.png"}));
  EXPECT_TRUE(ini.SectionExists("ext"));
  EXPECT_FALSE(ini.SectionExists("Nope"));
  EXPECT_TRUE(ini.ValueExists("Window", "EMPTY"));
  EXPECT_FALSE(ini.ValueExists("Window", "Height"));
}

TEST(IniFile, ParsesIntegersLikeTheFramework) {
  TempDir tmp;
  std::string path = tmp.file("n.ini",
                              "[N]\nDec=-42\nPlus=+7\nDollar=$1F\nHex=0x10\nAllOnes=$FFFFFFFF\n"
                              "Garbage=12abc\nFloat=1.5\nBig=4294967296\nOverflow=2147483648\nMin=-2147483648\n"
                              "Word=true\nZero=0\nSign=-\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("N", "Dec", 0), -42);
  EXPECT_EQ(ini.ReadInteger("N", "Plus", 0), 7);
  EXPECT_EQ(ini.ReadInteger("N", "Dollar", 0), 31);
  EXPECT_EQ(ini.ReadInteger("N", "Hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "AllOnes", 0), -1);
  EXPECT_EQ(ini.ReadInteger("N", "Min", 0), INT32_MIN);
  for (const char* bad : {"Garbage", "Float", "Big", "Overflow", "Word", "Sign", "Missing"})
    EXPECT_EQ(ini.ReadInteger("N", bad, 555), 555) << bad;
  EXPECT_TRUE(ini.ReadBool("N", "Dec", false));
  EXPECT_FALSE(ini.ReadBool("N", "Zero", true));
  EXPECT_TRUE(ini.ReadBool("N", "Word", true));  // not a number: the default
  EXPECT_FALSE(ini.ReadBool("N", "Word", false));
}

TEST(IniFile, WritesKeepTheRestOfTheFile) {
  TempDir tmp;
  std::string path = tmp.file("w.ini",
                              "; settings\n"
                              "[Window]\n"
                              "Top=1\n"
                              "; keep me\n"
                              "\n"
                              "[Ext]\n"
                              "TextExt=.txt\n");
  {
    TIniFile ini(path);
    ini.WriteInteger("window", "TOP", 5);  // replaces in place, keeps the file's spelling
    ini.WriteInteger("Window", "Left", -3);
    ini.WriteBool("Sort", "UpDown", true);
    ini.WriteString("Sort", "Name", "  padded  ");
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 0), 5);  // reads see the writes at once
    // Nothing reaches the disk before UpdateFile or the destructor.
    EXPECT_EQ(ReadWholeFile(path).find("Left"), std::string::npos);
  }
  EXPECT_EQ(ReadWholeFile(path),
            "; settings\r\n"
            "[Window]\r\n"
            "Top=5\r\n"
            "; keep me\r\n"
            "Left=-3\r\n"
            "\r\n"
            "[Ext]\r\n"
            "TextExt=.txt\r\n"
            "[Sort]\r\n"
            "UpDown=1\r\n"
            "Name=padded\r\n");
  EXPECT_EQ(EntriesIn(tmp.path()), 1u);  // no temporary file left behind

  TIniFile again(path);
  EXPECT_TRUE(again.ReadBool("sort", "updown", false));
  EXPECT_EQ(again.ReadInteger("Window", "Left", 0), -3);
}

TEST(IniFile, EraseAndDelete) {
  TempDir tmp;
  std::string path = tmp.file("e.ini", "[A]\nx=1\nX=2\ny=3\n[B]\nz=4\n[b]\nz=5\n");
  TIniFile ini(path);
  ini.DeleteKey("a", "x");
  EXPECT_FALSE(ini.ValueExists("A", "x"));  // the duplicate does not show through
  EXPECT_EQ(ini.ReadInteger("A", "y", 0), 3);
  ini.EraseSection("B");
  EXPECT_FALSE(ini.SectionExists("b"));
  EXPECT_EQ(ini.ReadInteger("B", "z", 0), 0);
  ini.DeleteKey("A", "y");
  EXPECT_FALSE(ini.SectionExists("A"));  // a section without keys does not exist
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(ReadWholeFile(path), "[A]\r\n");
}

TEST(IniFile, RefusesWritesThatWouldNotReadBack) {
  TempDir tmp;
  std::string path = tmp / "s.ini";
  {
    TIniFile ini(path);
    ini.WriteString("S", "Value", "one\r\n[Evil]\r\nInjected=1");
    ini.WriteString("S", "a=b", "x");
    ini.WriteString("S", "[T]", "x");
    ini.WriteString("S", ";c", "x");
    ini.WriteString("S", "  ", "x");
    ini.WriteString("S]x", "k", "x");
  }
  TIniFile ini(path);
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.ReadString("S", "Value", ""), "one  [Evil]  Injected=1");
  std::vector<std::string> keys;
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys, std::vector<std::string>{"Value"});
}

TEST(IniFile, DamagedOrMissingFilesReadAsEmpty) {
  TempDir tmp;
  const std::string cases[] = {
      tmp / "missing.ini",
      tmp.file("empty.ini", ""),
      tmp.file("binary.ini", "[Window]\nTop=9\n\0\x01\x02garbage"s),
      tmp.file("cut.ini", "[Window]\r\nTo"),
      tmp.file("cutheader.ini", "[Wind"),
      tmp.dir("folder.ini"),
  };
  for (const std::string& path : cases) {
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 224), 224) << path;
    EXPECT_FALSE(ini.SectionExists("Window")) << path;
  }
  // A last line without a line break still counts.
  TIniFile cut(tmp.file("nolf.ini", "[Window]\r\nTop=7"));
  EXPECT_EQ(cut.ReadInteger("Window", "Top", 0), 7);

  // The first write replaces a binary file with a readable one.
  {
    TIniFile ini(tmp / "binary.ini");
    ini.WriteInteger("Window", "Top", 3);
  }
  EXPECT_EQ(ReadWholeFile(tmp / "binary.ini"), "[Window]\r\nTop=3\r\n");
}

TEST(IniFile, FailedWriteIsReportedAndHarmless) {
  TempDir tmp;
  {
    TIniFile ini(tmp / "no-such-folder/x.ini");
    ini.WriteString("A", "k", "v");
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_EQ(ini.ReadString("A", "k", ""), "v");  // the change stays in memory
  }                                                // the destructor tries again and must not throw
  if (geteuid() == 0) return;                      // root writes into read-only folders
  std::string folder = tmp.dir("ro");
  std::string path = folder + "/r.ini";
  std::ofstream(path) << "[A]\nk=old\n";
  chmod(folder.c_str(), 0555);
  {
    TIniFile ini(path);
    ini.WriteString("A", "k", "new");
    EXPECT_FALSE(ini.UpdateFile());
  }
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(ReadWholeFile(path), "[A]\nk=old\n");
}

TEST(IniFile, WritesThroughASymbolicLink) {
  TempDir tmp;
  std::string real = tmp.file("real.ini", "[A]\nk=1\n");
  std::string link = tmp / "link.ini";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  chmod(real.c_str(), 0640);
  {
    TIniFile ini(link);
    ini.WriteInteger("A", "k", 2);
  }
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadWholeFile(real), "[A]\r\nk=2\r\n");
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}
