// Replacing a file by a version written beside it: the mode stays, a file
// changed by another program since it was seen is put back, not lost, and a
// taken name is never replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TempDir.h"
#include "platform/fileops/ReplaceBeside.h"

namespace {

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  std::string error;
  EXPECT_TRUE(ReadFileIdentity(path, id, error)) << error;
  return id;
}

// What a writer does with the working file: a new file renamed over it.
void WriteNewVersion(const TempDir& tmp, const std::string& working, const std::string& content) {
  const std::string fresh = tmp.file("fresh", content);
  ASSERT_EQ(::rename(fresh.c_str(), working.c_str()), 0);
}

}  // namespace

TEST(ReplaceBesideTest, TheNewVersionTakesThePlaceKeepingTheModeAndTheOldFileIsUntouchedMeanwhile) {
  TempDir tmp;
  const std::string path = tmp.file("a.zip", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const FileIdentity seen = IdentityOf(path);
  const std::string working = WorkingNameBeside(path);
  EXPECT_EQ(working.rfind(tmp.path() + "/.tvw-", 0), 0u);
  EXPECT_NE(working.find("a.zip"), std::string::npos);
  std::string error;
  ASSERT_TRUE(MakeWorkingFile(path, seen, working, error)) << error;
  WriteNewVersion(tmp, working, "new version");
  EXPECT_EQ(ReadWholeFile(path), "old");
  ASSERT_EQ(ReplaceWithWorkingFile(path, seen, working, error), ReplaceOutcome::Replaced) << error;
  EXPECT_EQ(ReadWholeFile(path), "new version");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(NameInUse(working));
}

TEST(ReplaceBesideTest, AFileChangedByAnotherProgramAtTheLastMomentIsKept) {
  TempDir tmp;
  const std::string path = tmp.file("a.zip", "old");
  const FileIdentity seen = IdentityOf(path);
  const std::string working = WorkingNameBeside(path);
  std::string error;
  ASSERT_TRUE(MakeWorkingFile(path, seen, working, error)) << error;
  WriteNewVersion(tmp, working, "ours");
  // Another program writes its own version in place (a new file renamed over it).
  WriteNewVersion(tmp, path, "theirs, longer");
  EXPECT_EQ(ReplaceWithWorkingFile(path, seen, working, error), ReplaceOutcome::Changed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadWholeFile(path), "theirs, longer");
  EXPECT_FALSE(NameInUse(working));
  // Changed before the working file was made: refused at once.
  EXPECT_FALSE(MakeWorkingFile(path, seen, working, error));
  EXPECT_FALSE(NameInUse(working));
}

TEST(ReplaceBesideTest, ANewFileNeverTakesANameInUse) {
  TempDir tmp;
  const std::string taken = tmp.file("b.zip", "someone's");
  const std::string working = tmp.file(".tvw-x-b.zip", "ours");
  std::string error;
  EXPECT_FALSE(RenameIntoFreeName(working, taken, error));
  EXPECT_EQ(ReadWholeFile(taken), "someone's");
  EXPECT_FALSE(NameInUse(working));
  const std::string again = tmp.file(".tvw-y-c.zip", "ours");
  ASSERT_TRUE(RenameIntoFreeName(again, tmp / "c.zip", error)) << error;
  EXPECT_EQ(ReadWholeFile(tmp / "c.zip"), "ours");
  // A link is never written through.
  std::filesystem::create_symlink(taken, tmp / "link.zip");
  FileIdentity id;
  EXPECT_FALSE(ReadFileIdentity(tmp / "link.zip", id, error));
}
