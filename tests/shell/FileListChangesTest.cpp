// Changes applied to a shown folder name by name, checked against reading the
// folder whole, with the names a real inotify handle reports.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "SimpleListOwner.h"
#include "TempDir.h"
#include "platform/namespace/ItemID.h"
#include "platform/system/ChangeNotification.h"
#include "shell/RowsByName.h"
#include "shell/ShellFileList.h"
#include "shell/actions/Wildcard.h"
#include "shell/watch/WatcherThread.h"

namespace {

constexpr uint32_t kAllChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE;

struct Row {
  std::string name;
  uint64_t size;
  bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(const TShellFileList& list) {
  std::vector<Row> rows;
  for (int i = 0; i < list.Count(); ++i) rows.push_back({list.Items(i)->GetDisplayName(), list.Items(i)->GetSize()});
  return rows;
}

void Show(TShellFileList& list, const std::string& path) {
  IDListPtr id = PathToIDList(path);
  ASSERT_TRUE(id) << path;
  list.SetFolder(id.get());
}

void WriteSize(const std::string& path, size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

// One create, delete, rename, rewrite or new folder, on a and b.
void RandomChange(const std::string& a, const std::string& b, std::mt19937& random) {
  struct stat st;
  const bool exists = lstat(a.c_str(), &st) == 0;
  switch (random() % 6) {
    case 0:
    case 1:
      if (!exists) WriteSize(a, random() % 5000);
      break;
    case 2:
      if (exists) S_ISDIR(st.st_mode) ? (void)rmdir(a.c_str()) : (void)unlink(a.c_str());
      break;
    case 3:
      // Replaces a file of the new name; a folder only onto nothing.
      rename(a.c_str(), b.c_str());
      break;
    case 4:
      if (exists && S_ISREG(st.st_mode)) WriteSize(a, random() % 5000);
      break;
    case 5:
      if (!exists) mkdir(a.c_str(), 0755);
      break;
  }
}

class FileListChangesTest : public ::testing::Test {
 protected:
  void TearDown() override { WaitForWatcherThreads(); }

  // The names the handle saw since the last call; false when not known.
  bool Take(TChangeNotification* handle, std::vector<std::string>& names) {
    handle->TryAcquire();
    return handle->TakeChangedNames(names);
  }

  TempDir tmp;
};

}  // namespace

TEST_F(FileListChangesTest, RandomChangesGiveTheRowsOfAFullRead) {
  // Names that sort by digit runs, letter case, extensions and non-ASCII letters.
  std::vector<std::string> pool;
  for (int i = 0; i < 60; ++i) {
    const char* stems[] = {"file", "File", "img_", "Ärger", "z", ".hid", "a b"};
    const char* exts[] = {".txt", ".TXT", ".jpg", "", ".tar.gz"};
    pool.push_back(std::string(stems[i % 7]) + std::to_string(i * 37 % 101) + exts[i % 5]);
  }
  std::mt19937 random(31);
  auto pick = [&] { return pool[random() % pool.size()]; };
  int operations = 0;
  for (int column : {0, 1, 2, 3}) {
    for (int order : {1, -1}) {
      SimpleListOwner owner, freshOwner;
      owner.IncludeHidden = freshOwner.IncludeHidden = column == 2;
      TShellFileList list(&owner, false);
      list.SortType = column;
      list.SortOrder[column] = order;
      Show(list, tmp.path());
      // Sorted by size or time, rows are found by the index by name once
      // it is made while idle, else by a pass: each way for one direction.
      const bool indexed = order < 0 && (column == 1 || column == 3);
      if (indexed) {
        while (list.PrefetchSizes(16)) {
        }
        ASSERT_TRUE(list.RowsFoundByName());
      }
      ChangeNotificationPtr handle = FindFirstChangeNotification(tmp.path(), false, kAllChanges);
      ASSERT_TRUE(handle);
      for (int batch = 0; batch < 10; ++batch) {
        // Small batches move rows in place, large ones make the array anew.
        const int size = batch % 2 ? 3 : 60;
        for (int k = 0; k < size; ++k, ++operations) {
          RandomChange(tmp / pick(), tmp / pick(), random);
        }
        std::vector<std::string> names;
        ASSERT_TRUE(Take(handle.get(), names));
        ASSERT_TRUE(list.ApplyChangedNames(names));
        TShellFileList fresh(&freshOwner, false);
        fresh.SortType = column;
        fresh.SortOrder[column] = order;
        Show(fresh, tmp.path());
        ASSERT_EQ(Rows(list), Rows(fresh)) << "column " << column << " order " << order << " batch " << batch;
        ASSERT_EQ(owner.ItemsCount, list.Count());
        // The index followed the changes rather than being let go.
        ASSERT_EQ(list.RowsFoundByName(), indexed) << "column " << column << " batch " << batch;
      }
    }
  }
  EXPECT_GE(operations, 2000);  // 8 lists of 10 batches
}

TEST_F(FileListChangesTest, ChangesUnderAMaskReachTheRowsMaskedOutSoANewMaskNeedsNoRead) {
  std::mt19937 random(5);
  for (int i = 0; i < 400; ++i) WriteSize(tmp / ("f" + std::to_string(i * 7 % 1000) + ".txt"), random() % 900);
  auto pick = [&] { return "f" + std::to_string(random() % 1000) + (random() % 4 ? ".txt" : ".jpg"); };
  auto mask = [](SimpleListOwner& owner, const std::string& text) {
    owner.ByName = [text](std::string_view entry) { return MatchWildcard(std::string(entry), text); };
    owner.Filter = [text](TShellFileItem* item) { return MatchWildcard(std::string(item->EntryName()), text); };
  };
  for (int column : {0, 1}) {
    SimpleListOwner owner;
    TShellFileList list(&owner, false);
    list.SortType = column;
    Show(list, tmp.path());
    ChangeNotificationPtr handle = FindFirstChangeNotification(tmp.path(), false, kAllChanges);
    ASSERT_TRUE(handle);
    for (int batch = 0; batch < 8; ++batch) {
      // Masks that show some, none and all of the rows; the first shows every
      // row but not the pictures that come.
      const std::string before = batch % 3 == 0 ? "*.txt" : batch % 3 == 1 ? "*.jpg" : "f1*.*";
      mask(owner, before);
      ASSERT_TRUE(list.ApplyFilter());
      // Sorted by size, the rows masked out are found by name as well.
      while (column == 1 && list.PrefetchSizes(64)) {
      }
      ASSERT_EQ(list.RowsFoundByName(), column == 1);
      const int size = batch % 2 ? 4 : 50;
      for (int k = 0; k < size; ++k) RandomChange(tmp / pick(), tmp / pick(), random);
      std::vector<std::string> names;
      ASSERT_TRUE(Take(handle.get(), names));
      ASSERT_TRUE(list.ApplyChangedNames(names));
      for (const std::string& after : {before, std::string("*2*.*"), std::string("*")}) {
        mask(owner, after);
        // The rows masked out followed the changes: parted again, not read.
        ASSERT_TRUE(list.ApplyFilter()) << "column " << column << " batch " << batch << " mask " << after;
        SimpleListOwner freshOwner;
        mask(freshOwner, after);
        TShellFileList fresh(&freshOwner, false);
        fresh.SortType = column;
        Show(fresh, tmp.path());
        ASSERT_EQ(Rows(list), Rows(fresh)) << "column " << column << " batch " << batch << " mask " << after;
      }
    }
  }
}

TEST(RowsByNameTest, RowsAreFoundByNameThroughAddsAndRemovesInAnyOrder) {
  // Enough rows that runs of slots collide and wrap around the table's end.
  std::vector<std::unique_ptr<TShellFileItem>> rows;
  for (int i = 0; i < 3000; ++i)
    rows.push_back(std::make_unique<TShellFileItem>(nullptr, MakeFileEntryID("r" + std::to_string(i), 0, nullptr)));
  RowsByName index;
  std::vector<bool> in(rows.size(), false);
  std::mt19937 random(3);
  for (int round = 0; round < 8; ++round) {
    for (size_t i = 0; i < rows.size(); ++i) {
      if (random() % 2 == 0) continue;
      if (in[i])
        index.Remove(rows[i].get());
      else
        ASSERT_TRUE(index.Add(rows[i].get()));
      in[i] = !in[i];
    }
    size_t count = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(index.Find(rows[i]->EntryName()), in[i] ? rows[i].get() : nullptr) << "round " << round << " row " << i;
      count += in[i];
    }
    ASSERT_EQ(index.Count(), count);
  }
  EXPECT_EQ(index.Find("r3000"), nullptr);
}

TEST_F(FileListChangesTest, FocusAndSelectionStayOnTheirFiles) {
  for (const char* name : {"b", "d", "f", "h"}) tmp.file(name);
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  Show(list, tmp.path());
  ChangeNotificationPtr handle = FindFirstChangeNotification(tmp.path(), false, kAllChanges);
  ASSERT_TRUE(handle);
  owner.Focus = 2;                               // f
  owner.Selected[1] = owner.Selected[3] = true;  // d, h

  tmp.file("a");
  tmp.file("c");
  unlink((tmp / "b").c_str());
  WriteSize(tmp / "h", 10);  // written again: its row is made anew
  std::vector<std::string> names;
  ASSERT_TRUE(Take(handle.get(), names));
  ASSERT_TRUE(list.ApplyChangedNames(names));
  ASSERT_EQ(Rows(list), (std::vector<Row>{{"a", 0}, {"c", 0}, {"d", 0}, {"f", 0}, {"h", 10}}));
  EXPECT_EQ(owner.Focus, 3);
  EXPECT_EQ(owner.Selected, (std::vector<bool>{false, false, true, false, true}));

  // The focused file replaced by a rename keeps the focus on its name.
  tmp.file("g", "12345");
  ASSERT_EQ(rename((tmp / "g").c_str(), (tmp / "f").c_str()), 0);
  ASSERT_TRUE(Take(handle.get(), names));
  ASSERT_TRUE(list.ApplyChangedNames(names));
  EXPECT_EQ(list.Items(owner.Focus)->GetDisplayName(), "f");
  EXPECT_EQ(list.Items(owner.Focus)->GetSize(), 5u);
  EXPECT_EQ(owner.ItemsCount, list.Count());
}

TEST_F(FileListChangesTest, LostEventsAskForAFullRead) {
  ChangeNotificationPtr handle = FindFirstChangeNotification(tmp.path(), false, kAllChanges);
  ASSERT_TRUE(handle);
  // More events than the kernel queues while nobody reads them.
  int queued = 16384;
  if (FILE* f = std::fopen("/proc/sys/fs/inotify/max_queued_events", "r")) {
    if (std::fscanf(f, "%d", &queued) != 1) queued = 16384;
    std::fclose(f);
  }
  ASSERT_LE(queued, 200000) << "a kernel queue this long takes too long to fill";
  for (int i = 0; i <= queued; ++i) tmp.file("n" + std::to_string(i));
  std::vector<std::string> names;
  EXPECT_FALSE(Take(handle.get(), names));
  EXPECT_TRUE(names.empty());
  // Counting starts again.
  tmp.file("after");
  ASSERT_TRUE(Take(handle.get(), names));
  EXPECT_EQ(names, std::vector<std::string>{"after"});
}

TEST_F(FileListChangesTest, WatchedListTakesNewFilesWithoutReadingAgainAndReadsABurstWhole) {
  for (int i = 0; i < 50; ++i) tmp.file("f" + std::to_string(i));
  SimpleListOwner owner;
  TShellFileList list(&owner, true);
  Show(list, tmp.path());
  ASSERT_EQ(list.Count(), 50);
  owner.Focus = 10;
  TShellFileItem* kept = list.Items(10);
  const std::string focused = kept->GetDisplayName();
  tmp.file("a new one");
  auto waitFor = [&](int count) {
    QElapsedTimer timer;
    timer.start();
    while (list.Count() != count && timer.elapsed() < 8000) QTest::qWait(50);
    return list.Count() == count;
  };
  ASSERT_TRUE(waitFor(51));
  // The same row object: the folder was not read again.
  EXPECT_EQ(list.IndexOf(kept), owner.Focus);
  EXPECT_EQ(list.Items(owner.Focus)->GetDisplayName(), focused);
  EXPECT_EQ(list.Items(0)->GetDisplayName(), "a new one");

  // A burst of more names than are applied one by one: the folder is read whole.
  const int burst = static_cast<int>(TChangeNotification::MaxChangedNames) + 10;
  for (int i = 0; i < burst; ++i) tmp.file("g" + std::to_string(i));
  ASSERT_TRUE(waitFor(51 + burst));
  EXPECT_EQ(owner.Focus, 0);  // where a whole read puts it
  EXPECT_EQ(owner.ItemsCount, list.Count());
}

// The names' index and the sizes' total, made while idle, follow the changes
// applied one by one: a mask tested on the index shows the rows of a fresh
// read through it, and the total is the sum of the rows' sizes.
TEST_F(FileListChangesTest, NameIndexAndSizeTotalFollowTheChanges) {
  for (int i = 0; i < 300; ++i) WriteSize(tmp / ("f" + std::to_string(i * 7) + (i % 2 ? ".txt" : ".jpg")), i * 13);
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  Show(list, tmp.path());
  auto idle = [&] {
    while (list.PrefetchSizes(64)) {
    }
  };
  auto recount = [&] {
    uint64_t total = 0;
    for (int i = 0; i < list.Count(); ++i) total += list.Items(i)->GetSize();
    return total;
  };
  idle();
  ChangeNotificationPtr handle = FindFirstChangeNotification(tmp.path(), false, kAllChanges);
  ASSERT_TRUE(handle);
  std::mt19937 random(7);
  for (int batch = 0; batch < 12; ++batch) {
    // Up to eight names move the index in place; a larger batch lets it go.
    const int size = batch % 3 == 2 ? 40 : 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < size; ++k) {
      const std::string name = tmp / ("f" + std::to_string(random() % 2400) + (k % 2 ? ".txt" : ".jpg"));
      if (random() % 3 == 0)
        unlink(name.c_str());
      else
        WriteSize(name, random() % 9000);
    }
    std::vector<std::string> names;
    ASSERT_TRUE(Take(handle.get(), names));
    ASSERT_TRUE(list.ApplyChangedNames(names));
    uint64_t total = 0;
    if (names.size() <= 8) {
      EXPECT_FALSE(list.IdleWorkLeft()) << "batch " << batch;
      ASSERT_TRUE(list.SizeTotal(total));
      EXPECT_EQ(total, recount()) << "batch " << batch;
    }
    idle();
    ASSERT_TRUE(list.SizeTotal(total));
    EXPECT_EQ(total, recount()) << "batch " << batch;
    for (const std::string mask : {"f1*.*", "*.txt", "f2?.jpg"}) {
      owner.ByName = [mask](std::string_view entry) { return MatchWildcard(std::string(entry), mask); };
      owner.Filter = [mask](TShellFileItem* item) { return MatchWildcard(std::string(item->EntryName()), mask); };
      ASSERT_TRUE(list.ApplyFilter());
      SimpleListOwner freshOwner;
      freshOwner.Filter = owner.Filter;
      TShellFileList fresh(&freshOwner, false);
      Show(fresh, tmp.path());
      ASSERT_EQ(Rows(list), Rows(fresh)) << "batch " << batch << " mask " << mask;
    }
    owner.ByName = nullptr;
    owner.Filter = nullptr;
    ASSERT_TRUE(list.ApplyFilter());
    idle();
  }
}

