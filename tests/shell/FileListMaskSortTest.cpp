// A mask changed on a shown folder and the sorts by size and time, checked
// against fresh reads and a reference stable sort over real files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

#include "SimpleListOwner.h"
#include "TempDir.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/NameCompare.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"
#include "shell/actions/Wildcard.h"
#include "shell/watch/WatcherThread.h"

namespace {

std::vector<std::string> Names(const TShellFileList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Items(i)->GetDisplayName());
  return names;
}

void Show(TShellFileList& list, const std::string& path) {
  IDListPtr id = PathToIDList(path);
  ASSERT_TRUE(id) << path;
  list.SetFolder(id.get());
}

std::function<bool(TShellFileItem*)> Mask(const std::string& mask) {
  return [mask](TShellFileItem* item) { return MatchWildcard(std::string(item->EntryName()), mask); };
}

// The rows of a fresh list of dir sorted by column and order, read through mask.
std::vector<std::string> FreshRead(const std::string& dir, int column, int order, const std::string& mask) {
  SimpleListOwner owner;
  if (!mask.empty()) owner.Filter = Mask(mask);
  TShellFileList list(&owner, false);
  list.SortType = column;
  list.SortOrder[column] = order;
  Show(list, dir);
  return Names(list);
}

class FileListMaskSortTest : public ::testing::Test {
 protected:
  void TearDown() override { WaitForWatcherThreads(); }

  // Files with few sizes and times, so that most rows tie and the names
  // decide; a few folders, whose size the size sort leaves out.
  void MakeFolder(int files) {
    const int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    std::mt19937 random(31);
    const char* stems[] = {"a", "B", "img", "file", "Ärger", "z"};
    char name[64];
    for (int i = 0; i < files; ++i) {
      std::snprintf(name, sizeof name, "%s%d.%s", stems[random() % 6], static_cast<int>(random() % 100000),
                    i % 3 ? "txt" : "JPG");
      const int f = openat(fd, name, O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(f, 0);
      ASSERT_EQ(ftruncate(f, static_cast<off_t>(random() % 4) * 1000), 0);
      timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(1600000000 + random() % 3 * 60), 0}};
      ASSERT_EQ(futimens(f, times), 0);
      close(f);
    }
    for (int i = 0; i < 40; ++i) mkdirat(fd, ("dir" + std::to_string(i * 7)).c_str(), 0755);
    close(fd);
  }

  TempDir tmp;
};

}  // namespace

TEST_F(FileListMaskSortTest, AMaskShowsTheRowsOfAFreshReadInTheirOrder) {
  MakeFolder(3000);
  for (int column : {0, 1, 3}) {
    for (int order : {1, -1}) {
      SCOPED_TRACE(testing::Message() << "column " << column << " order " << order);
      SimpleListOwner owner;
      TShellFileList list(&owner, false);
      list.SortType = column;
      list.SortOrder[column] = order;
      Show(list, tmp.path());
      const std::vector<std::string> all = Names(list);
      ASSERT_EQ(all, FreshRead(tmp.path(), column, order, ""));

      for (const char* mask : {"a*.*", "*.jpg", "nothing*.*", "*.*"}) {
        owner.Filter = Mask(mask);
        ASSERT_TRUE(list.ApplyFilter());
        EXPECT_EQ(Names(list), FreshRead(tmp.path(), column, order, mask)) << mask;
        EXPECT_EQ(owner.ItemsCount, list.Count());
      }
      // Sorted again while masked: the rows masked out come back in the new order.
      owner.Filter = Mask("i*.*");
      ASSERT_TRUE(list.ApplyFilter());
      list.SortByColumn(column == 1 ? 3 : 1);
      EXPECT_EQ(Names(list), FreshRead(tmp.path(), column == 1 ? 3 : 1, 1, "i*.*"));
      owner.Filter = nullptr;
      ASSERT_TRUE(list.ApplyFilter());
      EXPECT_EQ(Names(list), FreshRead(tmp.path(), column == 1 ? 3 : 1, 1, ""));
    }
  }
}

