#include <gtest/gtest.h>

#include <algorithm>

#include "platform/namespace/Drives.h"
#include "shell/actions/NameMasks.h"
#include "shell/actions/Wildcard.h"

TEST(Wildcard, MasksThatMatchEverything) {
  for (const char* name : {"readme", "readme.txt", "a.b.c", ".profile", "", "名前.テキスト"}) {
    EXPECT_TRUE(MatchWildcard(name, "*.*")) << name;
    EXPECT_TRUE(MatchWildcard(name, "*")) << name;
    EXPECT_TRUE(MatchWildcard(name, "")) << name;
  }
  // Only those exact masks: "**" and "*.?" are ordinary masks.
  EXPECT_FALSE(MatchWildcard("readme.txt", "**"));
  EXPECT_TRUE(MatchWildcard("readme", "**"));
  EXPECT_FALSE(MatchWildcard("readme", "*.?"));
}

TEST(Wildcard, IgnoresLetterCase) {
  EXPECT_TRUE(MatchWildcard("readme.txt", "*.txt"));
  EXPECT_TRUE(MatchWildcard("README.TXT", "*.txt"));
  EXPECT_TRUE(MatchWildcard("readme.txt", "*.TXT"));
  EXPECT_TRUE(MatchWildcard("ReadMe.Txt", "rEADmE.tXT"));
  EXPECT_FALSE(MatchWildcard("readme", "*.txt"));
  // Beyond ASCII too: Ä/ä, Greek, full-width Latin.
  EXPECT_TRUE(MatchWildcard("ÄRGER.txt", "ärger.*"));
  EXPECT_TRUE(MatchWildcard("λόγος.md", "ΛΌΓΟΣ.MD"));
  EXPECT_TRUE(MatchWildcard("ｆｉｌｅ.txt", "ＦＩＬＥ.txt"));
  EXPECT_FALSE(MatchWildcard("ärger.txt", "arger.txt"));
  // The part matcher itself compares exactly; folding is the caller's job.
  EXPECT_FALSE(MatchWildcardPart("abc", "ABC"));
  EXPECT_EQ(UpperCaseName("abc.äö"), "ABC.ÄÖ");
}

TEST(Wildcard, StarEndsThePart) {
  EXPECT_TRUE(MatchWildcard("abc.txt", "a*z.txt"));  // what follows '*' has no effect
  EXPECT_TRUE(MatchWildcard("a.txt", "a*.txt"));     // '*' matches nothing too
  EXPECT_TRUE(MatchWildcard("readme", "read*"));
  EXPECT_FALSE(MatchWildcard("readme.txt", "read*"));  // no dot in the mask: no extension allowed
  EXPECT_TRUE(MatchWildcard("readme", "*."));
  EXPECT_FALSE(MatchWildcard("readme.txt", "*."));
  EXPECT_TRUE(MatchWildcard("readme.", "*."));
  EXPECT_TRUE(MatchWildcard("photo.jpeg", "*.jp*"));
  EXPECT_FALSE(MatchWildcard("photo.png", "*.jp*"));
  EXPECT_FALSE(MatchWildcard("xreadme.txt", "read*.txt"));
  EXPECT_FALSE(MatchWildcard("rea.txt", "read*.txt"));
  EXPECT_TRUE(MatchWildcardPart("anything", "*ignored"));
}

TEST(Wildcard, QuestionMarkIsOneCodePoint) {
  EXPECT_FALSE(MatchWildcard("a", "a?"));
  EXPECT_TRUE(MatchWildcard("ab", "a?"));
  EXPECT_FALSE(MatchWildcard("abc", "a?"));
  EXPECT_TRUE(MatchWildcard("aあ", "a?"));  // three bytes, one character
  EXPECT_FALSE(MatchWildcard("aあ", "a??"));
  EXPECT_TRUE(MatchWildcard("a😀", "a?"));  // four bytes
  EXPECT_TRUE(MatchWildcard("あい.txt", "?い.*"));
  EXPECT_FALSE(MatchWildcard("あい.txt", "?う.*"));
  EXPECT_TRUE(MatchWildcard("x.c", "x.?"));
  EXPECT_FALSE(MatchWildcard("x", "x.?"));
  EXPECT_FALSE(MatchWildcardPart("", "?"));
}

