// File-system folders of the namespace: parsing, enumeration, order,
// attributes, renaming and find data, on a real temporary tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>

#include "FileChecks.h"
#include "NamespaceTestUtil.h"
#include "TempDir.h"
#include "platform/namespace/Drives.h"
#include "platform/namespace/NameCompare.h"

namespace {

std::string LastName(PCItemIDList list) { return std::string(IDPayloadText(LastID(list))); }

std::string ReadFile(const std::string& path) {
  std::string text;
  int fd = open(path.c_str(), O_RDONLY);
  char buffer[256];
  for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  if (fd >= 0) close(fd);
  return text;
}

void SetMTime(const std::string& path, time_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Sorts children with the folder's CompareIDs, as a list view does.
std::vector<std::string> SortedNames(IShellFolder& folder, std::vector<IDListPtr>& ids, int column) {
  std::sort(ids.begin(), ids.end(), [&](const IDListPtr& a, const IDListPtr& b) {
    int r = 0;
    EXPECT_TRUE(folder.CompareIDs(column, a.get(), b.get(), r));
    return r < 0;
  });
  std::vector<std::string> names;
  for (auto& id : ids) names.push_back(NameOf(folder, id.get()));
  return names;
}

}  // namespace

TEST(Namespace, ParseResolvesByNameAndNeedsTheItem) {
  TempDir tmp;
  tmp.dir("a/b");
  tmp.file("a/f.txt", "x");
  std::string drive = MountPointOf(tmp.path());

  IDListPtr file = ParsePath(tmp.path() + "/a/./b/..//f.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(IDKind(file.get()), ItemKind::Computer);
  PCItemIDList second = NextID(file.get());
  EXPECT_EQ(IDKind(second), ItemKind::Drive);
  EXPECT_EQ(IDPayloadText(second), drive);
  EXPECT_EQ(PathOf(file.get()), tmp.path() + "/a/f.txt");
  EXPECT_EQ(LastName(file.get()), "f.txt");
  EXPECT_FALSE(IDFlags(LastID(file.get())) & itemflag::kFolder);

  IDListPtr folder = ParsePath(tmp.path() + "/a/b/");
  ASSERT_TRUE(folder);
  EXPECT_EQ(PathOf(folder.get()), tmp.path() + "/a/b");
  EXPECT_TRUE(IDFlags(LastID(folder.get())) & itemflag::kFolder);

  // The root is computer + the root drive; ".." above it stays there.
  for (const char* root : {"/", "/..", "//", "/../."}) {
    IDListPtr list = ParsePath(root);
    ASSERT_TRUE(list) << root;
    EXPECT_EQ(CountIDs(list.get()), 2) << root;
    EXPECT_EQ(IDPayloadText(LastID(list.get())), "/") << root;
    EXPECT_EQ(PathOf(list.get()), "/");
  }

  EXPECT_FALSE(ParsePath(tmp.path() + "/a/missing"));
  EXPECT_FALSE(ParsePath(tmp.path() + "/a/f.txt/below"));  // a file holds nothing
  EXPECT_FALSE(ParsePath(""));

  // Relative names parse below a file-system folder and may not climb out of it.
  ShellFolderPtr a = BindPath(tmp.path() + "/a");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->GetPath(), tmp.path() + "/a");
  PItemIDList rel = nullptr;
  ASSERT_TRUE(a->ParseDisplayName("b/../f.txt", rel));
  IDListPtr owned(rel);
  EXPECT_EQ(CountIDs(rel), 1);
  EXPECT_EQ(LastName(rel), "f.txt");
  ASSERT_TRUE(a->ParseDisplayName("b/.", rel));
  owned.reset(rel);
  EXPECT_EQ(LastName(rel), "b");
  EXPECT_FALSE(a->ParseDisplayName("../a/f.txt", rel));
  EXPECT_FALSE(a->ParseDisplayName("/etc", rel));
}

TEST(Namespace, LinksLoopsLongAndRawNames) {
  TempDir tmp;
  tmp.dir("target/inner");
  ASSERT_EQ(symlink("target", (tmp / "dirlink").c_str()), 0);
  ASSERT_EQ(symlink("loop2", (tmp / "loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", (tmp / "loop2").c_str()), 0);

  // A link to a folder is a folder that is also a link, and it can be opened.
  IDListPtr link = ParsePath(tmp / "dirlink");
  ASSERT_TRUE(link);
  uint8_t flags = IDFlags(LastID(link.get()));
  EXPECT_TRUE(flags & itemflag::kFolder);
  EXPECT_TRUE(flags & itemflag::kLink);
  ShellFolderPtr linked = SHGetDesktopFolder()->BindToObject(link.get());
  ASSERT_TRUE(linked);
  EXPECT_EQ(EnumNames(*linked, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS), std::vector<std::string>{"inner"});

  // A loop is an item of its own but leads nowhere.
  IDListPtr loop = ParsePath(tmp / "loop1");
  ASSERT_TRUE(loop);
  EXPECT_EQ(IDFlags(LastID(loop.get())) & (itemflag::kFolder | itemflag::kLink), itemflag::kLink);
  EXPECT_FALSE(ParsePath(tmp / "loop1/x"));
  EXPECT_FALSE(SHGetDesktopFolder()->BindToObject(loop.get()));
  WIN32_FIND_DATAA data;
  ASSERT_TRUE(FindFirstFile(tmp / "loop1", data));
  EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
            FILE_ATTRIBUTE_REPARSE_POINT);

  // The longest name a file system takes.
  std::string longName(255, 'n');
  tmp.file(longName, "long");
  IDListPtr longList = ParsePath(tmp / longName);
  ASSERT_TRUE(longList);
  ShellFolderPtr top = BindPath(tmp.path());
  ASSERT_TRUE(top);
  EXPECT_EQ(NameOf(*top, LastID(longList.get())), longName);
  EXPECT_EQ(PathOf(longList.get()), tmp / longName);

  // Bytes that are not UTF-8 survive every step unchanged.
  std::string raw = "caf\xE9\xFF.txt";
  tmp.file(raw, "raw");
  IDListPtr rawList = ParsePath(tmp / raw);
  ASSERT_TRUE(rawList);
  PCItemIDList rawID = LastID(rawList.get());
  EXPECT_EQ(NameOf(*top, rawID), raw);
  EXPECT_EQ(NameOf(*top, rawID, SHGDN_FORPARSING), tmp / raw);
  EXPECT_EQ(PathOf(rawList.get()), tmp / raw);
  std::vector<std::string> listed = EnumNames(*top, SHCONTF_NONFOLDERS);
  EXPECT_NE(std::find(listed.begin(), listed.end(), raw), listed.end());

  std::string renamed = "\xFE\xFD-\x81";
  PItemIDList newID = nullptr;
  ASSERT_TRUE(top->SetNameOf(rawID, renamed, SHGDN_INFOLDER, &newID));
  IDListPtr ownedNew(newID);
  EXPECT_EQ(NameOf(*top, newID), renamed);
  EXPECT_EQ(ReadFile(tmp / renamed), "raw");
  EXPECT_FALSE(Exists(tmp / raw));
}

TEST(Namespace, EnumerationHonoursFlags) {
  TempDir tmp;
  tmp.dir("dir");
  tmp.dir(".hiddendir");
  tmp.file("file", "1");
  tmp.file(".hidden", "2");
  ASSERT_EQ(symlink("dir", (tmp / "dirlink").c_str()), 0);
  ASSERT_EQ(symlink("file", (tmp / "filelink").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "broken").c_str()), 0);
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);

  auto names = [&](uint32_t flags) {
    std::vector<std::string> v = EnumNames(*folder, flags);
    return std::set<std::string>(v.begin(), v.end());
  };
  using Set = std::set<std::string>;
  EXPECT_EQ(names(SHCONTF_FOLDERS), (Set{"dir", "dirlink"}));
  EXPECT_EQ(names(SHCONTF_NONFOLDERS), (Set{"file", "filelink", "broken", "fifo"}));
  EXPECT_EQ(names(SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN), (Set{"dir", "dirlink", ".hiddendir"}));
  EXPECT_EQ(names(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN).size(), 8u);

  // Enumerated IDs carry their kind but no stat data, and match parsed ones.
  for (const IDListPtr& id : EnumIDs(*folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN)) {
    std::string name = NameOf(*folder, id.get());
    EXPECT_FALSE(IDFlags(id.get()) & itemflag::kStatValid) << name;
    EXPECT_EQ((IDFlags(id.get()) & itemflag::kHidden) != 0, name[0] == '.') << name;
    IDListPtr parsed = ParsePath(tmp / name);
    ASSERT_TRUE(parsed) << name;
    EXPECT_TRUE(IDListsEqual(LastID(parsed.get()), id.get())) << name;
  }

  // A folder that went away lists nothing and does not crash.
  std::string gone = tmp.dir("gone");
  ShellFolderPtr goneFolder = BindPath(gone);
  ASSERT_TRUE(goneFolder);
  rmdir(gone.c_str());
  EXPECT_TRUE(EnumIDs(*goneFolder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS).empty());
  // A file cannot be bound as a folder.
  EXPECT_FALSE(BindPath(tmp / "file"));
}