// Enough rows that the test by name runs in parts on several threads: the
// parts' results join in the rows' order.
TEST_F(FileListMaskSortTest, AMaskByNameOnSeveralThreadsShowsTheRowsOfAFreshRead) {
  MakeFolder(70000);
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  list.SortType = 1;
  Show(list, tmp.path());
  for (const std::string mask : {"a*.*", "*.jpg", "nothing*.*", "*.*"}) {
    owner.Filter = Mask(mask);
    owner.ByName = [mask](std::string_view entry) { return MatchWildcard(std::string(entry), mask); };
    ASSERT_TRUE(list.ApplyFilter());
    EXPECT_EQ(Names(list), FreshRead(tmp.path(), 1, 1, mask)) << mask;
  }
  owner.Filter = nullptr;
  owner.ByName = [](std::string_view) { return true; };
  ASSERT_TRUE(list.ApplyFilter());
  EXPECT_EQ(Names(list), FreshRead(tmp.path(), 1, 1, ""));
}

TEST_F(FileListMaskSortTest, AFileTheMaskHidesIsShownByTheNextMaskWithoutARead) {
  MakeFolder(200);
  SimpleListOwner owner;
  owner.Filter = Mask("a*.*");
  TShellFileList list(&owner, false);
  Show(list, tmp.path());
  close(open((tmp / "b_new.txt").c_str(), O_CREAT | O_WRONLY, 0644));
  ASSERT_TRUE(list.ApplyChangedNames({"b_new.txt"}));
  EXPECT_EQ(Names(list), FreshRead(tmp.path(), 0, 1, "a*.*"));
  // The new file waits among the rows masked out.
  owner.Filter = nullptr;
  EXPECT_TRUE(list.ApplyFilter());
  EXPECT_EQ(Names(list), FreshRead(tmp.path(), 0, 1, ""));
}

TEST_F(FileListMaskSortTest, SortsBySizeAndTimeMatchAStableSortOfTheNameOrder) {
  // Enough rows that the sort runs in parts on several threads.
  MakeFolder(20000);
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  Show(list, tmp.path());
  // The reference: the rows in name order, folders first, stably sorted by the column.
  std::vector<TShellFileItem*> byName;
  for (int i = 0; i < list.Count(); ++i) byName.push_back(list.Items(i));
  auto value = [](TShellFileItem* row, int column) -> uint64_t {
    FileStat stat;
    const bool folder = IDFlags(row->RelativeIDList.get()) & itemflag::kFolder;
    EXPECT_TRUE(IDFileStat(row->RelativeIDList.get(), stat) || folder);
    return column == 1 ? (folder ? 0 : row->GetSize()) : stat.mtime;
  };
  for (TShellFileItem* row : byName) row->GetSize();
  list.PrefetchSizes(list.Count());
  auto reference = [&](int column, int order) {
    std::vector<TShellFileItem*> rows = byName;
    std::stable_sort(rows.begin(), rows.end(), [&](TShellFileItem* a, TShellFileItem* b) {
      const bool fa = IDFlags(a->RelativeIDList.get()) & itemflag::kFolder;
      const bool fb = IDFlags(b->RelativeIDList.get()) & itemflag::kFolder;
      if (fa != fb) return fa;
      return value(a, column) < value(b, column);
    });
    if (order < 0) std::reverse(rows.begin(), rows.end());
    std::vector<std::string> names;
    for (TShellFileItem* row : rows) names.push_back(row->GetDisplayName());
    return names;
  };
  // Each sort starts from a different known name order: ascending names,
  // descending names, ranks kept from an earlier sort, ranks lost to a change.
  list.SortByColumn(1);
  EXPECT_EQ(Names(list), reference(1, 1));
  list.SortOrder[0] = -1;
  list.SortByColumn(0);
  list.SortByColumn(3);
  EXPECT_EQ(Names(list), reference(3, 1));
  list.SortOrder[1] = -1;
  list.SortByColumn(1);
  EXPECT_EQ(Names(list), reference(1, -1));
  list.RowRenamed();
  list.SortOrder[3] = -1;
  list.SortByColumn(3);
  EXPECT_EQ(Names(list), reference(3, -1));
  list.SortOrder[0] = 1;
  list.SortByColumn(0);
  EXPECT_EQ(Names(list), FreshRead(tmp.path(), 0, 1, ""));
}