TEST(Wildcard, OnlyTheLastDotSplits) {
  EXPECT_TRUE(MatchWildcard("archive.tar.gz", "*.gz"));
  EXPECT_TRUE(MatchWildcard("archive.tar.gz", "archive.tar.*"));
  EXPECT_TRUE(MatchWildcard("archive.tar.gz", "*.tar.gz"));
  EXPECT_FALSE(MatchWildcard("archive.tar.gz", "*.tar"));
  EXPECT_FALSE(MatchWildcard("archive.tar.gz", "archive.*"));  // base "archive" is not "archive.tar"
  EXPECT_TRUE(MatchWildcard("a.b.c", "a.?.c"));
}

TEST(Wildcard, DotFilesHaveAnEmptyBase) {
  EXPECT_TRUE(MatchWildcard(".profile", "*.profile"));
  EXPECT_TRUE(MatchWildcard(".profile", ".*"));
  EXPECT_FALSE(MatchWildcard(".profile", "?.profile"));
  EXPECT_FALSE(MatchWildcard("x.profile", ".*"));
  EXPECT_TRUE(MatchWildcard(".PROFILE", ".profile"));
}

TEST(Wildcard, InvalidBytesAreCharactersOfTheirOwn) {
  EXPECT_TRUE(MatchWildcard("a\xff.txt", "a?.txt"));
  EXPECT_TRUE(MatchWildcard("a\xff.txt", "a\xff.txt"));
  // A cut sequence: two bytes, two characters.
  EXPECT_TRUE(MatchWildcard("\xe3\x81.txt", "??.txt"));
  EXPECT_FALSE(MatchWildcard("\xe3\x81.txt", "?.txt"));
  // Latin-1 é is not the character é, and is not case-folded into É.
  EXPECT_FALSE(MatchWildcard("\xe9.txt", "é.txt"));
  EXPECT_FALSE(MatchWildcard("\xe9.txt", "\xc9.txt"));
  // An overlong encoding is two bad bytes, not one character.
  EXPECT_FALSE(MatchWildcard("a\xc0\xae", "a?"));
  EXPECT_TRUE(MatchWildcard("a\xc0\xae", "a??"));
  EXPECT_EQ(UpperCaseName("a\xff\xe3\x81z"), "A\xff\xe3\x81Z");
  // Null parts read as empty.
  EXPECT_TRUE(MatchWildcardPart(nullptr, nullptr));
  EXPECT_TRUE(MatchWildcardPart(nullptr, "*"));
  EXPECT_FALSE(MatchWildcardPart(nullptr, "?"));
  EXPECT_FALSE(MatchWildcardPart("a", nullptr));
}

TEST(Wildcard, ListLogicalDrivesReplacesTheList) {
  ListLogicalDrives(nullptr);  // nothing to do, nothing breaks
  std::vector<std::string> list{"stale", "C:\\"};
  ListLogicalDrives(&list);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(std::count(list.begin(), list.end(), "/"), 1);
  EXPECT_EQ(std::count(list.begin(), list.end(), "stale"), 0);
  EXPECT_EQ(std::count(list.begin(), list.end(), "C:\\"), 0);

  // The same roots in the same order as the system gives them.
  std::string strings = GetLogicalDriveStrings();
  std::string joined;
  for (const std::string& root : list) joined += root + '\0';
  joined += '\0';
  EXPECT_EQ(joined, strings);
}

TEST(Wildcard, SearchMasksLeaveOutWhatFollowsTheBar) {
  NameMasks masks("*.jpg, *.PNG | thumb*.* \"x|y*.*\"");
  EXPECT_TRUE(masks.Matches("photo.jpg"));
  EXPECT_TRUE(masks.Matches("shot.png"));
  EXPECT_FALSE(masks.Matches("thumb.jpg"));
  EXPECT_FALSE(masks.Matches("x|y.png"));  // a quoted bar is part of a mask
  EXPECT_FALSE(masks.Matches("notes.txt"));
  // Only exclusions: every other name.
  NameMasks leaveOut("| *.o");
  EXPECT_TRUE(leaveOut.Matches("main.c"));
  EXPECT_FALSE(leaveOut.Matches("main.o"));
  EXPECT_TRUE(NameMasks("").Matches("anything"));
  EXPECT_TRUE(NameMasks("\"a|b.txt\"").Matches("a|b.txt"));
}
