#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "platform/system/Library.h"

namespace {

using AddFn = int (*)(int, int);
using NameFn = const char* (*)();

}  // namespace

TEST(Library, WindowsNameFindsTheSharedObjectBesideTheProgram) {
  HMODULE lib = LoadLibrary("TESTLIB32.DLL");
  ASSERT_NE(lib, nullptr) << LibraryError();
  auto add = reinterpret_cast<AddFn>(GetProcAddress(lib, "TestLibAdd"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(GetProcAddress(lib, "NoSuchEntry"), nullptr);
  EXPECT_FALSE(LibraryError().empty());
  EXPECT_EQ(GetProcAddress(nullptr, "TestLibAdd"), nullptr);
  EXPECT_EQ(GetProcAddress(lib, nullptr), nullptr);

  // The plain .so name works too, and loading twice gives the same library.
  HMODULE again = LoadLibrary("TESTLIB32.so");
  EXPECT_EQ(again, lib);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(FreeLibrary(lib));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Library, PathsAndMissingLibraries) {
  TempDir tmp;
  std::string built = ExecutableFolder() + "/TESTLIB32.so";
  ASSERT_TRUE(std::filesystem::exists(built));
  std::filesystem::copy_file(built, tmp / "Other.so");

  // A path is loaded as given, with .dll standing for .so when only that exists.
  HMODULE lib = LoadLibrary(tmp / "Other.DLL");
  ASSERT_NE(lib, nullptr) << LibraryError();
  auto name = reinterpret_cast<NameFn>(GetProcAddress(lib, "TestLibName"));
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name(), "TESTLIB32");
  FreeLibrary(lib);

  EXPECT_EQ(LoadLibrary("NOSUCHLIB32.DLL"), nullptr);
  EXPECT_FALSE(LibraryError().empty());
  EXPECT_EQ(LoadLibrary(tmp / "missing.dll"), nullptr);
  EXPECT_EQ(LoadLibrary(""), nullptr);
  // A file that is no library fails cleanly.
  EXPECT_EQ(LoadLibrary(tmp.file("fake.so", "not an ELF file")), nullptr);
}

TEST(Library, SearchPathLooksInFoldersInOrder) {
  TempDir tmp;
  std::string first = tmp.dir("first"), second = tmp.dir("second");
  tmp.file("second/kmtarsef.exe", "x");
  tmp.file("second/7z.sfx", "x");
  tmp.file("first/7z.sfx", "x");
  std::string folders = first + ":" + second + "/";

  EXPECT_EQ(SearchPath(folders, "kmtarsef.exe"), second + "/kmtarsef.exe");
  EXPECT_EQ(SearchPath(folders, "7z.sfx"), first + "/7z.sfx");
  EXPECT_EQ(SearchPath(folders, "kmtarsef", ".exe"), second + "/kmtarsef.exe");
  EXPECT_EQ(SearchPath(folders, "7z.sfx", ".exe"), first + "/7z.sfx");  // has its own extension
  EXPECT_EQ(SearchPath(folders, "missing.exe"), "");
  EXPECT_EQ(SearchPath(folders, "first"), "");  // folders are not files
  EXPECT_EQ(SearchPath("", tmp / "second/7z.sfx"), tmp / "second/7z.sfx");

  // Without folders: the program's folder comes first.
  EXPECT_EQ(SearchPath("", "TESTLIB32.so"), ExecutableFolder() + "/TESTLIB32.so");
}
