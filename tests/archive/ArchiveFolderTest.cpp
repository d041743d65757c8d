// Archives as folders of the namespace, over the real archiver libraries:
// archives made here by the real tools, and the shared LHA/CAB/RAR ones.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "TempDir.h"
#include "TestData.h"
#include "archive/ArchiveCache.h"
#include "archive/ArchiveFolder.h"
#include "platform/namespace/ItemID.h"

namespace {

bool Tool(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1").c_str()) == 0;
}

IDListPtr Parse(const std::string& path) {
  PItemIDList list = nullptr;
  SHGetDesktopFolder()->ParseDisplayName(path, list);
  return IDListPtr(list);
}

// The names a folder lists, folders marked with a trailing '/'.
std::set<std::string> Names(const ShellFolderPtr& folder) {
  std::set<std::string> names;
  if (!folder) return names;
  auto list = folder->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
  if (!list) return names;
  PItemIDList id = nullptr;
  while (list->Next(id)) {
    IDListPtr owned(id);
    names.insert(std::string(IDPayloadText(id)) + ((IDFlags(id) & itemflag::kFolder) ? "/" : ""));
  }
  return names;
}

ShellFolderPtr FolderAt(const std::string& path) {
  IDListPtr id = Parse(path);
  return id ? BindAbsoluteIDList(id.get()) : nullptr;
}

std::string PathOf(PCItemIDList list) {
  std::string path;
  SHGetPathFromIDList(list, path);
  return path;
}

class ArchiveFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterArchiveFolderKind();
    tmp.dir("src/docs/deep");
    tmp.file("src/docs/readme.txt", "read me\n");
    tmp.file("src/docs/deep/x.bin", std::string(5000, 'x'));
    tmp.file("src/top.txt", "top");
  }
  void TearDown() override { RegisterArchiveFolders({}); }
  TempDir tmp;
};

}  // namespace

TEST_F(ArchiveFolderTest, ZipSevenZipAndTarGzListAsFoldersWithPathsInside) {
  // zip -D stores no folder entries: its folders exist only as paths.
  ASSERT_TRUE(Tool(tmp / "src", "zip -qrD ../a.zip ."));
  ASSERT_TRUE(Tool(tmp / "src", "bsdtar --format 7zip -cf ../a.7z docs top.txt"));
  ASSERT_TRUE(Tool(tmp / "src", "tar czf ../a.tar.gz docs top.txt"));
  for (const char* name : {"a.zip", "a.7z", "a.tar.gz"}) {
    SCOPED_TRACE(name);
    const std::string archive = tmp / name;
    EXPECT_TRUE(IsArchiveFolderPath(archive));
    EXPECT_EQ(Names(FolderAt(archive)), (std::set<std::string>{"docs/", "top.txt"}));
    EXPECT_EQ(Names(FolderAt(archive + "/docs")), (std::set<std::string>{"deep/", "readme.txt"}));
    EXPECT_EQ(Names(FolderAt(archive + "/docs/deep")), (std::set<std::string>{"x.bin"}));
    EXPECT_TRUE(IsArchiveFolderPath(archive + "/docs/deep"));
    EXPECT_FALSE(IsArchiveFolderPath(archive + "/docs/readme.txt"));
    EXPECT_FALSE(IsArchiveFolderPath(archive + "/nothing"));

    // A path inside goes to an ID list and back unchanged, and its row carries the entry's data.
    IDListPtr file = Parse(archive + "/docs/deep/x.bin");
    ASSERT_TRUE(file);
    EXPECT_TRUE(IsArchiveIDList(file.get()));
    EXPECT_EQ(PathOf(file.get()), archive + "/docs/deep/x.bin");
    ShellFolderPtr deep = FolderAt(archive + "/docs/deep");
    ASSERT_TRUE(deep);
    WIN32_FIND_DATAA data{};
    ASSERT_TRUE(deep->GetFindData(LastID(file.get()), data));
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    EXPECT_STREQ(data.cFileName, "x.bin");
    EXPECT_GT(FileTimeToUnix(data.ftLastWriteTime), 1.0e9);
    uint32_t attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_STREAM;
    PCItemIDList last = LastID(file.get());
    ASSERT_TRUE(deep->GetAttributesOf(1, &last, attributes));
    // Never taken for a file of the disk by the commands that act on paths.
    EXPECT_EQ(attributes, SFGAO_STREAM);
    // The archive's own row is the root of its folder; above it, the real folder.
    IDListPtr parent(CopyParentIDList(Parse(archive + "/docs").get()));
    EXPECT_EQ(PathOf(parent.get()), archive);
  }
}

TEST_F(ArchiveFolderTest, TheSharedLhaCabAndRarArchivesList) {
  std::filesystem::copy_file(TestArchive("lha_lh6.lzh"), tmp / "a.lzh");
  std::filesystem::copy_file(TestArchive("cab_1.cab"), tmp / "a.cab");
  std::filesystem::copy_file(TestArchive("rar5_multiple_files.rar"), tmp / "a.rar");
  std::filesystem::copy_file(TestArchive("zip_filename_cp932.zip"), tmp / "jp.zip");
  EXPECT_EQ(Names(FolderAt(tmp / "a.lzh")), (std::set<std::string>{"dir/", "dir2/", "file1", "file2"}));
  EXPECT_EQ(Names(FolderAt(tmp / "a.cab")), (std::set<std::string>{"dir1/", "dir2/", "empty"}));
  EXPECT_EQ(Names(FolderAt(tmp / "a.cab/dir2")), (std::set<std::string>{"file2"}));
  EXPECT_EQ(Names(FolderAt(tmp / "a.rar")),
            (std::set<std::string>{"test1.bin", "test2.bin", "test3.bin", "test4.bin"}));
  // CP932 names without the UTF-8 flag arrive as UTF-8, the folder only as a path.
  EXPECT_EQ(Names(FolderAt(tmp / "jp.zip/表だよ")), (std::set<std::string>{"一覧表.txt", "漢字.txt"}));
}

