// Copies and moves onto a FAT image mounted through FUSE: names that differ
// in case only, names FAT refuses, what FAT cannot keep, and moves whose
// every file is confirmed before its source goes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "FileOperationTestUtil.h"
#include "ForeignFileSystems.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"

namespace {

bool Mentions(const std::vector<std::string>& messages, const std::string& text) {
  for (const std::string& m : messages)
    if (m.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(FatTarget, MoveRemovesEachSourceOnlyOnceItsCopyIsConfirmed) {
  FatImage fat;
  if (!fat.mounted()) GTEST_SKIP() << fat.why();
  TempDir dir;
  std::string src = dir.dir("batch");
  const size_t sizes[] = {0,     1,      511,    512,    4095,    4096,          4097,    65535,
                          65536, 100000, 131072, 300001, 1 << 20, (1 << 20) + 3, 2 << 20, 3 << 20};
  std::map<std::string, std::string> files;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string name = "file" + std::to_string(i) + ".bin";
    files[name] = PatternData(sizes[i], unsigned(i + 7));
    dir.file("batch/" + name, files[name]);
  }
  ScriptedFileOperationUI ui;
  ui.defaultError = ErrorAnswer::Skip;
  RunOp(FO_MOVE, {src}, fat.path(), 0, ui);
  // Whatever could not be confirmed there is still here, unchanged, and named.
  for (const auto& [name, data] : files) {
    std::string kept = src + "/" + name;
    if (!Exists(kept)) {
      EXPECT_EQ(ReadWholeFile(fat / ("batch/" + name)), data) << name;
      continue;
    }
    EXPECT_EQ(ReadWholeFile(kept), data);
    bool named = false;
    for (const auto& call : ui.errorCalls) named = named || call.path.find(name) != std::string::npos;
    EXPECT_TRUE(named) << name;
  }
  EXPECT_TRUE(ui.errorCalls.empty()) << ui.errorCalls.front().path << " " << ui.errorCalls.front().error;
  EXPECT_FALSE(Exists(src));
  EXPECT_FALSE(HasPartFiles(fat.path()));
  // FAT keeps no modes: said once, not silently.
  EXPECT_TRUE(Mentions(ui.messages, "アクセス許可"));
}

TEST(FatTarget, NamesThatDifferInCaseOnlyAreBothKeptUnasked) {
  FatImage fat;
  if (!fat.mounted()) GTEST_SKIP() << fat.why();
  TempDir dir;
  dir.dir("pair/sub");
  dir.dir("pair/SUB");
  dir.file("pair/a.txt", "lower");
  dir.file("pair/A.TXT", "upper");
  dir.file("pair/sub/x", "1");
  dir.file("pair/SUB/x", "2");
  ScriptedFileOperationUI ui;
  RunOp(FO_COPY, {dir / "pair"}, fat.path(), 0, ui);
  EXPECT_TRUE(ui.replaceCalls.empty());
  for (const auto& call : ui.errorCalls) ADD_FAILURE() << call.path << ": " << call.action << " " << call.error;
  // One of each twin keeps its name; the other is a "コピー" beside it or,
  // where the driver takes no such name, named as refused. Nothing replaced.
  std::vector<std::string> names = Names(fat / "pair");
  std::string contents;
  for (const std::string& n : names)
    if (!S_ISDIR(Lstat(fat / ("pair/" + n)).st_mode)) contents += ReadWholeFile(fat / ("pair/" + n));
  if (names.size() == 2) {
    EXPECT_TRUE(contents == "lower" || contents == "upper") << contents;
    EXPECT_TRUE(Mentions(ui.messages, "使えない名前"));
  } else {
    ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(names);
    EXPECT_TRUE(contents == "lowerupper" || contents == "upperlower") << contents;
    EXPECT_TRUE(Mentions(ui.messages, "大文字と小文字"));
  }
}

TEST(FatTarget, RefusedNamesAndLostAttributesAreNamedInOneSummary) {
  FatImage fat;
  if (!fat.mounted()) GTEST_SKIP() << fat.why();
  TempDir dir;
  std::string a = dir.file("a:b", "x"), q = dir.file("why?", "y"), ok = dir.file("ok.txt", "z");
  std::string tool = dir.file("tool", "#!/bin/sh\n");
  ASSERT_EQ(chmod(tool.c_str(), 04755), 0);
  bool xattr = Succeeds("setfattr -n user.note -v kept " + Quote(ok));
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {a, q, ok, tool}, fat.path(), 0, ui).code, FO_ERROR_FAILED);
  EXPECT_TRUE(ui.errorCalls.empty());
  EXPECT_EQ(ReadWholeFile(fat / "ok.txt"), "z");
  EXPECT_EQ(ReadWholeFile(fat / "tool"), "#!/bin/sh\n");
  size_t refused = 0, lost = 0;
  for (const std::string& m : ui.messages) {
    if (m.find("使えない名前") != std::string::npos) {
      ++refused;
      EXPECT_NE(m.find("a:b"), std::string::npos);
      EXPECT_NE(m.find("why?"), std::string::npos);
    }
    if (m.find("保持できない属性") != std::string::npos) {
      ++lost;
      EXPECT_NE(m.find("tool: "), std::string::npos);
      EXPECT_NE(m.find("setuid"), std::string::npos);
      if (xattr) {
        EXPECT_NE(m.find("user.note"), std::string::npos);
      }
    }
  }
  EXPECT_EQ(refused, 1u);
  EXPECT_EQ(lost, 1u);
}
