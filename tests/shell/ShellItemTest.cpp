#include <fcntl.h>
#include <unistd.h>

#include <QMimeData>
#include <filesystem>
#include <set>
#include <thread>
#include <gtest/gtest.h>

#include "SimpleListOwner.h"
#include "TempDir.h"
#include "platform/system/Exception.h"
#include "platform/namespace/ItemID.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"

namespace {
PItemIDList Parse(const std::string& path) {
  PItemIDList list = nullptr;
  EXPECT_TRUE(PathToIDList(path, list)) << path;
  return list;
}

// A folder shown in a list without a window, for reaching its items.
struct ShownFolder {
  SimpleListOwner owner;
  TShellFileList list{&owner, false};
  explicit ShownFolder(const std::string& path) {
    PItemIDList id = Parse(path);
    list.SetFolder(id);
    FreeIDList(id);
  }
  TShellFileItem* Find(const std::string& name) {
    for (int i = 0; i < list.Count(); ++i)
      if (list.Items(i)->GetDisplayName() == name) return list.Items(i);
    return nullptr;
  }
};
}  // namespace

TEST(ShellItems, LevelsAndTypesOfTheNamespace) {
  PItemIDList desktop = nullptr, computer = nullptr, bin = nullptr;
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DESKTOP, desktop));
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_DRIVES, computer));
  ASSERT_TRUE(GetSpecialFolderIDList(CSIDL_BITBUCKET, bin));
  PItemIDList root = Parse("/");
  EXPECT_EQ(GetIDListLevel(desktop), 0);
  EXPECT_EQ(GetIDListLevel(computer), 1);
  EXPECT_EQ(GetIDListLevel(root), 2);
  EXPECT_EQ(GetIDListLevel(nullptr), -1);

  auto typeOf = [](PItemIDList abs) {
    PItemIDList last = CountIDs(abs) ? CopyLastID(abs) : CopyIDList(abs);
    TShellFolderItem item(nullptr, last, CopyIDList(abs));
    return item.GetItemType();
  };
  EXPECT_EQ(typeOf(desktop), itDeskTop);
  EXPECT_EQ(typeOf(computer), itMyComputer);
  EXPECT_EQ(typeOf(bin), itBitBucket);
  EXPECT_EQ(typeOf(root), itRootDrive);

  TempDir tmp;
  tmp.file("f.txt", "x");
  PItemIDList folder = Parse(tmp.path()), file = Parse(tmp / "f.txt");
  EXPECT_EQ(typeOf(folder), itFolder);
  EXPECT_EQ(typeOf(file), itFile);
  // The same folder reached twice is the same item.
  PItemIDList again = Parse(tmp.path() + "/");
  EXPECT_EQ(CompareIDsIn(SHGetDesktopFolder().get(), folder, again), 0);
  EXPECT_EQ(CompareIDsIn(nullptr, folder, again), 3);
  EXPECT_EQ(IDListToPath(again), tmp.path());
  for (PItemIDList* p : {&desktop, &computer, &bin, &root, &folder, &file, &again}) FreeIDList(*p);
}

TEST(ShellItems, SizeTextIsWholeKilobytesOfTheWhole64BitSize) {
  TempDir tmp;
  tmp.file("empty");
  tmp.file("one", "x");
  tmp.file("kb", std::string(1025, 'k'));
  tmp.dir("sub");
  std::string big = tmp / "big";
  int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 5ll << 30), 0);  // sparse: costs nothing on disk
  close(fd);

  ShownFolder shown(tmp.path());
  ASSERT_EQ(shown.list.Count(), 5);
  EXPECT_EQ(shown.Find("empty")->GetSizeText(), "0KB");
  EXPECT_EQ(shown.Find("one")->GetSizeText(), "1KB");
  EXPECT_EQ(shown.Find("kb")->GetSizeText(), "2KB");
  EXPECT_EQ(shown.Find("sub")->GetSizeText(), "");
  EXPECT_EQ(shown.Find("big")->GetSize(), 5ull << 30);
  EXPECT_EQ(shown.Find("big")->GetSizeText(), "5,242,880KB");

  TShellFileItem* sub = shown.Find("sub");
  EXPECT_TRUE(sub->GetItemAttributes() & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(sub->GetItemPath(), tmp / "sub");
  EXPECT_GE(sub->GetImageIndex(), 0);
  EXPECT_FALSE(sub->GetModifiedText().empty());
  EXPECT_EQ(shown.Find("one")->GetIndex(), shown.list.IndexOf(shown.Find("one")));
}