TEST_F(ArchiveFolderTest, NamesThatLeadOutsideAreNeverListedNorTakenOut) {
  ASSERT_TRUE(Tool(tmp.path(),
                   "python3 -c \"import zipfile; z=zipfile.ZipFile('bad.zip','w'); "
                   "z.writestr('../x','evil'); z.writestr('/abs','evil'); z.writestr('ok.txt','fine'); "
                   "z.writestr('./d/../../y','evil'); z.close()\""));
  std::string error;
  auto listing = ReadArchiveListing(tmp / "bad.zip", error);
  ASSERT_TRUE(listing) << error;
  EXPECT_EQ(listing->Refused(), 3u);
  EXPECT_EQ(Names(FolderAt(tmp / "bad.zip")), (std::set<std::string>{"ok.txt"}));
  EXPECT_FALSE(Parse(tmp / "bad.zip/../x") && IsArchiveIDList(Parse(tmp / "bad.zip/../x").get()));
  EXPECT_EQ(CachedEntryFile(tmp / "bad.zip", "../x", error), "");
  EXPECT_FALSE(std::filesystem::exists(tmp / "x"));

  EXPECT_EQ(CleanEntryName("./a//b/./c/"), "a/b/c");
  EXPECT_EQ(CleanEntryName("a/../b"), "");
  EXPECT_EQ(CleanEntryName("/etc/passwd"), "");
}

TEST_F(ArchiveFolderTest, TheListingIsReadOnceUntilTheArchiveChanges) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qr ../a.zip docs"));
  std::string error;
  auto first = ReadArchiveListing(tmp / "a.zip", error);
  ASSERT_TRUE(first);
  EXPECT_EQ(ReadArchiveListing(tmp / "a.zip", error), first);
  // Rewritten by another program: read again, with what it holds now.
  ASSERT_TRUE(Tool(tmp / "src", "rm ../a.zip && zip -qr ../a.zip top.txt"));
  auto second = ReadArchiveListing(tmp / "a.zip", error);
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_TRUE(second->Find("top.txt"));
  EXPECT_FALSE(second->Find("docs"));
}

TEST_F(ArchiveFolderTest, AZipInsideAZipOpensAsAFolderAndEntriesComeOutIntoThePrivateCache) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qr ../inner.zip docs"));
  ASSERT_TRUE(Tool(tmp.path(), "mkdir o && mv inner.zip o/ && cd o && zip -q ../outer.zip inner.zip"));
  const std::string nested = tmp / "outer.zip/inner.zip";
  EXPECT_TRUE(IsArchiveFolderPath(nested));
  EXPECT_EQ(Names(FolderAt(nested + "/docs")), (std::set<std::string>{"deep/", "readme.txt"}));
  IDListPtr file = Parse(nested + "/docs/readme.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(PathOf(file.get()), nested + "/docs/readme.txt");

  std::string error;
  std::string cached = CachedEntryFile(nested, "docs/readme.txt", error);
  ASSERT_FALSE(cached.empty()) << error;
  EXPECT_EQ(ReadWholeFile(cached), "read me\n");
  const std::string cache = ArchiveCacheFolder();
  EXPECT_EQ(cached.compare(0, cache.size(), cache), 0);
  struct stat st;
  ASSERT_EQ(::stat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  RemoveArchiveCache();
  EXPECT_FALSE(std::filesystem::exists(cache));
}

TEST_F(ArchiveFolderTest, CachedEntriesNeverKeepExecuteBits) {
  tmp.file("src/run.sh", "#!/bin/sh\necho hi\n");
  ASSERT_EQ(::chmod((tmp / "src/run.sh").c_str(), 0755), 0);
  ASSERT_TRUE(Tool(tmp / "src", "zip -q ../a.zip run.sh"));
  std::string error;
  std::string cached = CachedEntryFile(tmp / "a.zip", "run.sh", error);
  ASSERT_FALSE(cached.empty()) << error;
  struct stat st;
  ASSERT_EQ(::stat(cached.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST_F(ArchiveFolderTest, APathThroughAnArchiveThatHasGoneFallsBackToItsFolder) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qr ../a.zip docs"));
  EXPECT_EQ(ArchiveFolderOrFallback(tmp / "a.zip/docs/deep"), tmp / "a.zip/docs/deep");
  EXPECT_EQ(ArchiveFolderOrFallback(tmp / "a.zip/gone"), tmp / "a.zip");
  std::filesystem::remove(tmp / "a.zip");
  EXPECT_EQ(ArchiveFolderOrFallback(tmp / "a.zip/docs/deep"), tmp.path());
  // Ordinary paths stay as they are.
  EXPECT_EQ(ArchiveFolderOrFallback(tmp / "src/gone"), tmp / "src/gone");
}