// A file made while the shown folder is read again (a huge folder's read
// takes seconds, and a new mask reads it), or while another folder is
// opened, comes in after the read: the folder is watched through it, or
// from before it. The owner's filter runs after the entries were read, so
// a file made there is one the read missed.
TEST_F(FileListChangesTest, AFileMadeWhileAFolderIsReadIsShown) {
  const std::string other = tmp.dir("other");
  for (int i = 0; i < 20; ++i) {
    tmp.file("f" + std::to_string(i) + ".txt");
    tmp.file("other/f" + std::to_string(i) + ".txt");
  }
  for (const bool another : {false, true}) {
    SimpleListOwner owner;
    TShellFileList list(&owner, true);
    Show(list, tmp.path());
    // The first folder's rows are its files and the folder "other".
    const int rows = another ? 20 : 21;
    bool made = false;
    owner.Filter = [&](TShellFileItem*) {
      if (!made) {
        // As long as a huge folder's read takes, before and after the file.
        made = true;
        QTest::qSleep(300);
        tmp.file((another ? "other/" : "") + std::string("a_late.txt"));
        QTest::qSleep(300);
      }
      return true;
    };
    if (another)
      Show(list, other);
    else
      list.Populate();
    ASSERT_TRUE(made);
    ASSERT_EQ(list.Count(), rows) << "another " << another;
    QElapsedTimer timer;
    timer.start();
    while (list.Count() != rows + 1 && timer.elapsed() < 7000) QTest::qWait(50);
    ASSERT_EQ(list.Count(), rows + 1) << "another " << another;
    EXPECT_EQ(list.Items(another ? 0 : 1)->GetDisplayName(), "a_late.txt") << "another " << another;
  }
}