TEST(Namespace, NameOrderIsNaturalCaseBlindAndTotal) {
  EXPECT_LT(CompareNames("file2", "file10"), 0);
  EXPECT_GT(CompareNames("file10", "File2"), 0);
  EXPECT_LT(CompareNames("apple", "Banana"), 0);
  EXPECT_LT(CompareNames("x9", "x10y"), 0);
  EXPECT_LT(CompareNames("a", "a0"), 0);
  EXPECT_EQ(CompareNames("same", "same"), 0);
  // Names equal but for case or leading zeros still differ, in a fixed way.
  EXPECT_NE(CompareNames("Readme", "README"), 0);
  EXPECT_EQ(CompareNames("Readme", "README"), -CompareNames("README", "Readme"));
  EXPECT_EQ(CompareNamesFolded("a01", "a1"), 0);
  EXPECT_NE(CompareNames("a01", "a1"), 0);
  EXPECT_EQ(CompareNamesFolded("\xC3\x84rger", "\xC3\xA4rger"), 0);  // Ä and ä
  EXPECT_EQ(CompareNamesFolded("\xD0\x96", "\xD0\xB6"), 0);          // Ж and ж
  EXPECT_LT(CompareNames("zeta", "\xC3\xA4"), 0);                    // ASCII before Latin-1
  EXPECT_LT(CompareNames("\xE6\x97\xA5", "\xFF"), 0);                // a character before an invalid byte

  // A consistent total order over awkward names: sorting agrees with every pair.
  std::vector<std::string> names = {"a",  "A",     "a0", "a00",   "a1",        "a01",      "a10",  "a9b",          "a-",
                                    "a_", "a.txt", "B",  "b2",    "\xC3\xA4",  "\xC3\x84", "\xFF", "\xE6\x97\xA5", "10",
                                    "9",  "010",   "",   "z\xC3", "z\xC3\xA4", "Z"};
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(names.begin(), names.end(), rng);
    std::sort(names.begin(), names.end(), [](auto& x, auto& y) { return CompareNames(x, y) < 0; });
    for (size_t i = 0; i < names.size(); ++i)
      for (size_t j = 0; j < names.size(); ++j) {
        int r = CompareNames(names[i], names[j]);
        EXPECT_EQ(r, i < j ? -1 : i > j ? 1 : 0) << i << " " << j;
      }
  }
}

