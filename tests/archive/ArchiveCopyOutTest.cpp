// Entries taken out of archives straight into a folder, and listings read on
// their own thread: a stop leaves nothing half written under a final name,
// and the rows of a folder come while the archive is still read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "archive/ArchiveCache.h"
#include "archive/ArchiveCopyOut.h"
#include "archive/ArchiveFolder.h"
#include "platform/fileops/FileOperation.h"

namespace {

bool Tool(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    names.push_back(e.path().string().substr(dir.size() + 1));
  std::sort(names.begin(), names.end());
  return names;
}

class ArchiveCopyOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterArchiveFolderKind();
    FileOperationJournal::Instance().Clear();
    tmp.dir("src/docs");
    for (int i = 0; i < 5; ++i) tmp.file("src/docs/f" + std::to_string(i) + ".txt", std::string(200000, 'a' + i));
    tmp.file("src/top.txt", "top");
    EXPECT_TRUE(Tool(tmp / "src", "zip -q0rD ../a.zip docs top.txt"));
    out = tmp.dir("out");
  }
  void TearDown() override {
    RegisterArchiveFolders({});
    FileOperationJournal::Instance().Clear();
  }
  ArchiveCopyOutRequest Request(std::vector<std::string> names) {
    ArchiveCopyOutRequest r;
    r.archive = r.shownArchive = tmp / "a.zip";
    r.names = std::move(names);
    std::string error;
    auto listing = ReadArchiveListing(r.archive, error);
    EXPECT_TRUE(listing) << error;
    for (const std::string& name : r.names) {
      auto below = listing->StoredNamesBelow(name);
      r.stored.insert(r.stored.end(), below.begin(), below.end());
    }
    r.destination = out;
    return r;
  }
  TempDir tmp;
  std::string out;
};

}  // namespace

TEST_F(ArchiveCopyOutTest, CopiedOutStraightIntoTheDestinationAndUndoneAsACopy) {
  tmp.file("out/top.txt", "mine");
  {
    ArchiveCopyOut copy(Request({"docs", "top.txt"}));
    std::string error;
    ASSERT_TRUE(copy.Extract(error)) << error;
    // Until placed, nothing new is under a final name: all is in the hidden staging folder.
    std::vector<std::string> outside;
    for (const std::string& name : Tree(out))
      if (name.rfind(".tolvane-extract-", 0) != 0) outside.push_back(name);
    EXPECT_EQ(outside, std::vector<std::string>{"top.txt"});
    EXPECT_EQ(Tree(out).size(), 9u);
    ScriptedFileOperationUI ui;
    ui.replaceAnswers = {ConflictAnswer::No};  // the file of the destination stays
    EXPECT_EQ(copy.Place(&ui), 0);
    EXPECT_EQ(ui.replaceCalls.size(), 1u);
  }
  EXPECT_EQ(Tree(out), (std::vector<std::string>{"docs", "docs/f0.txt", "docs/f1.txt", "docs/f2.txt", "docs/f3.txt",
                                                 "docs/f4.txt", "top.txt"}));
  EXPECT_EQ(std::filesystem::file_size(out + "/docs/f3.txt"), 200000u);
  // Undo takes back what was placed under a free name, never the file that was there.
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  ScriptedFileOperationUI ui;
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(Tree(out), std::vector<std::string>{"top.txt"});
}

TEST_F(ArchiveCopyOutTest, AStoppedExtractionLeavesNoFileBehindInTheDestinationNorTheCache) {
  int started = 0;
  const EntryHook stopAtThird = [&](const std::string&, bool starts, bool& abort) {
    if (starts) ++started;
    if (started >= 3) abort = true;
  };
  {
    ArchiveCopyOut copy(Request({"docs"}));
    std::string error;
    EXPECT_FALSE(copy.Extract(error, stopAtThird));
    EXPECT_EQ(error, "中止しました。");
  }
  EXPECT_EQ(started, 3);
  EXPECT_TRUE(Tree(out).empty());

  // A preview's entry stopped the same way: the cache keeps nothing of it.
  started = 0;
  std::string error;
  EXPECT_EQ(
      ExtractToCache(tmp / "a.zip", {"docs/f0.txt", "docs/f1.txt", "docs/f2.txt", "docs/f3.txt"}, error, stopAtThird),
      "");
  EXPECT_TRUE(Tree(ArchiveCacheFolder()).empty());
  EXPECT_EQ(
      CachedEntryFile(tmp / "a.zip", "docs/f2.txt", error, [](const std::string&, bool, bool& abort) { abort = true; }),
      "");
  EXPECT_TRUE(Tree(ArchiveCacheFolder()).empty());
}

TEST_F(ArchiveCopyOutTest, AListingReadAsideHandsOverItsEntriesAndIsSharedAndCached) {
  std::string error;
  auto reading = StartArchiveListing(tmp / "a.zip", error);
  ASSERT_TRUE(reading) << error;
  // Whoever asks meanwhile joins the same reading.
  EXPECT_EQ(StartArchiveListing(tmp / "a.zip", error), reading);
  ASSERT_TRUE(reading->WaitOpened(error)) << error;
  std::vector<ArchiveListingEntry> docs;
  size_t from = 0;
  while (reading->TakeChildren("docs", from, docs, 1000)) {
  }
  reading->TakeChildren("docs", from, docs, 0);
  EXPECT_EQ(docs.size(), 5u);
  EXPECT_EQ(from, 5u);
  auto whole = reading->Wait(error);
  ASSERT_TRUE(whole);
  // Over: the next asker gets the cached listing at once.
  EXPECT_EQ(StartArchiveListing(tmp / "a.zip", error)->Finished(), whole);

  // No archive at all: the reading says so.
  tmp.file("not.zip", "plain text");
  auto bad = StartArchiveListing(tmp / "not.zip", error);
  ASSERT_TRUE(bad);
  EXPECT_FALSE(bad->WaitOpened(error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(bad->Wait(error));
}
