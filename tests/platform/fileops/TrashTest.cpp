// The freedesktop trash on real folders: records, name clashes, folders'
// sizes, restoring, trash-cli reading ours and we theirs, a mount's own
// trash, removing trees and emptying.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include "FileChecks.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/Trash.h"

namespace {

dev_t DeviceOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Output of a shell command.
std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

size_t EntriesIn(const std::string& dir) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

// Answers what an emptying asks, and remembers it.
class EmptyingUI : public IFileOperationUI {
 public:
  bool answer = true;
  std::vector<uint64_t> asked;
  int errors = 0;
  bool ConfirmDelete(const std::vector<std::string>&, bool) override { return true; }
  bool ConfirmPermanentDelete(const std::string&) override { return false; }
  ConflictAnswer AskReplace(const FileFacts&, const FileFacts&) override { return ConflictAnswer::Cancel; }
  ErrorAnswer AskError(const std::string&, const std::string&, int) override {
    ++errors;
    return ErrorAnswer::Skip;
  }
  void ShowMessage(const std::string&) override {}
  bool ConfirmEmptyTrash(uint64_t items) override {
    asked.push_back(items);
    return answer;
  }
};

// A home trash of its own, on the file system of the test's files.
class TrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_DATA_HOME")) saved_ = old, hadOld_ = true;
    setenv("XDG_DATA_HOME", (tmp_ / "data").c_str(), 1);
    trash_ = tmp_ / "data/Trash";
    work_ = tmp_.dir("work");
    ASSERT_EQ(DeviceOf(work_), DeviceOf(tmp_.path()));
  }
  void TearDown() override {
    if (hadOld_)
      setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }
  std::string Info(const TrashedItem& item) { return ReadWholeFile(item.infoPath); }

  TempDir tmp_;
  std::string trash_, work_, saved_;
  bool hadOld_ = false;
};

