#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

#include "SimpleListOwner.h"
#include "TempDir.h"
#include "shell/ShellFileList.h"
#include "shell/watch/WatcherThread.h"

namespace {
class FileListTest : public ::testing::Test {
 protected:
  void TearDown() override {
    list.reset();
    WaitForWatcherThreads();
  }

  void Show(const std::string& path, bool watch = false) {
    list = std::make_unique<TShellFileList>(&owner, watch);
    PItemIDList id = nullptr;
    ASSERT_TRUE(PathToIDList(path, id)) << path;
    list->SetFolder(id);
    FreeIDList(id);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i) names.push_back(list->Items(i)->GetDisplayName());
    return names;
  }

  // What must hold after every change: the view's count is the list's.
  void CheckInvariants() const { EXPECT_EQ(owner.ItemsCount, list->Count()); }

  bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QTest::qWait(50);
    return done();
  }

  TempDir tmp;
  SimpleListOwner owner;
  std::unique_ptr<TShellFileList> list;
};
}  // namespace

TEST_F(FileListTest, EmptyFolderFiresListChangeWithoutFocus) {
  Show(tmp.path());
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(owner.Focus, -1);
  EXPECT_GE(owner.ListChanges, 1);
  EXPECT_EQ(list->GetPathName(), tmp.path());
  EXPECT_EQ(list->GetFolderType(), itFolder);
  CheckInvariants();
  // The view style is switched for the enumeration and always put back.
  EXPECT_EQ(owner.Style, vsReport);
}

TEST_F(FileListTest, FilterHiddenFilesAndSortOrder) {
  for (const char* name : {"file10.txt", "file2.txt", "File1.txt", ".hidden", "b.dat"}) tmp.file(name, name);
  tmp.dir("zdir");
  tmp.dir("adir");
  std::vector<std::string> offered;
  owner.Filter = [&](TShellFileItem* item) {
    offered.push_back(item->GetDisplayName());
    return item->GetDisplayName() != "b.dat";
  };
  Show(tmp.path());
  // Folders first, then names with digit runs compared as numbers, case ignored.
  EXPECT_EQ(Names(), (std::vector<std::string>{"adir", "zdir", "File1.txt", "file2.txt", "file10.txt"}));
  EXPECT_EQ(offered.size(), 6u);  // everything but the hidden file was offered
  EXPECT_EQ(owner.Focus, 0);
  CheckInvariants();

  owner.IncludeHidden = true;
  list->Populate();
  EXPECT_EQ(list->Count(), 6);
  EXPECT_NE(std::find(Names().begin(), Names().end(), ".hidden"), Names().end());

  // Descending turns the whole comparison round, folders included.
  list->SortOrder[0] = -1;
  list->Sort(0);
  EXPECT_EQ(Names().front(), "file10.txt");
  EXPECT_EQ(Names().back(), "adir");
}

TEST_F(FileListTest, SortBySizeAndTime) {
  tmp.file("small", "1");
  tmp.file("large", std::string(5000, 'x'));
  tmp.file("middle", std::string(300, 'x'));
  tmp.dir("folder");
  Show(tmp.path());
  list->Sort(1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "small", "middle", "large"}));
  list->SortOrder[1] = -1;
  list->Sort(1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"large", "middle", "small", "folder"}));
  // A file that grew since the last sort sorts by its new size.
  tmp.file("small", std::string(9000, 'x'));
  list->Sort(1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"small", "large", "middle", "folder"}));

  // Modification time: make the order differ from the names.
  auto setTime = [&](const char* name, int age) {
    std::filesystem::last_write_time(tmp / name,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(age));
  };
  setTime("small", 1);
  setTime("large", 3);
  setTime("middle", 2);
  list->Populate();
  list->Sort(3);
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "large", "middle", "small"}));
}

TEST_F(FileListTest, SortByColumnKeepsSelectionAndFocus) {
  for (int i = 0; i < 8; ++i) tmp.file("n" + std::to_string(i), std::string((8 - i) * 10, 'x'));
  Show(tmp.path());
  auto selectedNames = [&] {
    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i)
      if (owner.IsRowSelected(i)) names.push_back(list->Items(i)->GetDisplayName());
    std::sort(names.begin(), names.end());
    return names;
  };
  // Few selected: the selected ones are remembered.
  owner.SetRowSelected(1, true);
  owner.SetRowSelected(2, true);
  owner.SetFocusedRow(2);
  list->SortByColumn(1);
  EXPECT_EQ(Names().front(), "n7");
  EXPECT_EQ(selectedNames(), (std::vector<std::string>{"n1", "n2"}));
  EXPECT_EQ(list->Items(owner.Focus)->GetDisplayName(), "n2");
  EXPECT_EQ(list->SortType, 1);

  // Most selected: the unselected ones are remembered.
  owner.SelectAllRows(true);
  owner.SetRowSelected(list->IndexOf(list->Items(0)), false);  // n7
  list->SortByColumn(0);
  EXPECT_EQ(selectedNames().size(), 7u);
  EXPECT_FALSE(owner.IsRowSelected(7));  // n7 is last by name

  // All selected stays all selected.
  owner.SelectAllRows(true);
  list->SortByColumn(1);
  EXPECT_EQ(owner.SelectedCount(), 8);
  EXPECT_GE(owner.SelUpdates, 3);

  owner.SelectAllRows(false);
  owner.SetRowSelected(0, true);
  TShellIDList* selection = list->GetSelectedIDList();
  ASSERT_EQ(selection->Count(), 1);
  EXPECT_EQ(selection->GetItemPath(0), list->Items(0)->GetItemPath());
  list->DeleteSelected();
  EXPECT_EQ(list->Count(), 7);
  EXPECT_EQ(owner.SelectedCount(), 0);
  CheckInvariants();
}

