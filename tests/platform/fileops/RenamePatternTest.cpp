// Names made by rename patterns, and the conflicts found before anything moves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "FileOperationTestUtil.h"
#include "TempDir.h"
#include "platform/fileops/RenamePattern.h"

namespace {

RenameSource Source(const std::string& folder, const std::string& name, int64_t mtime = 0) {
  RenameSource s;
  s.folder = folder;
  s.name = name;
  s.mtime = mtime;
  return s;
}

std::string Expand(const RenameRule& rule, const std::string& name, size_t index = 0, int64_t mtime = 0) {
  std::string error;
  std::string out = ExpandRenameRule(rule, Source("/photos/京都", name, mtime), index, &error);
  return error.empty() ? out : "error: " + error;
}

}  // namespace

TEST(RenamePatternTest, PlaceholdersCountersAndDates) {
  RenameRule rule;
  EXPECT_EQ(Expand(rule, "IMG_0001.JPG"), "IMG_0001.JPG");
  rule.namePattern = "旅行_[C:3]";
  EXPECT_EQ(Expand(rule, "IMG_0001.JPG", 0), "旅行_001.JPG");
  EXPECT_EQ(Expand(rule, "IMG_0002.JPG", 19), "旅行_020.JPG");
  rule.namePattern = "[C10+5:4]-[N5-8]-[N2]-[N7-]";
  EXPECT_EQ(Expand(rule, "IMG_0042.jpg", 2), "0020-0042-M-42.jpg");
  // The rule's own counter settings, and a negative step.
  rule.namePattern = "[C]";
  rule.counterStart = 3;
  rule.counterStep = -2;
  rule.counterWidth = 2;
  EXPECT_EQ(Expand(rule, "a.txt", 0), "03.txt");
  EXPECT_EQ(Expand(rule, "a.txt", 3), "-03.txt");
  // Characters, not bytes; the parent folder; brackets; no extension on a dot file.
  rule = RenameRule();
  rule.namePattern = "[P]-[N2-3]-[[]x[]]";
  EXPECT_EQ(Expand(rule, "日本語の名前.txt"), "京都-本語-[x].txt");
  rule.namePattern = "[N]";
  rule.extPattern = "bak";
  EXPECT_EQ(Expand(rule, ".profile"), ".profile.bak");
  rule.extPattern = "[E]";
  rule.namePattern = "[Y][M][D]_[h][m][s]";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(Expand(rule, "p.jpg", 0, 1700000000), "20231114_221320.jpg");
  // Unknown or broken placeholders say so.
  rule.namePattern = "[Q]";
  EXPECT_NE(Expand(rule, "a.txt").find("error"), std::string::npos);
  rule.namePattern = "[N";
  EXPECT_NE(Expand(rule, "a.txt").find("error"), std::string::npos);
  rule.namePattern = "[N3-1]";
  EXPECT_NE(Expand(rule, "abc.txt").find("error"), std::string::npos);
}

TEST(RenamePatternTest, FindReplaceAndCase) {
  RenameRule rule;
  rule.find = "a";
  rule.replace = "o";
  EXPECT_EQ(Expand(rule, "banana.tar"), "bonono.tor");
  rule.ignoreCase = true;
  EXPECT_EQ(Expand(rule, "BAnana.txt"), "Bonono.txt");
  rule = RenameRule();
  rule.regex = true;
  rule.find = "^IMG_(\\d+)_(\\w+)";
  rule.replace = "\\2-\\1";
  EXPECT_EQ(Expand(rule, "IMG_0042_tokyo.jpg"), "tokyo-0042.jpg");
  rule.find = "(";
  EXPECT_NE(Expand(rule, "a.jpg").find("正規表現"), std::string::npos);
  rule = RenameRule();
  rule.letterCase = RenameRule::Case::Lower;
  EXPECT_EQ(Expand(rule, "ÄPFEL.JPG"), "äpfel.jpg");
  rule.letterCase = RenameRule::Case::Upper;
  EXPECT_EQ(Expand(rule, "straße.txt"), "STRASSE.TXT");
  rule.letterCase = RenameRule::Case::FirstUpper;
  EXPECT_EQ(Expand(rule, "hELLO wORLD.TXT"), "Hello world.txt");
  // A name that is not UTF-8 keeps its bytes where no text work is asked...
  rule = RenameRule();
  rule.namePattern = "x_[N]";
  EXPECT_EQ(Expand(rule, "\xff\xfe.bin"), "x_\xff\xfe.bin");
  // ...and is refused where it would be damaged.
  rule.letterCase = RenameRule::Case::Upper;
  EXPECT_NE(Expand(rule, "\xff\xfe.bin").find("error"), std::string::npos);
}

TEST(RenamePatternTest, EveryKindOfConflictIsMarked) {
  TempDir tmp;
  const std::string d = tmp.dir("d");
  for (const char* name : {"a.txt", "b.txt", "c.txt", "keep.txt"}) tmp.file(std::string("d/") + name, "x");
  tmp.file("d/taken.txt", "outside the batch");
  std::vector<RenameSource> sources;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    RenameSource s;
    ASSERT_TRUE(LookUpRenameSource(d, name, s));
    sources.push_back(s);
  }
  RenameRule rule;
  rule.find = "a.txt";
  rule.replace = "taken.txt";
  auto rows = PreviewRename(rule, sources);
  EXPECT_EQ(rows[0].conflict, RenameConflict::Exists);
  EXPECT_EQ(rows[1].conflict, RenameConflict::None);
  EXPECT_TRUE(AnyRenameConflict(rows));

  rule.find = "[abc]";
  rule.regex = true;
  rule.replace = "same";
  rows = PreviewRename(rule, sources);
  for (const auto& row : rows) EXPECT_EQ(row.conflict, RenameConflict::Duplicate);

  // A batch member's old name is free for another: a rotation is no conflict.
  rule = RenameRule();
  std::vector<RenameSource> two(sources.begin(), sources.begin() + 2);
  rule.regex = true;
  rule.find = "^(a|b)";
  rule.replace = "x";
  rows = PreviewRename(rule, two);
  EXPECT_EQ(rows[0].conflict, RenameConflict::Duplicate);
  RenameRule swap;
  swap.namePattern = "[C]";
  swap.counterStart = 0;
  swap.extPattern = "txt";
  // a -> 0.txt, b -> 1.txt, nothing taken
  rows = PreviewRename(swap, two);
  EXPECT_FALSE(AnyRenameConflict(rows));

  RenameRule bad;
  bad.namePattern = "";
  bad.extPattern = "";
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::Empty);
  bad.namePattern = "x/y";
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::Invalid);
  bad.namePattern = "..";
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::Invalid);
  bad.namePattern = std::string(252, 'x');
  bad.extPattern = "txt";  // 256 bytes with the dot
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::TooLong);
  bad.namePattern = std::string(251, 'x');
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::None);
  bad.namePattern = std::string(141, 'x');
  for (int i = 0; i < 37; ++i) bad.namePattern += "あ";  // 141 + 111 = 252 bytes, + ".txt"
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::TooLong);
  bad.namePattern = "[Z]";
  EXPECT_EQ(PreviewRename(bad, {sources[0]})[0].conflict, RenameConflict::BadPattern);
}