TEST_F(FileListMaskSortTest, FocusAndSelectionStayOnTheirFilesThroughMaskAndSort) {
  MakeFolder(500);
  auto view = std::make_unique<TShellListView>();
  view->resize(700, 400);
  view->SetViewStyleProperty(vsReport);
  view->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  std::string mask;
  view->OnShFilter = [&](TShellListView*, TShellFileItem* item, bool& accept) {
    accept = mask.empty() || MatchWildcard(std::string(item->EntryName()), mask);
  };
  view->SetPathName(tmp.path());
  TShellFileList* list = view->FileList();
  auto selectedNames = [&] {
    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i)
      if (view->IsRowSelected(i)) names.push_back(list->Items(i)->GetDisplayName());
    std::sort(names.begin(), names.end());
    return names;
  };
  auto focusedName = [&] {
    TShellFileItem* item = list->Items(view->FocusedRow());
    return item ? item->GetDisplayName() : std::string();
  };
  // Every third row selected, in runs that a mask cuts apart.
  std::vector<std::string> selected;
  for (int i = 0; i < list->Count(); ++i)
    if (i % 3 != 1) {
      view->SetRowSelected(i, true);
      selected.push_back(list->Items(i)->GetDisplayName());
    }
  std::sort(selected.begin(), selected.end());
  int focusRow = 0;
  while (list->Items(focusRow)->GetDisplayName()[0] != 'i') ++focusRow;
  view->SetFocusedRow(focusRow);
  const std::string focused = focusedName();

  mask = "i*.*";
  view->ApplyMask();
  std::vector<std::string> shownSelected;
  for (const std::string& name : selected)
    if (name[0] == 'i') shownSelected.push_back(name);
  EXPECT_EQ(selectedNames(), shownSelected);
  EXPECT_EQ(focusedName(), focused);
  EXPECT_EQ(view->SelectedCount(), static_cast<int>(shownSelected.size()));

  view->FileList()->SortByColumn(1);
  EXPECT_EQ(selectedNames(), shownSelected);
  EXPECT_EQ(focusedName(), focused);

  // The rows masked out come back unselected; the others keep their marks.
  mask.clear();
  view->ApplyMask();
  EXPECT_EQ(selectedNames(), shownSelected);
  EXPECT_EQ(focusedName(), focused);
  EXPECT_EQ(list->Count(), 540);

  // A focused row masked out hands the focus to the next one still shown.
  mask = "z*.*";
  view->ApplyMask();
  ASSERT_GT(list->Count(), 0);
  EXPECT_EQ(focusedName()[0], 'z');
}

TEST_F(FileListMaskSortTest, AHugeFolderReadAgainAfterItsRowsWentBackGivesTheSameRows) {
  // Enough rows that leaving the folder hands them back in address order.
  MakeFolder(70000);
  const std::string other = tmp.dir("other");
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  Show(list, tmp.path());
  const std::vector<std::string> first = Names(list);
  ASSERT_GE(first.size(), 60000u);
  for (int round = 0; round < 2; ++round) {
    Show(list, other);
    EXPECT_EQ(list.Count(), 0);
    list.SortType = round == 0 ? 1 : 0;
    Show(list, tmp.path());
    if (round == 0) list.SortByColumn(0);
    EXPECT_EQ(Names(list), first) << "round " << round;
  }
}
