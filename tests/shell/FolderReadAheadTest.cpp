// Large folders: read ahead on a worker and taken by the list (at once, or
// later with a wait cursor), and sorted in two halves, in the same order as
// one sort of the whole.
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

#include "SimpleListOwner.h"
#include "TempDir.h"
#include "platform/namespace/ShellApi.h"
#include "shell/FolderReadAhead.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"

namespace {

void MakeFiles(const TempDir& tmp, const std::string& folder, const std::vector<std::string>& names,
               const std::vector<int>& sizes = {}) {
  tmp.dir(folder);
  for (size_t i = 0; i < names.size(); ++i) {
    int fd = open((tmp.path() + "/" + folder + "/" + names[i]).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    if (i < sizes.size()) {
      ASSERT_EQ(ftruncate(fd, sizes[i]), 0);
    }
    close(fd);
  }
}

std::vector<std::string> Names(const TShellFileList* list) {
  std::vector<std::string> names;
  for (int i = 0; i < list->Count(); ++i) names.push_back(list->Items(i)->GetDisplayName());
  return names;
}

// "f7", "F12", "f0100": shuffled numbers, mixed case; sorted by value.
std::vector<std::string> NumberedNames(int count, std::vector<int>& order) {
  order.resize(count);
  for (int i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::vector<std::string> names;
  for (int value : order)
    names.push_back((value % 3 ? "f" : "F") + std::string(value % 5 ? "" : "0") + std::to_string(value));
  return names;
}

TEST(LargeFolderSortTest, HalvesSortedApartKeepTheNaturalOrderAndTheSizeOrder) {
  TempDir tmp;
  std::vector<int> values;
  const int count = 9000;  // past the size sorted in halves
  std::vector<std::string> names = NumberedNames(count, values);
  std::vector<int> sizes;
  for (int value : values) sizes.push_back((value * 7919) % 5000);
  MakeFiles(tmp, "many", names, sizes);
  tmp.dir("many/sub");

  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  PItemIDList id = nullptr;
  ASSERT_TRUE(PathToIDList(tmp.path() + "/many", id));
  list.SetFolder(id);
  FreeIDList(id);
  std::vector<std::string> shown = Names(&list);
  ASSERT_EQ(shown.size(), static_cast<size_t>(count + 1));
  EXPECT_EQ(shown.front(), "sub");  // folders first
  for (int i = 0; i < count; ++i) {
    const std::string& name = shown[i + 1];
    ASSERT_EQ(std::stoi(name.substr(1)), i) << "row " << i + 1 << ": " << name;
  }

  // By size, largest first; equal sizes by name.
  list.SortOrder[1] = -1;
  list.Sort(1);
  shown = Names(&list);
  std::erase(shown, "sub");
  ASSERT_EQ(shown.size(), static_cast<size_t>(count));
  auto sizeOf = [&](const std::string& name) { return (std::stoi(name.substr(1)) * 7919) % 5000; };
  for (size_t i = 1; i < shown.size(); ++i) {
    const int previous = sizeOf(shown[i - 1]), current = sizeOf(shown[i]);
    ASSERT_GE(previous, current) << shown[i - 1] << " before " << shown[i];
    if (previous == current) {
      ASSERT_GT(std::stoi(shown[i - 1].substr(1)), std::stoi(shown[i].substr(1)));
    }
  }
}

class ReadAheadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    view.reset();
    WaitForWatcherThreads();
  }
  TempDir tmp;
  std::unique_ptr<TShellListView> view = std::make_unique<TShellListView>();
};

TEST_F(ReadAheadTest, ListShowsTheReadFolderInItsOwnOrderAtOnceOrLater) {
  std::vector<int> values;
  MakeFiles(tmp, "a", NumberedNames(3000, values));
  const std::string folder = tmp.path() + "/a";
  view->show();
  // No wait: the rows follow when the worker is done, with a wait cursor until then.
  view->ReadAhead(folder, 0);
  view->SetPathName(folder);
  EXPECT_EQ(view->GetPathName(), folder);
  if (view->Reading()) {
    EXPECT_EQ(view->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(view->FileList()->Count(), 0);
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Reading(); }, 10000));
  EXPECT_NE(view->cursor().shape(), Qt::WaitCursor);
  std::vector<std::string> names = Names(view->FileList());
  ASSERT_EQ(names.size(), 3000u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(std::stoi(names[i].substr(1)), i) << names[i];
  EXPECT_EQ(view->Model()->rowCount(), 3000);

  // With time to wait, the rows are there when the folder is shown.
  MakeFiles(tmp, "b", {"x2", "x10", "x1"});
  view->ReadAhead(tmp.path() + "/b", 10000);
  view->SetPathName(tmp.path() + "/b");
  EXPECT_FALSE(view->Reading());
  EXPECT_EQ(Names(view->FileList()), (std::vector<std::string>{"x1", "x2", "x10"}));
}

TEST_F(ReadAheadTest, HugeFolderReadInTimeStillFillsTheListOnlyAfterItsFirstPaint) {
  std::vector<int> values;
  MakeFiles(tmp, "huge", NumberedNames(12000, values));
  const std::string folder = tmp.path() + "/huge";
  // Shown but not yet painted, as the window is while it starts.
  view->show();
  int paintsBefore = 0, paintsAfter = 0;
  struct PaintCounter : QObject {
    TShellListView* view;
    int *before, *after;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++*(view->FileList()->Count() == 0 ? before : after);
      return false;
    }
  } counter;
  counter.view = view.get();
  counter.before = &paintsBefore;
  counter.after = &paintsAfter;
  for (QWidget* child : view->findChildren<QWidget*>()) child->installEventFilter(&counter);
  view->ReadAhead(folder, 10000);
  view->SetPathName(folder);
  // The read was waited for, yet the rows are held back for the paint.
  EXPECT_TRUE(view->Reading());
  EXPECT_EQ(view->FileList()->Count(), 0);
  EXPECT_EQ(view->cursor().shape(), Qt::WaitCursor);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Reading(); }, 10000));
  EXPECT_GT(paintsBefore, 0);
  EXPECT_EQ(view->FileList()->Count(), 12000);
  EXPECT_EQ(std::stoi(view->FileList()->Items(11999)->GetDisplayName().substr(1)), 11999);
  EXPECT_NE(view->cursor().shape(), Qt::WaitCursor);

  // Once painted, a huge read in time is shown at once.
  MakeFiles(tmp, "huge2", NumberedNames(11000, values));
  view->ReadAhead(tmp.path() + "/huge2", 10000);
  view->SetPathName(tmp.path() + "/huge2");
  EXPECT_FALSE(view->Reading());
  EXPECT_EQ(view->FileList()->Count(), 11000);
}