TEST_F(FileListTest, DesktopShowsVirtualItemsByTheFilter) {
  PItemIDList desktop = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DESKTOP, desktop));
  list = std::make_unique<TShellFileList>(&owner, false);
  list->SetFolder(desktop);
  auto types = [&] {
    std::vector<TShItemIDType> t;
    for (int i = 0; i < list->Count(); ++i) t.push_back(list->Items(i)->GetItemType());
    return t;
  };
  auto has = [&](TShItemIDType type) {
    auto t = types();
    return std::find(t.begin(), t.end(), type) != t.end();
  };
  EXPECT_EQ(list->GetLevel(), 0);
  EXPECT_EQ(list->GetFolderType(), itDeskTop);
  EXPECT_TRUE(has(itBitBucket));
  EXPECT_TRUE(has(itNetWork));
  EXPECT_TRUE(has(itMyComputer));
  EXPECT_FALSE(list->GetPathName().empty());  // the desktop folder's path

  owner.VirtuaItems = {};
  list->Populate();
  EXPECT_FALSE(has(itBitBucket));
  EXPECT_FALSE(has(itNetWork));
  EXPECT_TRUE(has(itMyComputer));
  FreeIDList(desktop);
}

TEST_F(FileListTest, VirtualFolderShowsOneColumnAndBackRestoresThem) {
  tmp.file("x");
  Show(tmp.path());
  owner.Columns[2].width = 77;
  owner.Order = {0, 2, 1, 3, 4};
  PItemIDList computer = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DRIVES, computer));
  list->SetFolder(computer);
  ASSERT_EQ(owner.ColumnCount(), 1);
  EXPECT_EQ(owner.Columns[0].caption, "名前");
  EXPECT_EQ(owner.Columns[0].width, owner.Width / 2);
  EXPECT_EQ(list->GetFolderType(), itMyComputer);
  EXPECT_GE(list->Count(), 1);  // at least the root file system
  EXPECT_EQ(list->GetPathName(), "");
  FreeIDList(computer);

  PItemIDList back = nullptr;
  ASSERT_TRUE(PathToIDList(tmp.path(), back));
  list->SetFolder(back);
  FreeIDList(back);
  ASSERT_EQ(owner.ColumnCount(), 5);
  EXPECT_EQ(owner.Order, (std::vector<int>{0, 2, 1, 3, 4}));
  EXPECT_EQ(owner.Columns[2].width, 77);
  EXPECT_EQ(owner.Columns[2].caption, "ファイルの種類");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(owner.Columns[i].rightAligned, i == 1);
}

TEST_F(FileListTest, ChangesOnDiskAreReadAfterSettling) {
  tmp.file("first");
  Show(tmp.path(), true);
  ASSERT_EQ(list->Count(), 1);
  int changesBefore = owner.ListChanges;
  QTest::qWait(200);
  tmp.file("second");
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(WaitFor([&] { return list->Count() == 2; }, 6000));
  EXPECT_GE(timer.elapsed(), 1500);  // the burst settles first
  EXPECT_GT(owner.ListChanges, changesBefore);
  CheckInvariants();

  // A size change re-reads the data of rows that were shown.
  TShellFileItem* first = list->Items(0);
  EXPECT_EQ(first->GetSize(), 0u);
  tmp.file("first", "grown");
  ASSERT_TRUE(WaitFor([&] { return list->Items(0)->GetSize() == 5u; }, 6000));

  // Changes while the mouse is held on a row are dropped.
  owner.MouseDown = true;
  tmp.file("third");
  QTest::qWait(3000);
  EXPECT_EQ(list->Count(), 2);
  owner.MouseDown = false;
}

TEST_F(FileListTest, DeletedFolderMovesTheListToItsNearestParent) {
  std::string shown = tmp.dir("shown/inner");
  tmp.file("shown/inner/a");
  Show(shown, true);
  ASSERT_EQ(list->Count(), 1);
  QTest::qWait(200);
  std::filesystem::remove_all(tmp / "shown");
  ASSERT_TRUE(WaitFor([&] { return list->GetPathName() == tmp.path(); }, 6000)) << list->GetPathName();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(owner.ItemsCount, 0);
}

TEST_F(FileListTest, DeletedFolderMovesToTheTreeSelection) {
  std::string shown = tmp.dir("shown");
  PItemIDList treeFolder = nullptr;
  tmp.file("kept");
  ASSERT_TRUE(PathToIDList(tmp.path(), treeFolder));
  owner.TreeSelection = treeFolder;
  Show(shown, true);
  QTest::qWait(200);
  std::filesystem::remove_all(shown);
  ASSERT_TRUE(WaitFor([&] { return list->GetPathName() == tmp.path(); }, 6000));
  EXPECT_EQ(Names(), (std::vector<std::string>{"kept"}));
  CheckInvariants();
  list.reset();
  FreeIDList(treeFolder);
}

TEST_F(FileListTest, UnreadableOrVanishedFoldersListAsEmpty) {
  std::string locked = tmp.dir("locked");
  tmp.file("locked/secret");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  Show(locked);
  if (geteuid() != 0) {
    EXPECT_EQ(list->Count(), 0);  // root reads it anyway
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);

  PItemIDList id = nullptr;
  std::string gone = tmp.dir("gone");
  ASSERT_TRUE(PathToIDList(gone, id));
  std::filesystem::remove(gone);
  list->SetFolder(id);
  EXPECT_EQ(list->Count(), 0);
  FreeIDList(id);
  CheckInvariants();
}
