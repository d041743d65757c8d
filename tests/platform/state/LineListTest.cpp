#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "platform/system/Exception.h"
#include "platform/state/LineList.h"

using namespace std::string_literals;

namespace {

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineList, ReadsAnyLineBreakAndKeepsALastUnendedLine) {
  TempDir tmp;
  TLineList list;
  ASSERT_TRUE(list.LoadFromFile(tmp.file("a.text", "one\r\ntwo\nthree\rfour\r\n\r\nsix")));
  EXPECT_EQ(list.Lines, (Lines{"one", "two", "three", "four", "", "six"}));

  // A final line break adds no empty line; LF CR is two breaks.
  ASSERT_TRUE(list.LoadFromFile(tmp.file("b.text", "a\n\rb\r\n")));
  EXPECT_EQ(list.Lines, (Lines{"a", "", "b"}));

  ASSERT_TRUE(list.LoadFromFile(tmp.file("c.text", "\r\n")));
  EXPECT_EQ(list.Lines, (Lines{""}));
}

TEST(LineList, SavesWithCrLfAndRoundTripsAnyBytes) {
  TempDir tmp;
  TLineList list;
  list.Add("/home/user/デスクトップ");
  list.Add("/tmp/\xff\xfe bad utf-8");
  list.Add("");
  list.Add("defo");
  std::string path = tmp / "out.text";
  ASSERT_TRUE(list.SaveToFile(path));
  EXPECT_EQ(ReadWholeFile(path), "/home/user/デスクトップ\r\n/tmp/\xff\xfe bad utf-8\r\n\r\ndefo\r\n");
  EXPECT_EQ(list.Text(), ReadWholeFile(path));

  TLineList back;
  ASSERT_TRUE(back.LoadFromFile(path));
  EXPECT_EQ(back.Lines, list.Lines);

  // Saving over an existing file replaces it and leaves no temporary file.
  back.Clear();
  ASSERT_TRUE(back.SaveToFile(path));
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);

  EXPECT_FALSE(list.SaveToFile(tmp / "missing-folder/x.text"));
}

TEST(LineList, BadFilesLoadAsEmpty) {
  TempDir tmp;
  const std::string cases[] = {
      tmp / "missing.text",
      tmp.file("binary.text", "/home\r\n\0\x01\x02\x03"s),
      tmp.dir("folder.text"),
  };
  for (const std::string& path : cases) {
    TLineList list;
    list.Add("stale");
    EXPECT_FALSE(list.LoadFromFile(path)) << path;
    EXPECT_EQ(list.Count(), 0) << path;  // old lines never survive a load
  }
  TLineList empty;
  empty.Add("stale");
  EXPECT_TRUE(empty.LoadFromFile(tmp.file("empty.text", "")));
  EXPECT_EQ(empty.Count(), 0);
}

TEST(LineList, EditingAndIndexChecks) {
  TLineList list;
  list.SetText("b\r\nd");
  EXPECT_EQ(list.Add("e"), 2);
  list.Insert(0, "a");
  list.Insert(2, "c");
  list.Insert(list.Count(), "f");
  EXPECT_EQ(list.Lines, (Lines{"a", "b", "c", "d", "e", "f"}));
  list.Delete(5);
  list.Delete(0);
  EXPECT_EQ(list.Lines, (Lines{"b", "c", "d", "e"}));
  EXPECT_EQ(list.IndexOf("d"), 2);
  EXPECT_EQ(list.IndexOf("D"), -1);  // paths differ by case here
  EXPECT_EQ(list[1], "c");

  EXPECT_THROW(list.Delete(4), EListError);
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_THROW(list.Insert(5, "x"), EListError);
  EXPECT_THROW((void)list[4], EListError);
  try {
    list.Delete(7);
  } catch (const Exception& e) {
    EXPECT_NE(e.Message.find("(7)"), std::string::npos);
  }
  EXPECT_EQ(list.Count(), 4);
}