TEST(Namespace, CompareSortsFoldersFirstByEachColumn) {
  TempDir tmp;
  tmp.dir("zdir");
  tmp.dir("Adir");
  tmp.file("file10.txt", "1234567890");
  tmp.file("file2.zip", "12");
  tmp.file("File3.doc", "12345");
  tmp.file("big.txt", std::string(100, 'x'));
  SetMTime(tmp / "file10.txt", 1000);
  SetMTime(tmp / "file2.zip", 3000);
  SetMTime(tmp / "File3.doc", 2000);
  SetMTime(tmp / "big.txt", 500);
  chmod((tmp / "file2.zip").c_str(), 0444);
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);

  using V = std::vector<std::string>;
  auto sorted = [&](int column, bool prepared) {
    std::vector<IDListPtr> ids = EnumIDs(*folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    if (prepared) {
      std::vector<PItemIDList> raw;
      for (auto& id : ids) raw.push_back(id.get());
      folder->PrepareCompare(column, raw.data(), raw.size());
    }
    return SortedNames(*folder, ids, column);
  };
  for (bool prepared : {false, true}) {
    EXPECT_EQ(sorted(0, prepared), (V{"Adir", "zdir", "big.txt", "file2.zip", "File3.doc", "file10.txt"}));
    EXPECT_EQ(sorted(1, prepared), (V{"Adir", "zdir", "file2.zip", "File3.doc", "file10.txt", "big.txt"}));
    EXPECT_EQ(sorted(2, prepared), (V{"Adir", "zdir", "File3.doc", "big.txt", "file10.txt", "file2.zip"}));
    // Folders keep their place; files go oldest first.
    V byTime = sorted(3, prepared);
    EXPECT_EQ(V(byTime.begin() + 2, byTime.end()), (V{"big.txt", "file10.txt", "File3.doc", "file2.zip"}));
    // The read-only bit puts that file after the other files.
    V byAttributes = sorted(4, prepared);
    EXPECT_EQ(byAttributes.back(), "file2.zip");
    EXPECT_EQ(byAttributes[2], "big.txt");
  }

  // Deeper lists compare level by level; a parent comes before its children.
  tmp.file("zdir/inner", "");
  IDListPtr inner = ParsePath(tmp / "zdir/inner"), zdir = ParsePath(tmp / "zdir"), adir = ParsePath(tmp / "Adir");
  int r = 0;
  ShellFolderPtr desktop = SHGetDesktopFolder();
  ASSERT_TRUE(desktop->CompareIDs(0, zdir.get(), inner.get(), r));
  EXPECT_LT(r, 0);
  ASSERT_TRUE(desktop->CompareIDs(0, inner.get(), adir.get(), r));
  EXPECT_GT(r, 0);
  ASSERT_TRUE(desktop->CompareIDs(0, inner.get(), ParsePath(tmp / "zdir/inner").get(), r));
  EXPECT_EQ(r, 0);
}

