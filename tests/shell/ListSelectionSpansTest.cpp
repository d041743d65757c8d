// Select-all and inversion on a shown list: the rows selected equal a
// reference kept row by row, and the selected size a recount, through masks
// and sorts.
#include <fcntl.h>
#include <unistd.h>

#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "TempDir.h"
#include "shell/ShellListView.h"
#include "shell/actions/ShellActns.h"
#include "shell/actions/Wildcard.h"
#include "shell/watch/WatcherThread.h"

namespace {

class ListSelectionSpansTest : public ::testing::Test {
 protected:
  void TearDown() override {
    view.reset();
    WaitForWatcherThreads();
  }

  void ShowFolder(int files) {
    std::mt19937 random(5);
    for (int i = 0; i < files; ++i) {
      const std::string path = tmp / ((i % 4 ? "a" : "b") + std::to_string(i) + ".dat");
      const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(ftruncate(fd, static_cast<off_t>(random() % 100000)), 0);
      close(fd);
    }
    view = std::make_unique<TShellListView>();
    view->resize(600, 400);
    view->SetViewStyleProperty(vsReport);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->OnShFilter = [this](TShellListView*, TShellFileItem* item, bool& accept) {
      accept = mask.empty() || MatchWildcard(std::string(item->EntryName()), mask);
    };
    view->SetPathName(tmp.path());
  }

  // Lets the view read its sizes while idle, as it does after a change.
  void Idle() {
    for (int i = 0; i < 2000 && view->FileList()->IdleWorkLeft(); ++i) QTest::qWait(1);
    ASSERT_FALSE(view->FileList()->IdleWorkLeft());
  }

  std::set<std::string> Selected() {
    std::set<std::string> names;
    for (int i = 0; i < view->FileList()->Count(); ++i)
      if (view->IsRowSelected(i)) names.insert(view->FileList()->Items(i)->GetDisplayName());
    return names;
  }

  uint64_t Recount() {
    uint64_t total = 0;
    for (int i = 0; i < view->FileList()->Count(); ++i)
      if (view->IsRowSelected(i)) total += view->FileList()->Items(i)->GetSize();
    return total;
  }

  TempDir tmp;
  std::string mask;
  std::unique_ptr<TShellListView> view;
};

}  // namespace

TEST_F(ListSelectionSpansTest, InversionAndSelectAllMatchAReferenceAndARecount) {
  ShowFolder(3000);
  TShellFileList* list = view->FileList();
  ASSERT_EQ(list->Count(), 3000);
  std::mt19937 random(9);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    Idle();
    // Runs of selected rows of random lengths, single rows among them.
    view->SelectAllRows(false);
    std::set<std::string> reference, all;
    for (int i = 0; i < list->Count(); ++i) all.insert(list->Items(i)->GetDisplayName());
    for (int i = 0; i < list->Count();) {
      const int run = 1 + static_cast<int>(random() % (round % 2 ? 3 : 200));
      if (random() % 2)
        for (int k = i; k < std::min(i + run, list->Count()); ++k) {
          view->SetRowSelected(k, true);
          reference.insert(list->Items(k)->GetDisplayName());
        }
      i += run;
    }
    ASSERT_EQ(Selected(), reference);
    EXPECT_EQ(view->SelSize(), Recount());

    TReverseSelectedItem().ExecuteTarget(view.get());
    std::set<std::string> inverted;
    std::set_difference(all.begin(), all.end(), reference.begin(), reference.end(),
                        std::inserter(inverted, inverted.end()));
    EXPECT_EQ(Selected(), inverted) << "round " << round;
    EXPECT_EQ(view->SelSize(), Recount()) << "round " << round;
    EXPECT_EQ(view->SelectedCount(), static_cast<int>(inverted.size()));

    // Twice gives the first selection back.
    TReverseSelectedItem().ExecuteTarget(view.get());
    EXPECT_EQ(Selected(), reference);
    EXPECT_EQ(view->SelSize(), Recount());

    TSelectAllItem().ExecuteTarget(view.get());
    EXPECT_EQ(view->SelectedCount(), list->Count());
    EXPECT_EQ(view->SelSize(), Recount());
    TReverseSelectedItem().ExecuteTarget(view.get());
    EXPECT_EQ(view->SelectedCount(), 0);
    EXPECT_EQ(view->SelSize(), 0u);

    // The next round on other rows: masked, unmasked or sorted otherwise.
    mask = round % 3 == 0 ? "b*.*" : "";
    view->ApplyMask();
    if (round % 3 == 2) list->SortByColumn(round % 2);
  }
}

TEST_F(ListSelectionSpansTest, InversionBeforeTheSizesAreReadStillCountsThem) {
  ShowFolder(500);
  // No idle time: the total is not known yet and the rows are summed instead.
  for (int i = 0; i < view->FileList()->Count(); i += 7) view->SetRowSelected(i, true);
  TReverseSelectedItem().ExecuteTarget(view.get());
  EXPECT_EQ(view->SelectedCount(), 500 - 72);
  EXPECT_EQ(view->SelSize(), Recount());
}

TEST_F(ListSelectionSpansTest, WideSelectionBeforeTheSizesAreReadIsCountedAfterThem) {
  ShowFolder(6000);
  std::vector<std::pair<int, bool>> told;
  view->OnSelectItem = [&](TShellListView*, TShellFileItem* item, bool selected) {
    told.emplace_back(item->GetIndex(), selected);
  };
  std::vector<uint64_t> fired;
  view->OnShSelChange = [&](TShellListView*, uint64_t size) { fired.push_back(size); };
  ASSERT_TRUE(view->FileList()->IdleWorkLeft());
  // Select-all answers at once: the size is being counted, the rows not told one by one.
  TSelectAllItem().ExecuteTarget(view.get());
  EXPECT_EQ(view->SelectedCount(), 6000);
  EXPECT_TRUE(view->SelSizeCounting());
  EXPECT_TRUE(told.empty());
  Idle();
  EXPECT_FALSE(view->SelSizeCounting());
  EXPECT_EQ(view->SelSize(), Recount());
  EXPECT_GT(Recount(), 0u);
  EXPECT_EQ(fired.back(), Recount());

  // One row clicked after: told, and counted at once.
  view->RefreshList();  // the sizes are to be read again
  TSelectAllItem().ExecuteTarget(view.get());
  EXPECT_TRUE(view->SelSizeCounting());
  view->BeginSelUpdate();
  view->SelectAllRows(false);
  view->SetRowSelected(10, true);
  view->EndSelUpdate();
  EXPECT_FALSE(view->SelSizeCounting());
  EXPECT_EQ(view->SelSize(), Recount());
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back(), std::make_pair(10, true));

  // An inversion before the sizes are read, and a change of a few rows while counting.
  view->RefreshList();
  for (int i = 0; i < view->FileList()->Count(); i += 7) view->SetRowSelected(i, true);
  TReverseSelectedItem().ExecuteTarget(view.get());
  EXPECT_TRUE(view->SelSizeCounting());
  view->SetRowSelected(1, false);
  view->SetRowSelected(7, true);
  Idle();
  EXPECT_FALSE(view->SelSizeCounting());
  EXPECT_EQ(view->SelectedCount(), 6000 - 858);
  EXPECT_EQ(view->SelSize(), Recount());
}