TEST(ShellItems, RenameNeverReplacesAndKeepsOddBytes) {
  TempDir tmp;
  tmp.file("a.txt", "A");
  tmp.file("b.txt", "B");
  ShownFolder shown(tmp.path());
  TShellFileItem* a = shown.Find("a.txt");
  ASSERT_NE(a, nullptr);
  a->GetFindData();
  EXPECT_FALSE(a->Rename("b.txt"));
  EXPECT_EQ(a->GetDisplayName(), "a.txt");
  std::ifstream b(tmp / "b.txt");
  std::string content((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(content, "B");

  const std::string odd("\xff\xfe-renamed", 10);
  ASSERT_TRUE(a->Rename(odd));
  EXPECT_EQ(a->GetDisplayName(), odd);
  EXPECT_EQ(a->GetItemPath(), tmp / odd);
  EXPECT_STREQ(a->GetFindData().cFileName, odd.c_str());  // no stale name in the cache
  EXPECT_TRUE(std::filesystem::exists(tmp / odd));
  EXPECT_FALSE(std::filesystem::exists(tmp / "a.txt"));
}

TEST(ShellItems, HelpersAndSmallValues) {
  EXPECT_EQ(FileTimeToLocalDateTime({0, 5}), 0.0);
  EXPECT_EQ(FileTimeToLocalDateTime({5, 0}), 0.0);
  EXPECT_NE(FormatDateTime(0).find("1899"), std::string::npos);
  // 2001-01-01 00:00 UTC is 36892 days after 1899-12-30; local time moves it by hours only.
  FILETIME ft = ToFileTime(FileTimeFromUnix(978307200, 0));
  EXPECT_NEAR(FileTimeToLocalDateTime(ft), 36892.0, 1.0);

  EXPECT_EQ(AddBackslash("/a/b"), "/a/b/");
  EXPECT_EQ(AddBackslash("/"), "/");
  EXPECT_EQ(KeysToShiftState(MK_SHIFT | MK_CONTROL | MK_LBUTTON), ssShift | ssCtrl | ssLeft);
  EXPECT_EQ(KeysToShiftState(MK_ALT | MK_RBUTTON | MK_MBUTTON), ssAlt | ssRight | ssMiddle);

  try {
    TShellDragObject drag(nullptr);
    FAIL() << "a drag object needs a data object";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "パラメータが不正です。");
  }
  QMimeData data;
  EXPECT_EQ(TShellDragObject(&data).DataObject, &data);
}

TEST(ShellItems, IDListsOfSiblings) {
  TempDir tmp;
  tmp.file("a");
  tmp.file("b");
  PItemIDList parent = Parse(tmp.path());
  auto* owned = new TShellIDList2;
  owned->AdoptParent(IDListPtr(CopyIDList(parent)));
  PItemIDList a = Parse(tmp / "a"), b = Parse(tmp / "b");
  owned->Adopt(IDListPtr(CopyLastID(a)));
  owned->Adopt(IDListPtr(CopyLastID(b)));
  EXPECT_EQ(owned->Count(), 2);
  EXPECT_EQ(owned->Items(2), nullptr);
  EXPECT_EQ(owned->Items(-1), nullptr);
  EXPECT_EQ(owned->GetItemPath(1), tmp / "b");
  EXPECT_EQ(owned->GetItemPath(2), "");
  EXPECT_TRUE(owned->HasAttribute(SFGAO_CANCOPY | SFGAO_CANDELETE));
  EXPECT_FALSE(owned->HasAttribute(SFGAO_FOLDER));
  EXPECT_TRUE(owned->GetAttributes() & SFGAO_CANRENAME);
  EXPECT_EQ(owned->ParentLevel(), GetIDListLevel(parent));
  delete owned;  // frees every list it holds (leak checkers see it)

  TShellIDList borrowed;
  EXPECT_EQ(borrowed.List(), nullptr);
  EXPECT_EQ(borrowed.GetAttributes(), 0u);
  for (PItemIDList* p : {&parent, &a, &b}) FreeIDList(*p);
}

// Rows come from a pool shared by every list, also the lists of watcher
// threads' callers: rows made at once on several threads are distinct and
// usable, and a freed row is handed out again.
TEST(ShellItems, RowsFromThePoolAreDistinctAcrossThreadsAndReused) {
  constexpr int kThreads = 4, kRows = 20000;
  std::vector<std::vector<TShellFileItem*>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kRows; ++i) {
        auto* row = new TShellFileItem(nullptr, nullptr);
        row->LargeImageIndex = t * kRows + i;
        made[t].push_back(row);
      }
    });
  for (std::thread& thread : threads) thread.join();
  std::set<TShellFileItem*> seen;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kRows; ++i) {
      TShellFileItem* row = made[t][i];
      ASSERT_EQ(reinterpret_cast<uintptr_t>(row) % alignof(TShellFileItem), 0u);
      ASSERT_EQ(row->LargeImageIndex, t * kRows + i);  // nothing else wrote into it
      ASSERT_TRUE(seen.insert(row).second);
    }
  TShellFileItem* last = made[0].back();
  delete last;
  made[0].pop_back();
  auto* again = new TShellFileItem(nullptr, nullptr);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(again, last);
#endif
  delete again;
  for (auto& rows : made)
    for (TShellFileItem* row : rows) delete row;
}
