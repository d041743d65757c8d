#include <gtest/gtest.h>

#include <cstring>

#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"

namespace {
// A list of three file entries a/b/c.
PItemIDList ThreeLevels() {
  PItemIDList list = MakeFileEntryID("a", itemflag::kFolder, nullptr);
  for (const char* name : {"bb", "ccc"}) {
    PItemIDList next = MakeFileEntryID(name, 0, nullptr);
    list = AppendIDList(list, next);
  }
  return list;
}
}  // namespace

TEST(IDList, SizesWalkAndCopies) {
  PItemIDList list = ThreeLevels();
  ASSERT_NE(list, nullptr);
  uint32_t a = kFileEntryFixed + 1, b = kFileEntryFixed + 2, c = kFileEntryFixed + 3;
  EXPECT_EQ(GetIDListSize(list), a + b + c + 2);
  EXPECT_EQ(GetFirstIDSize(list), a + 2);
  EXPECT_EQ(CountIDs(list), 3);

  PItemIDList second = NextID(list);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(IDPayloadText(second), "bb");
  PItemIDList third = NextID(second);
  EXPECT_EQ(IDPayloadText(third), "ccc");
  EXPECT_EQ(NextID(third), nullptr);  // the following one is the terminator

  PItemIDList last = CopyLastID(list);
  EXPECT_EQ(CountIDs(last), 1);
  EXPECT_EQ(IDPayloadText(last), "ccc");
  PItemIDList first = CopyFirstID(list);
  EXPECT_EQ(IDPayloadText(first), "a");
  EXPECT_TRUE(IDFlags(first) & itemflag::kFolder);

  PItemIDList parent = CopyParentIDList(list);
  EXPECT_EQ(CountIDs(parent), 2);
  EXPECT_EQ(IDPayloadText(LastID(parent)), "bb");
  // A one-ID list has no parent list: callers use the desktop's.
  EXPECT_EQ(CopyParentIDList(last), nullptr);

  PItemIDList copy = CopyIDList(list);
  EXPECT_TRUE(IDListsEqual(copy, list));
  EXPECT_NE(copy, list);

  for (PItemIDList* p : {&list, &last, &first, &parent, &copy}) {
    FreeIDList(*p);
    EXPECT_EQ(*p, nullptr);
  }
}

TEST(IDList, EmptyAndNullLists) {
  PItemIDList empty = AllocIDList(2);  // the desktop: just the terminator
  EXPECT_EQ(GetIDListSize(empty), 2u);
  EXPECT_EQ(GetFirstIDSize(empty), 0u);
  EXPECT_EQ(CopyFirstID(empty), nullptr);
  EXPECT_EQ(CopyLastID(empty), nullptr);
  EXPECT_EQ(NextID(empty), nullptr);
  EXPECT_EQ(CountIDs(empty), 0);

  EXPECT_EQ(GetIDListSize(nullptr), 0u);
  EXPECT_EQ(GetFirstIDSize(nullptr), 0u);
  EXPECT_EQ(NextID(nullptr), nullptr);
  EXPECT_EQ(CopyIDList(nullptr), nullptr);
  EXPECT_EQ(CopyLastID(nullptr), nullptr);
  EXPECT_EQ(ConcatIDLists(nullptr, empty), nullptr);
  PItemIDList none = nullptr;
  FreeIDList(none);  // freeing nothing is allowed

  // Concatenating the empty list gives a copy.
  PItemIDList a = MakeFileEntryID("x", 0, nullptr);
  PItemIDList joined = ConcatIDLists(a, empty);
  EXPECT_TRUE(IDListsEqual(joined, a));
  FreeIDList(joined);
  FreeIDList(a);
  FreeIDList(empty);
}

TEST(IDList, AppendFreesBothInputs) {
  PItemIDList a = MakeFileEntryID("x", 0, nullptr);
  PItemIDList b = MakeFileEntryID("y", 0, nullptr);
  PItemIDList both = AppendIDList(a, b);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(CountIDs(both), 2);

  // One side missing: a copy of the other, which is freed too.
  PItemIDList nothing = nullptr;
  PItemIDList copy = AppendIDList(nothing, both);
  EXPECT_EQ(both, nullptr);
  EXPECT_EQ(CountIDs(copy), 2);
  FreeIDList(copy);
}

TEST(ItemID, EncodingKeepsBytesAndStatData) {
  const std::string odd("caf\xe9\xff name", 10);  // not UTF-8
  FileStat stat{5ull << 30, 133000000000000000ull, 0100644};
  PItemIDList id = MakeFileEntryID(odd, 0, &stat);
  EXPECT_EQ(IDKind(id), ItemKind::FileEntry);
  EXPECT_EQ(IDPayloadText(id), odd);
  FileStat read;
  ASSERT_TRUE(IDFileStat(id, read));
  EXPECT_EQ(read.size, 5ull << 30);
  EXPECT_EQ(read.mtime, stat.mtime);
  EXPECT_EQ(read.mode, stat.mode);
  ClearIDFileStat(id);
  EXPECT_FALSE(IDFileStat(id, read));
  FreeIDList(id);

  PItemIDList hidden = MakeFileEntryID(".profile", 0, nullptr);
  EXPECT_TRUE(IDFlags(hidden) & itemflag::kHidden);
  FreeIDList(hidden);

  PItemIDList drive = MakeDriveID("/mnt/data", true);
  EXPECT_EQ(IDKind(drive), ItemKind::Drive);
  EXPECT_EQ(IDPayloadText(drive), "/mnt/data");
  EXPECT_TRUE(IDFlags(drive) & itemflag::kNetwork);
  FreeIDList(drive);

  EXPECT_EQ(IDKind(nullptr), ItemKind::Invalid);
  EXPECT_EQ(IDPayloadText(nullptr), "");
}

TEST(IDList, TooLongForSixteenBitsIsRefusedNotWrapped) {
  EXPECT_EQ(AllocIDList(0x10000), nullptr);
  PItemIDList a = AllocIDList(0x9000), b = AllocIDList(0x9000);
  // Give each a real ID so their sizes add up past 64 KiB.
  uint16_t cb = 0x8FF0;
  std::memcpy(a, &cb, 2);
  std::memcpy(b, &cb, 2);
  EXPECT_EQ(ConcatIDLists(a, b), nullptr);
  FreeIDList(a);
  FreeIDList(b);
}