TEST(Namespace, LargeFolderSortsByPreparedStatData) {
  TempDir tmp;
  const int count = 3000;  // above the size where the stats are split over two threads
  for (int i = 0; i < count; ++i) tmp.file("f" + std::to_string(i), std::string(static_cast<size_t>(i % 50), 'x'));
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);
  std::vector<IDListPtr> ids = EnumIDs(*folder, SHCONTF_NONFOLDERS);
  ASSERT_EQ(ids.size(), static_cast<size_t>(count));
  std::vector<PItemIDList> raw;
  for (auto& id : ids) raw.push_back(id.get());
  folder->PrepareCompare(1, raw.data(), raw.size());
  for (auto& id : ids) {
    FileStat fs;
    ASSERT_TRUE(IDFileStat(id.get(), fs));
    std::string name = NameOf(*folder, id.get());
    ASSERT_EQ(fs.size, static_cast<uint64_t>(std::stoi(name.substr(1)) % 50)) << name;
  }
  std::vector<std::string> names = SortedNames(*folder, ids, 1);
  // Size first, then natural name order within a size.
  EXPECT_EQ(names[0], "f0");
  EXPECT_EQ(names[1], "f50");
  EXPECT_EQ(names[2], "f100");
  EXPECT_EQ(names.back(), "f2999");
}