TEST_F(TrashTest, TrashesFilesAndFoldersWithTheirRecords) {
  std::string file = tmp_.file("work/a b%#.txt", "hello");
  TrashedItem item;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(file, item, error)) << strerror(error);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(item.filesPath, trash_ + "/files/a b%#.txt");
  EXPECT_EQ(item.infoPath, trash_ + "/info/a b%#.txt.trashinfo");
  EXPECT_EQ(ReadWholeFile(item.filesPath), "hello");
  EXPECT_EQ(item.originalPath, file);
  std::string expected = "[Trash Info]\nPath=" + work_ + "/a%20b%25%23.txt\nDeletionDate=" + item.deletionDate + "\n";
  EXPECT_EQ(Info(item), expected);
  EXPECT_TRUE(std::regex_match(item.deletionDate, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
  struct stat st;
  ASSERT_EQ(stat((trash_ + "/info").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(Exists(trash_ + "/directorysizes"));  // files need none

  // A folder: its disk usage and the record's time go into directorysizes.
  std::string dir = tmp_.dir("work/folder");
  tmp_.file("work/folder/inner.bin", std::string(10000, 'x'));
  tmp_.dir("work/folder/sub");
  TrashedItem folder;
  ASSERT_TRUE(MoveToTrash(dir, folder, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(folder.filesPath + "/inner.bin").size(), 10000u);
  ASSERT_EQ(stat(folder.infoPath.c_str(), &st), 0);
  std::string sizes = ReadWholeFile(trash_ + "/directorysizes");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(sizes, m, std::regex(R"((\d+) (\d+) folder\n)"))) << sizes;
  EXPECT_GE(std::stoull(m[1]), 10000u);
  EXPECT_EQ(std::stoll(m[2]), st.st_mtim.tv_sec);

  // Leaving the trash takes the line along; a missing item is an error.
  ASSERT_TRUE(PurgeTrashedItem(folder, error)) << strerror(error);
  EXPECT_FALSE(Exists(folder.filesPath));
  EXPECT_FALSE(Exists(folder.infoPath));
  EXPECT_EQ(ReadWholeFile(trash_ + "/directorysizes"), "");
  EXPECT_FALSE(MoveToTrash(work_ + "/missing", item, error));
  EXPECT_EQ(error, ENOENT);
  // A purge never strays outside a trash's files folder.
  TrashedItem bogus{"/x", tmp_.path(), "", ""};
  EXPECT_FALSE(PurgeTrashedItem(bogus, error));
  EXPECT_EQ(error, EINVAL);
  EXPECT_TRUE(Exists(work_));
}

TEST_F(TrashTest, SameNamesAndNonUtf8NamesAreKeptApart) {
  std::vector<TrashedItem> items(3);
  int error = 0;
  for (int k = 0; k < 3; ++k) {
    std::string file = tmp_.file("work/same.txt", "v" + std::to_string(k));
    ASSERT_TRUE(MoveToTrash(file, items[k], error)) << strerror(error);
  }
  EXPECT_EQ(items[0].filesPath, trash_ + "/files/same.txt");
  EXPECT_EQ(items[1].filesPath, trash_ + "/files/same.2.txt");
  EXPECT_EQ(items[2].filesPath, trash_ + "/files/same.3.txt");
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(ReadWholeFile(items[k].filesPath), "v" + std::to_string(k));
    EXPECT_NE(Info(items[k]).find("Path=" + work_ + "/same.txt\n"), std::string::npos);
  }

  // Bytes that are no UTF-8 are escaped one by one and come back unchanged.
  std::string odd = "\xff\xfe \xe3\x81\x82.bin";
  std::string oddPath = tmp_.file("work/" + odd, "odd");
  TrashedItem oddItem;
  ASSERT_TRUE(MoveToTrash(oddPath, oddItem, error)) << strerror(error);
  EXPECT_NE(Info(oddItem).find("Path=" + work_ + "/%FF%FE%20%E3%81%82.bin\n"), std::string::npos);

  std::vector<TrashedItem> listed = ListTrashedItems();
  auto find = [&](const std::string& filesPath) {
    return std::find_if(listed.begin(), listed.end(), [&](const TrashedItem& t) { return t.filesPath == filesPath; });
  };
  for (const TrashedItem& t : items) {
    auto it = find(t.filesPath);
    ASSERT_NE(it, listed.end());
    EXPECT_EQ(it->originalPath, work_ + "/same.txt");
    EXPECT_EQ(it->infoPath, t.infoPath);
    EXPECT_EQ(it->deletionDate, t.deletionDate);
  }
  auto it = find(oddItem.filesPath);
  ASSERT_NE(it, listed.end());
  EXPECT_EQ(it->originalPath, oddPath);
  ASSERT_TRUE(RestoreFromTrash(*it, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(oddPath), "odd");
  EXPECT_FALSE(Exists(oddItem.infoPath));

  // A name too long for its record gets a shorter one in the trash.
  std::string longName(250, 'n');
  std::string longPath = tmp_.file("work/" + longName, "long");
  TrashedItem longItem;
  ASSERT_TRUE(MoveToTrash(longPath, longItem, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(longItem.filesPath), "long");
  EXPECT_NE(Info(longItem).find("Path=" + longPath + "\n"), std::string::npos);
}

TEST_F(TrashTest, RestoreNeverReplacesAndRemakesAMissingFolder) {
  std::string dir = tmp_.dir("work/parent/folder");
  tmp_.file("work/parent/folder/f.txt", "inside");
  TrashedItem item;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(dir, item, error)) << strerror(error);
  ASSERT_TRUE(Exists(trash_ + "/directorysizes"));

  // Something new at the old place: refused, nothing changes on either side.
  tmp_.file("work/parent/folder", "newer");
  EXPECT_FALSE(RestoreFromTrash(item, error));
  EXPECT_EQ(error, EEXIST);
  EXPECT_EQ(ReadWholeFile(dir), "newer");
  EXPECT_EQ(ReadWholeFile(item.filesPath + "/f.txt"), "inside");
  EXPECT_TRUE(Exists(item.infoPath));

  // The old folder is gone altogether: it is made again.
  std::filesystem::remove_all(work_ + "/parent");
  ASSERT_TRUE(RestoreFromTrash(item, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(dir + "/f.txt"), "inside");
  EXPECT_FALSE(Exists(item.filesPath));
  EXPECT_FALSE(Exists(item.infoPath));
  EXPECT_EQ(ReadWholeFile(trash_ + "/directorysizes"), "");
  EXPECT_FALSE(RestoreFromTrash(item, error));  // already back
  EXPECT_EQ(error, ENOENT);
}

TEST_F(TrashTest, TrashCliReadsOursAndWeTheirs) {
  if (system("command -v trash-list >/dev/null 2>&1 && command -v trash-put >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "trash-cli is not installed";
  std::string first = tmp_.file("work/first file.txt", "1");
  std::string second = tmp_.file("work/second.txt", "2");
  TrashedItem a, b;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(first, a, error)) << strerror(error);
  ASSERT_TRUE(MoveToTrash(second, b, error)) << strerror(error);

  std::string listing = Shell("trash-list 2>/dev/null");
  std::string date = a.deletionDate;
  date[10] = ' ';
  EXPECT_NE(listing.find(date + " " + first + "\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find(" " + second + "\n"), std::string::npos) << listing;

  // trash-restore lists what was trashed below the path given and asks for a number.
  Shell("cd " + Quoted(work_) + " && echo 0 | trash-restore " + Quoted(second) + " >/dev/null 2>&1");
  EXPECT_EQ(ReadWholeFile(second), "2");
  EXPECT_FALSE(Exists(b.filesPath));
  EXPECT_FALSE(Exists(b.infoPath));

  // What trash-put trashed, we find and put back.
  std::string theirs = tmp_.file("work/theirs.txt", "t");
  ASSERT_EQ(system(("trash-put " + Quoted(theirs) + " 2>/dev/null").c_str()), 0);
  ASSERT_FALSE(Exists(theirs));
  std::vector<TrashedItem> listed = ListTrashedItems();
  auto it = std::find_if(listed.begin(), listed.end(), [&](const TrashedItem& t) { return t.originalPath == theirs; });
  ASSERT_NE(it, listed.end());
  EXPECT_EQ(it->filesPath.rfind(trash_ + "/files/", 0), 0u);
  ASSERT_TRUE(RestoreFromTrash(*it, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(theirs), "t");
  EXPECT_EQ(Shell("trash-list 2>/dev/null").find(theirs), std::string::npos);
}

// Unmounts on the way out, so that a failed test leaves no mount behind.
struct MountGuard {
  std::string point;
  bool mounted = false;
  ~MountGuard() {
    if (mounted) umount2(point.c_str(), MNT_DETACH);
  }
};

TEST_F(TrashTest, AnotherFileSystemUsesItsOwnTrash) {
  MountGuard guard{tmp_.dir("mnt")};
  if (mount("tolvane-trash", guard.point.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  guard.mounted = true;
  std::string mnt = guard.point, uid = std::to_string(getuid());
  tmp_.dir("mnt/sub");
  std::string file = tmp_.file("mnt/sub/f.txt", "on the mount");
  TrashedItem item;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(file, item, error)) << strerror(error);
  EXPECT_EQ(item.filesPath, mnt + "/.Trash-" + uid + "/files/f.txt");
  EXPECT_EQ(DeviceOf(item.filesPath), DeviceOf(mnt));
  EXPECT_EQ(ReadWholeFile(item.filesPath), "on the mount");
  EXPECT_NE(Info(item).find("\nPath=sub/f.txt\n"), std::string::npos) << Info(item);
  struct stat st;
  ASSERT_EQ(lstat((mnt + "/.Trash-" + uid).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(EntriesIn(trash_ + "/files"), 0u);  // nothing copied home

  std::vector<TrashedItem> listed = ListTrashedItems();
  auto it =
      std::find_if(listed.begin(), listed.end(), [&](const TrashedItem& t) { return t.filesPath == item.filesPath; });
  ASSERT_NE(it, listed.end());
  EXPECT_EQ(it->originalPath, file);

  // A shared .Trash counts only when sticky.
  ASSERT_EQ(mkdir((mnt + "/.Trash").c_str(), 0777), 0);
  chmod((mnt + "/.Trash").c_str(), 0777);
  std::string g = tmp_.file("mnt/g.txt", "g");
  TrashedItem gi;
  ASSERT_TRUE(MoveToTrash(g, gi, error)) << strerror(error);
  EXPECT_EQ(gi.filesPath, mnt + "/.Trash-" + uid + "/files/g.txt");
  chmod((mnt + "/.Trash").c_str(), 01777);
  std::string h = tmp_.file("mnt/h.txt", "h");
  TrashedItem hi;
  ASSERT_TRUE(MoveToTrash(h, hi, error)) << strerror(error);
  EXPECT_EQ(hi.filesPath, mnt + "/.Trash/" + uid + "/files/h.txt");
  EXPECT_NE(Info(hi).find("\nPath=h.txt\n"), std::string::npos);
  ASSERT_TRUE(RestoreFromTrash(hi, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(h), "h");

  // Read-only: no trash can take it, and nothing has changed.
  ASSERT_EQ(mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
  EXPECT_FALSE(MoveToTrash(h, hi, error));
  EXPECT_EQ(error, EROFS);
  EXPECT_EQ(ReadWholeFile(h), "h");
  EXPECT_EQ(EntriesIn(trash_ + "/files"), 0u);
}

TEST_F(TrashTest, RemoveTreeTakesEverythingButFollowsNoLink) {
  std::string outside = tmp_.dir("outside");
  tmp_.file("outside/keep.txt", "keep");
  std::string root = tmp_.dir("work/tree/a/b");
  tmp_.file("work/tree/a/b/deep.txt", "d");
  tmp_.file("work/tree/top.txt", "t");
  ASSERT_EQ(symlink(outside.c_str(), (work_ + "/tree/a/link").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (work_ + "/tree/filelink").c_str()), 0);
  chmod((work_ + "/tree/a/b").c_str(), 0500);
  chmod((work_ + "/tree/a").c_str(), 0500);
  int error = 0;
  ASSERT_TRUE(RemoveTree(work_ + "/tree", error)) << strerror(error);
  EXPECT_FALSE(Exists(work_ + "/tree"));
  EXPECT_EQ(ReadWholeFile(outside + "/keep.txt"), "keep");

  // A link given itself goes, not what it points at.
  ASSERT_EQ(symlink(outside.c_str(), (work_ + "/l").c_str()), 0);
  ASSERT_TRUE(RemoveTree(work_ + "/l", error)) << strerror(error);
  EXPECT_FALSE(Exists(work_ + "/l"));
  EXPECT_EQ(ReadWholeFile(outside + "/keep.txt"), "keep");
  EXPECT_FALSE(RemoveTree(work_ + "/l", error));
  EXPECT_EQ(error, ENOENT);

  // Cancelled midway: false with ECANCELED, and what is left is still there.
  tmp_.dir("work/many");
  for (int k = 0; k < 10; ++k) tmp_.file("work/many/f" + std::to_string(k), "x");
  int ticks = 0;
  EXPECT_FALSE(RemoveTree(work_ + "/many", error, [&] { return ++ticks < 4; }));
  EXPECT_EQ(error, ECANCELED);
  EXPECT_EQ(EntriesIn(work_ + "/many"), 8u);
}

TEST_F(TrashTest, EmptyingAsksWithTheCountAndRemovesEverything) {
  std::string uid = std::to_string(getuid());
  int error = 0;
  TrashedItem item;
  ASSERT_TRUE(MoveToTrash(tmp_.file("work/one.txt", "1"), item, error));
  ASSERT_TRUE(MoveToTrash(tmp_.file("work/two.txt", "2"), item, error));
  tmp_.dir("work/dir/sub");
  tmp_.file("work/dir/sub/x", "x");
  ASSERT_TRUE(MoveToTrash(work_ + "/dir", item, error));
  // Leftovers of interrupted work: an item without record, a record without item.
  tmp_.file("data/Trash/files/orphan", "o");
  std::string stale = tmp_.file("data/Trash/info/gone.trashinfo", "[Trash Info]\nPath=/gone\n");
  struct timeval old[2] = {{1000000, 0}, {1000000, 0}};
  utimes(stale.c_str(), old);

  // Emptying reaches every trash of this user; never take another's items.
  for (const TrashedItem& t : ListTrashedItems())
    if (t.filesPath.rfind(trash_ + "/", 0) != 0) GTEST_SKIP() << "other trashes hold items: " << t.filesPath;
  for (const std::string& path : ListOrphanTrashFiles())
    if (path.rfind(trash_ + "/", 0) != 0) GTEST_SKIP() << "other trashes hold items: " << path;

  EmptyingUI ui;
  ui.answer = false;
  EXPECT_EQ(EmptyRecycleBin(&ui), FO_ERROR_CANCELLED);
  ASSERT_EQ(ui.asked, std::vector<uint64_t>{4});
  EXPECT_EQ(EntriesIn(trash_ + "/files"), 4u);
  EXPECT_EQ(ListTrashedItems().size(), 3u);

  ui.answer = true;
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_EQ(ui.asked, (std::vector<uint64_t>{4, 4}));
  EXPECT_EQ(ui.errors, 0);
  EXPECT_EQ(EntriesIn(trash_ + "/files"), 0u);
  EXPECT_EQ(EntriesIn(trash_ + "/info"), 0u);
  EXPECT_EQ(ReadWholeFile(trash_ + "/directorysizes"), "");
  EXPECT_TRUE(ListTrashedItems().empty());

  // Nothing left: done at once, unasked.
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_EQ(ui.asked.size(), 2u);
}

}  // namespace
