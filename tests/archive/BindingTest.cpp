// Binding to real libraries loaded with dlopen: loading, entry resolution and
// its cache, the messages, the completed entry record, and ZIP's three
// libraries with LMZIP32's spelling.
#include <gtest/gtest.h>

#include <cstring>

#include "ArcTestLibrary.h"
#include "TempDir.h"

namespace {

// By value: the times sit unaligned in the packed entry record.
uint64_t Ticks(ArcFileTime t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// 2024-03-15 13:45:30 as a FILETIME: 1601 to 1970, then seconds since 1970.
constexpr uint64_t kFixtureDosTime = (11644473600ull + 1710510330ull) * 10000000ull;

}  // namespace

TEST(BindingTest, LoadsOnceAndUnloadForgetsEveryEntry) {
  TArchiverDll dll("テスト 形式書庫", "Tst", "ARCTEST32.DLL");
  EXPECT_EQ(dll.Handle, nullptr) << "the constructor loads nothing";
  dll.Load();
  HMODULE first = dll.Handle;
  ASSERT_NE(first, nullptr);
  dll.Load();
  EXPECT_EQ(dll.Handle, first);

  TempDir tmp;
  std::string arc = tmp.file("a.arc", "[Tst]");
  HARC h = dll.OpenArchive(nullptr, arc, 0);
  EXPECT_NE(h, nullptr);
  EXPECT_TRUE(dll.IsResolved(TCustomArchiverDll::esOpenArchive));
  dll.Unload();
  EXPECT_EQ(dll.Handle, nullptr);
  for (int s = 0; s < TCustomArchiverDll::kEntrySlotCount; ++s)
    EXPECT_FALSE(dll.IsResolved(static_cast<TCustomArchiverDll::TEntrySlot>(s)));
  // Resolved again from the library loaded again.
  EXPECT_NE(dll.OpenArchive(nullptr, arc, 0), nullptr);
  EXPECT_NE(dll.Handle, nullptr);
  EXPECT_TRUE(dll.IsResolved(TCustomArchiverDll::esOpenArchive));
}

TEST(BindingTest, MissingLibraryAndMissingEntryMessages) {
  TArchiverDll missing("テスト 形式書庫", "Tst", "NOSUCH32.DLL");
  try {
    missing.Load();
    ADD_FAILURE();
  } catch (const ENoArchiverDLL& e) {
    EXPECT_STREQ(e.what(), "テスト 形式書庫 を扱うには NOSUCH32.DLL が 必要です。");
  }
  EXPECT_EQ(missing.Handle, nullptr);
  EXPECT_THROW(missing.Command(nullptr, "x", nullptr, 0), ENoArchiverDLL);

  TArchiverDll dll("テスト 形式書庫", "Tst", "ARCTEST32.DLL");
  try {
    dll.GetArchiveType("/a");
    ADD_FAILURE();
  } catch (const EEntryNotFound& e) {
    EXPECT_EQ(std::string(e.what()), TestLibraryPath() + " に TstGetArchiveType のエントリが見つかりません。");
  }
  EXPECT_FALSE(dll.IsResolved(TCustomArchiverDll::esGetArchiveType));
  // Optional entries that are missing just answer FALSE.
  int64_t size = 7;
  EXPECT_EQ(dll.GetOriginalSizeEx(nullptr, &size), 0);
  EXPECT_EQ(size, 7);
}

TEST(BindingTest, CommandWithoutOutputPassesNullAndZero) {
  ArcTestLibrary lib;
  TArchiverDll dll("テスト 形式書庫", "Tst", "ARCTEST32.DLL");
  char buf[64] = "untouched";
  dll.Command(nullptr, "x a", buf, 0);
  EXPECT_TRUE(lib.LastOutputNull());
  EXPECT_STREQ(buf, "untouched");
  dll.Command(nullptr, "x a", buf, sizeof buf);
  EXPECT_FALSE(lib.LastOutputNull());
  EXPECT_STREQ(buf, "Tst: x a");
}

TEST(BindingTest, FoundEntriesAreCompletedWithTimesAndWideSizes) {
  TArchiverDll dll("テスト 形式書庫", "Tst", "ARCTEST32.DLL");
  TempDir tmp;
  HARC h = dll.OpenArchive(nullptr, tmp.file("a.arc", "[Tst]"), 0);
  ASSERT_NE(h, nullptr);
  TArchiveEntryInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(dll.FindFirst(h, "*", &info), 0);
  EXPECT_STREQ(info.Info.szFileName, "entry0.txt");
  // No write-time entry answer: the DOS date and time, taken as they are.
  EXPECT_EQ(Ticks(info.LastWriteTime), kFixtureDosTime);
  EXPECT_EQ(Ticks(info.LastAccessTime), kFixtureDosTime);
  EXPECT_EQ(Ticks(info.CreationTime), kFixtureDosTime);
  EXPECT_EQ(int64_t(info.OriginalSize), 1000);
  EXPECT_EQ(int64_t(info.CompressedSize), 500);
  ASSERT_EQ(dll.FindNext(h, &info), 0);
  EXPECT_EQ(Ticks(info.LastWriteTime), 0x01D0000011223344ull);
  EXPECT_EQ(Ticks(info.LastAccessTime), kFixtureDosTime);
  EXPECT_EQ(int64_t(info.OriginalSize), 1001);

  // Nothing found: the completed part is left alone.
  std::memset(&info, 0xAB, sizeof info);
  EXPECT_NE(dll.FindNext(h, &info), 0);
  EXPECT_NE(dll.FindFirst(nullptr, "*", &info), 0);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
  for (size_t k = 558; k < 598; ++k) ASSERT_EQ(bytes[k], 0xAB) << k;
  dll.CloseArchive(h);
}

TEST(BindingTest, DosDatesThatDoNotExistAreNotConverted) {
  ArcFileTime t{1, 2};
  EXPECT_FALSE(DosDateTimeToFileTime(static_cast<uint16_t>((44 << 9) | (2 << 5) | 30), 0, &t));  // 30 Feb
  EXPECT_FALSE(DosDateTimeToFileTime(0, 0, &t));
  EXPECT_EQ(t.dwLowDateTime, 1u);
  EXPECT_TRUE(DosDateTimeToFileTime(static_cast<uint16_t>((44 << 9) | (2 << 5) | 29), 0, &t));  // 2024 leap day
}

TEST(BindingTest, Lmzip32AloneIsFoundUnderItsLowerCaseNames) {
  TZipDll zip({"/nonexistent/UNZIP32.so", LmzipTestLibraryPath(), "/nonexistent/ZIP32J.so"});
  zip.Load();  // missing ones are no error
  EXPECT_FALSE(zip.IsLoaded(TZipDll::zmUnzip32));
  ASSERT_TRUE(zip.IsLoaded(TZipDll::zmLmzip32));
  TempDir tmp;
  HARC h = zip.OpenArchive(nullptr, tmp.file("a.zip", "[Unzip]"), 0);
  ASSERT_NE(h, nullptr);
  TArchiveEntryInfo info{};
  EXPECT_EQ(zip.FindFirst(h, "*", &info), 0);
  EXPECT_EQ(zip.FindNext(h, &info), 0);
  EXPECT_STREQ(info.Info.szFileName, "entry1.txt");
  EXPECT_EQ(zip.UnZipCommand(nullptr, "-x a", nullptr, 0), 0);
  EXPECT_EQ(zip.ZipCommand(nullptr, "-A a", nullptr, 0), 0);
  auto lastEntry =
      reinterpret_cast<const char* (*)()>(GetProcAddress(zip.Modules[TZipDll::zmLmzip32], "ArcTestLastEntry"));
  ASSERT_NE(lastEntry, nullptr);
  EXPECT_STREQ(lastEntry(), "Zip");
  // The owner-window entries belong to UNZIP32 alone.
  try {
    zip.SetOwnerWindowEx(nullptr, nullptr);
    ADD_FAILURE();
  } catch (const EEntryNotFound& e) {
    EXPECT_STREQ(e.what(), "/nonexistent/UNZIP32.so に UnZipSetOwnerWindowEx のエントリが見つかりません。");
  }
}

TEST(BindingTest, ZipEntriesComeFromTheFirstModuleOfTheirOrder) {
  // UNZIP32 = the full test library, LMZIP32 = the lower-case one.
  TZipDll zip({TestLibraryPath(), LmzipTestLibraryPath(), "/nonexistent/ZIP32J.so"});
  zip.Load();
  auto lastEntry = [&](TZipDll::TZipModule m) {
    return std::string(reinterpret_cast<const char* (*)()>(GetProcAddress(zip.Modules[m], "ArcTestLastEntry"))());
  };
  TempDir tmp;
  zip.OpenArchive(nullptr, tmp.file("a.zip", "[Unzip][UnZip]"), 0);
  EXPECT_EQ(lastEntry(TZipDll::zmLmzip32), "UnzipOpenArchive");  // LMZIP32 first
  zip.UnZipCommand(nullptr, "-x a", nullptr, 0);
  EXPECT_EQ(lastEntry(TZipDll::zmUnzip32), "UnZip");  // UNZIP32 first
  EXPECT_TRUE(zip.SetOwnerWindowEx(nullptr, nullptr));
  zip.Unload();
  EXPECT_FALSE(zip.IsLoaded(TZipDll::zmUnzip32));
  EXPECT_FALSE(zip.IsUnZipResolved());
  EXPECT_FALSE(zip.IsResolved(TCustomArchiverDll::esOpenArchive));
}

TEST(BindingTest, ZipWithoutAnyLibraryLoadsAndRaisesOnFirstUse) {
  TZipDll zip({"/nonexistent/a.so", "/nonexistent/b.so", "/nonexistent/c.so"});
  EXPECT_NO_THROW(zip.Load());
  try {
    zip.OpenArchive(nullptr, "/a.zip", 0);
    ADD_FAILURE();
  } catch (const EEntryNotFound& e) {
    EXPECT_STREQ(e.what(), "UnZipOpenArchive のエントリが DLL に見つかりませんでした。");
  }
  ArcFileTime t{};
  EXPECT_EQ(zip.GetWriteTimeEx(nullptr, &t), 0);  // optional: no error
}

TEST(BindingTest, AFormatsBindingIsFreedWhileItsLibraryStaysLoaded) {
  const std::string folder = ExecutableFolder() + "/lmzip-test", library = LmzipTestLibraryPath();
  ASSERT_TRUE(LoadedLibrariesIn(folder).empty());
  {
    TBindingSlot slot("テスト 形式書庫", "Unzip", library.c_str());
    slot.LoadDLL();
    ASSERT_NE(slot.Get().Handle, nullptr);
  }
  // The process's last use of a library must not run its teardown early.
  EXPECT_EQ(LoadedLibrariesIn(folder).size(), 1u);
}