TEST(Namespace, AttributesFollowKindAndRights) {
  TempDir tmp;
  tmp.dir("dir");
  tmp.file("file", "x");
  tmp.file(".hidden", "x");
  tmp.file("readonly", "x");
  chmod((tmp / "readonly").c_str(), 0444);
  ASSERT_EQ(symlink("dir", (tmp / "link").c_str()), 0);
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);
  auto attributes = [&](const std::string& name) {
    PItemIDList id = nullptr;
    EXPECT_TRUE(folder->ParseDisplayName(name, id));
    IDListPtr owned(id);
    return AttributesOf(*folder, id);
  };
  const uint32_t changeable = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK | SFGAO_CANRENAME | SFGAO_CANDELETE;

  uint32_t file = attributes("file");
  EXPECT_EQ(file & changeable, changeable);
  EXPECT_TRUE(file & SFGAO_FILESYSTEM);
  EXPECT_TRUE(file & SFGAO_HASPROPSHEET);
  EXPECT_FALSE(file & (SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_DROPTARGET | SFGAO_SHARE | SFGAO_LINK |
                       SFGAO_HIDDEN | SFGAO_READONLY));

  uint32_t dir = attributes("dir");
  EXPECT_EQ(dir & (SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER | SFGAO_DROPTARGET),
            SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER | SFGAO_DROPTARGET);
  EXPECT_TRUE(attributes(".hidden") & SFGAO_HIDDEN);
  EXPECT_TRUE(attributes("readonly") & SFGAO_READONLY);
  uint32_t link = attributes("link");
  EXPECT_EQ(link & (SFGAO_LINK | SFGAO_FOLDER), SFGAO_LINK | SFGAO_FOLDER);

  // Several items give what they all have; only the bits asked for come back.
  PItemIDList a = nullptr, b = nullptr;
  ASSERT_TRUE(folder->ParseDisplayName("file", a));
  ASSERT_TRUE(folder->ParseDisplayName("dir", b));
  IDListPtr ownA(a), ownB(b);
  PCItemIDList both[] = {a, b};
  uint32_t asked = SFGAO_FOLDER | SFGAO_CANDELETE;
  ASSERT_TRUE(folder->GetAttributesOf(2, both, asked));
  EXPECT_EQ(asked, SFGAO_CANDELETE);

  // Relative lists of several IDs are answered by the folder that holds the last one.
  tmp.file("dir/deep", "x");
  PItemIDList deep = nullptr;
  ASSERT_TRUE(folder->ParseDisplayName("dir/deep", deep));
  IDListPtr ownDeep(deep);
  EXPECT_EQ(CountIDs(deep), 2);
  EXPECT_TRUE(AttributesOf(*folder, deep) & SFGAO_CANRENAME);
  EXPECT_EQ(NameOf(*folder, deep, SHGDN_FORPARSING), tmp / "dir/deep");
}