TEST_F(ReadAheadTest, HugeReadForAListHiddenBeforeItsFirstPaintStillArrives) {
  std::vector<int> values;
  MakeFiles(tmp, "huge", NumberedNames(10500, values));
  view->show();
  view->ReadAhead(tmp.path() + "/huge", 10000);
  view->SetPathName(tmp.path() + "/huge");
  view->hide();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Reading(); }, 10000));
  EXPECT_EQ(view->FileList()->Count(), 10500);
}

TEST_F(ReadAheadTest, ReadOfAFolderLeftBeforeItArrivesIsDropped) {
  std::vector<int> values;
  MakeFiles(tmp, "big", NumberedNames(5000, values));
  MakeFiles(tmp, "small", {"only.txt"});
  view->show();
  view->ReadAhead(tmp.path() + "/big", 0);
  view->SetPathName(tmp.path() + "/big");
  view->SetPathName(tmp.path() + "/small");
  EXPECT_FALSE(view->Reading());
  QTest::qWait(300);  // a late arrival must not bring the big folder back
  EXPECT_EQ(view->GetPathName(), tmp.path() + "/small");
  EXPECT_EQ(Names(view->FileList()), std::vector<std::string>{"only.txt"});
}

}  // namespace

TEST(FolderReadAheadRowsTest, LargeFolderComesAsRowsOfTheListInTheSortedOrder) {
  TempDir tmp;
  std::vector<int> values;
  MakeFiles(tmp, "big", NumberedNames(5000, values));
  MakeFiles(tmp, "small", {"b", "a"});
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  FolderReadAhead big(tmp.path() + "/big", SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, 0, -1, nullptr, &list);
  std::vector<std::unique_ptr<TShellFileItem>> rows = big.TakeRows();
  EXPECT_TRUE(big.Take().empty());
  ASSERT_EQ(rows.size(), 5000u);
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(rows[i]->FileList, &list);
    ASSERT_EQ(std::stoi(std::string(rows[i]->EntryName()).substr(1)), 4999 - i);
  }
  // A few rows are left to the list: the IDs come instead.
  FolderReadAhead small(tmp.path() + "/small", SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, 0, 1, nullptr, &list);
  EXPECT_TRUE(small.TakeRows().empty());
  EXPECT_EQ(small.Take().size(), 2u);
}