TEST(Namespace, RenameNeverReplaces) {
  TempDir tmp;
  tmp.file("a", "first");
  tmp.file("b", "second");
  tmp.dir("folder");
  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);
  PItemIDList a = nullptr, dir = nullptr;
  ASSERT_TRUE(folder->ParseDisplayName("a", a));
  ASSERT_TRUE(folder->ParseDisplayName("folder", dir));
  IDListPtr ownA(a), ownDir(dir);

  PItemIDList out = reinterpret_cast<PItemIDList>(1);
  EXPECT_FALSE(folder->SetNameOf(a, "b", 0, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ReadFile(tmp / "a"), "first");
  EXPECT_EQ(ReadFile(tmp / "b"), "second");
  EXPECT_FALSE(folder->SetNameOf(a, "folder", 0, nullptr));
  EXPECT_FALSE(folder->SetNameOf(dir, "b", 0, nullptr));
  for (std::string bad :
       {std::string(), std::string("."), std::string(".."), std::string("x/y"), std::string("n\0ul", 4)})
    EXPECT_FALSE(folder->SetNameOf(a, bad, 0, nullptr)) << bad;
  EXPECT_EQ(ReadFile(tmp / "a"), "first");

  ASSERT_TRUE(folder->SetNameOf(a, "A", 0, &out));
  IDListPtr ownOut(out);
  EXPECT_EQ(NameOf(*folder, out), "A");
  EXPECT_EQ(ReadFile(tmp / "A"), "first");
  EXPECT_FALSE(Exists(tmp / "a"));

  PItemIDList newDir = nullptr;
  ASSERT_TRUE(folder->SetNameOf(dir, "renamed", 0, &newDir));
  IDListPtr ownNewDir(newDir);
  EXPECT_TRUE(IDFlags(newDir) & itemflag::kFolder);
  EXPECT_TRUE(Exists(tmp / "renamed"));
  // The new name starts a hidden one: the ID says so.
  PItemIDList hidden = nullptr;
  ASSERT_TRUE(folder->SetNameOf(newDir, ".renamed", 0, &hidden));
  IDListPtr ownHidden(hidden);
  EXPECT_TRUE(IDFlags(hidden) & itemflag::kHidden);
}

TEST(Namespace, FindDataCarriesAttributesSizesAndTimes) {
  TempDir tmp;
  std::string sparse = tmp.file("sparse.bin");
  const uint64_t fiveGB = 5ull << 30;
  ASSERT_EQ(truncate(sparse.c_str(), static_cast<off_t>(fiveGB)), 0);
  SetMTime(sparse, 1700000000);
  tmp.dir("dir");
  tmp.file(".hidden", "abc");
  tmp.file("readonly", "");
  chmod((tmp / "readonly").c_str(), 0444);
  ASSERT_EQ(symlink("dir", (tmp / "link").c_str()), 0);
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);

  ShellFolderPtr folder = BindPath(tmp.path());
  ASSERT_TRUE(folder);
  auto find = [&](const std::string& name) {
    WIN32_FIND_DATAA data;
    PItemIDList id = nullptr;
    EXPECT_TRUE(folder->ParseDisplayName(name, id));
    IDListPtr owned(id);
    EXPECT_TRUE(folder->GetFindData(id, data)) << name;
    EXPECT_STREQ(data.cFileName, name.c_str());
    return data;
  };

  WIN32_FIND_DATAA big = find("sparse.bin");
  EXPECT_EQ((static_cast<uint64_t>(big.nFileSizeHigh) << 32) | big.nFileSizeLow, fiveGB);
  EXPECT_EQ(big.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(FromFileTime(big.ftLastWriteTime), FileTimeFromUnix(1700000000, 0));
  EXPECT_DOUBLE_EQ(FileTimeToUnix(big.ftLastWriteTime), 1700000000.0);
  struct stat st;
  ASSERT_EQ(lstat(sparse.c_str(), &st), 0);
  EXPECT_EQ(big.dwReserved0, st.st_mode);

  EXPECT_EQ(find("dir").dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(find(".hidden").dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(find("readonly").dwFileAttributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(find("link").dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(find("fifo").dwFileAttributes, FILE_ATTRIBUTE_SYSTEM);

  WIN32_FIND_DATAA byPath;
  ASSERT_TRUE(FindFirstFile(sparse, byPath));
  EXPECT_STREQ(byPath.cFileName, "sparse.bin");
  EXPECT_EQ(byPath.nFileSizeHigh, big.nFileSizeHigh);
  ASSERT_TRUE(FindFirstFile(tmp.path() + "/dir/", byPath));
  EXPECT_STREQ(byPath.cFileName, "dir");
  EXPECT_FALSE(FindFirstFile(tmp / "missing", byPath));

  // File times: the Unix epoch and the zero time.
  EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ull);
  EXPECT_EQ(FromFileTime(ToFileTime(0x0123456789ABCDEFull)), 0x0123456789ABCDEFull);
  EXPECT_EQ(FileTimeToUnix(ToFileTime(0)), 0.0);
}
