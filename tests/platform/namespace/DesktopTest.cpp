// The desktop, its special folders and the recycle bin.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "NamespaceTestUtil.h"
#include "TempDir.h"
#include "platform/namespace/TrashFolder.h"

namespace {

IDListPtr Special(int csidl) {
  PItemIDList list = nullptr;
  return SHGetSpecialFolderLocation(csidl, list) ? IDListPtr(list) : nullptr;
}

void WriteTrashEntry(const std::string& trash, const std::string& name, const std::string& originalPath, bool folder,
                     const std::string& content = "") {
  std::filesystem::create_directories(trash + "/files");
  std::filesystem::create_directories(trash + "/info");
  if (folder)
    std::filesystem::create_directories(trash + "/files/" + name);
  else
    std::ofstream(trash + "/files/" + name, std::ios::binary) << content;
  std::ofstream(trash + "/info/" + name + ".trashinfo", std::ios::binary)
      << "[Trash Info]\nPath=" << originalPath << "\nDeletionDate=2024-01-02T03:04:05\n";
}

}  // namespace

TEST(Desktop, SpecialItemsFirstThenTheDesktopFolder) {
  TempDir home;
  home.dir("Desktop/sub");
  home.file("Desktop/note.txt", "n");
  home.file("Desktop/.dot", "");
  EnvGuard homeVar("HOME", home.path());
  EnvGuard config("XDG_CONFIG_HOME", home / ".config");
  ASSERT_EQ(DesktopDirectory(), home / "Desktop");
  ASSERT_EQ(HomeDirectory(), home.path());

  ShellFolderPtr desktop = SHGetDesktopFolder();
  EXPECT_EQ(desktop->GetPath(), home / "Desktop");
  std::vector<IDListPtr> ids = EnumIDs(*desktop, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
  ASSERT_EQ(ids.size(), 6u);
  const ItemKind kinds[] = {ItemKind::Home, ItemKind::Computer, ItemKind::Network, ItemKind::RecycleBin};
  const char* names[] = {"ホーム", "コンピューター", "ネットワーク", "ごみ箱"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(IDKind(ids[i].get()), kinds[i]);
    EXPECT_EQ(NameOf(*desktop, ids[i].get()), names[i]);
  }
  std::set<std::string> own = {NameOf(*desktop, ids[4].get()), NameOf(*desktop, ids[5].get())};
  EXPECT_EQ(own, (std::set<std::string>{"sub", "note.txt"}));
  EXPECT_EQ(EnumIDs(*desktop, SHCONTF_NONFOLDERS).size(), 1u);  // the specials are folders

  PItemIDList empty = AllocIDList(2);
  IDListPtr ownEmpty(empty);
  EXPECT_EQ(NameOf(*desktop, empty), "デスクトップ");
  EXPECT_EQ(NameOf(*desktop, empty, SHGDN_FORPARSING), home / "Desktop");
  EXPECT_EQ(NameOf(*desktop, ids[0].get(), SHGDN_FORPARSING), home.path());
  EXPECT_EQ(PathOf(ids[0].get()), home.path());
  EXPECT_FALSE(AttributesOf(*desktop, empty) & SFGAO_CANDELETE);
  EXPECT_TRUE(AttributesOf(*desktop, empty) & SFGAO_FOLDER);

  // The special items keep their order whatever the column; then folders, then files.
  std::mt19937 rng(3);
  for (int column = 0; column <= 4; ++column) {
    std::shuffle(ids.begin(), ids.end(), rng);
    std::sort(ids.begin(), ids.end(), [&](const IDListPtr& a, const IDListPtr& b) {
      int r = 0;
      EXPECT_TRUE(desktop->CompareIDs(column, a.get(), b.get(), r));
      return r < 0;
    });
    std::vector<std::string> order;
    for (auto& id : ids) order.push_back(NameOf(*desktop, id.get()));
    EXPECT_EQ(order,
              (std::vector<std::string>{"ホーム", "コンピューター", "ネットワーク", "ごみ箱", "sub", "note.txt"}))
        << column;
  }

  uint32_t computer = AttributesOf(*desktop, ids[1].get());
  EXPECT_EQ(computer & (SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_FILESYSTEM), SFGAO_FOLDER | SFGAO_FILESYSANCESTOR);
  uint32_t homeItem = AttributesOf(*desktop, ids[0].get());
  EXPECT_TRUE(homeItem & SFGAO_FILESYSTEM);
  EXPECT_FALSE(homeItem & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE));
  EXPECT_FALSE(AttributesOf(*desktop, ids[3].get()) & SFGAO_FILESYSTEM);

  // The desktop's own entries are files like any other.
  PCItemIDList note = ids[5].get();
  EXPECT_EQ(PathOf(note), home / "Desktop/note.txt");
  EXPECT_TRUE(AttributesOf(*desktop, note) & SFGAO_CANRENAME);
  ShellFolderPtr sub = desktop->BindToObject(ids[4].get());
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->GetPath(), home / "Desktop/sub");
  PItemIDList renamed = nullptr;
  ASSERT_TRUE(desktop->SetNameOf(note, "memo.txt", 0, &renamed));
  IDListPtr ownRenamed(renamed);
  EXPECT_EQ(PathOf(renamed), home / "Desktop/memo.txt");

  // The XDG setting names the desktop folder; the home folder itself means none of its own.
  home.dir("Schreibtisch");
  home.dir(".config");
  home.file(".config/user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(DesktopDirectory(), home / "Schreibtisch");
  home.file(".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/\"\n");
  EXPECT_EQ(DesktopDirectory(), home.path());
  EXPECT_EQ(EnumIDs(*desktop, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS).size(), 4u);
  home.file(".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/missing\"\n");
  EXPECT_EQ(DesktopDirectory(), home / "Desktop");
}

TEST(Desktop, SpecialFolderLocationsAndPaths) {
  TempDir home;
  home.dir("Desktop");
  EnvGuard homeVar("HOME", home.path());
  EnvGuard config("XDG_CONFIG_HOME", home / ".config");
  ShellFolderPtr desktop = SHGetDesktopFolder();

  IDListPtr root = Special(CSIDL_DESKTOP);
  ASSERT_TRUE(root);
  EXPECT_EQ(CountIDs(root.get()), 0);
  EXPECT_TRUE(IDListsEqual(root.get(), desktop->GetIDList()));
  EXPECT_EQ(PathOf(root.get()), home / "Desktop");

  std::vector<IDListPtr> children = EnumIDs(*desktop, SHCONTF_FOLDERS);
  const std::pair<int, ItemKind> specials[] = {
      {CSIDL_DRIVES, ItemKind::Computer}, {CSIDL_NETWORK, ItemKind::Network}, {CSIDL_BITBUCKET, ItemKind::RecycleBin}};
  for (auto [csidl, kind] : specials) {
    IDListPtr list = Special(csidl);
    ASSERT_TRUE(list) << csidl;
    EXPECT_EQ(CountIDs(list.get()), 1);
    EXPECT_EQ(IDKind(list.get()), kind);
    std::string path;
    EXPECT_FALSE(SHGetPathFromIDList(list.get(), path));
    // The enumerated item is the same item.
    auto it = std::find_if(children.begin(), children.end(), [&](auto& c) { return IDKind(c.get()) == kind; });
    ASSERT_NE(it, children.end());
    int r = 1;
    ASSERT_TRUE(desktop->CompareIDs(0, list.get(), it->get(), r));
    EXPECT_EQ(r, 0);
    // Its parsing name leads back to it.
    PItemIDList parsed = nullptr;
    ASSERT_TRUE(desktop->ParseDisplayName(NameOf(*desktop, list.get(), SHGDN_FORPARSING), parsed));
    IDListPtr ownParsed(parsed);
    EXPECT_TRUE(IDListsEqual(parsed, list.get()));
  }

  IDListPtr desktopDir = Special(CSIDL_DESKTOPDIRECTORY);
  ASSERT_TRUE(desktopDir);
  EXPECT_EQ(IDKind(desktopDir.get()), ItemKind::Computer);
  EXPECT_EQ(PathOf(desktopDir.get()), home / "Desktop");
  IDListPtr personal = Special(CSIDL_PERSONAL);
  ASSERT_TRUE(personal);
  EXPECT_EQ(PathOf(personal.get()), home.path());
  EXPECT_FALSE(Special(0x7777));
  std::string path = "unchanged";
  EXPECT_FALSE(SHGetPathFromIDList(nullptr, path));
  EXPECT_TRUE(path.empty());

  // The computer lists the root drive as "label (mount point)"; drives stay put.
  ShellFolderPtr computer = desktop->BindToObject(Special(CSIDL_DRIVES).get());
  ASSERT_TRUE(computer);
  EXPECT_TRUE(computer->GetPath().empty());
  std::vector<IDListPtr> drives = EnumIDs(*computer, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
  auto rootDrive = std::find_if(drives.begin(), drives.end(), [](auto& d) { return IDPayloadText(d.get()) == "/"; });
  ASSERT_NE(rootDrive, drives.end());
  std::string label = NameOf(*computer, rootDrive->get());
  EXPECT_TRUE(label.size() > 4 && label.substr(label.size() - 4) == " (/)") << label;
  EXPECT_EQ(NameOf(*computer, rootDrive->get(), SHGDN_FORPARSING), "/");
  uint32_t drive = AttributesOf(*computer, rootDrive->get());
  EXPECT_EQ(drive & (SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR),
            SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR);
  EXPECT_FALSE(drive & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE));
  EXPECT_FALSE(computer->SetNameOf(rootDrive->get(), "x", 0, nullptr));
  PItemIDList parsedDrive = nullptr;
  ASSERT_TRUE(computer->ParseDisplayName("/", parsedDrive));
  IDListPtr ownDrive(parsedDrive);
  EXPECT_TRUE(IDListsEqual(parsedDrive, rootDrive->get()));
  ShellFolderPtr rootFolder = computer->BindToObject(rootDrive->get());
  ASSERT_TRUE(rootFolder);
  EXPECT_EQ(rootFolder->GetPath(), "/");

  // Lists that name nothing of ours bind to nothing.
  PItemIDList bogus = MakeDriveID("/", false);  // a drive straight on the desktop
  IDListPtr ownBogus(bogus);
  EXPECT_FALSE(desktop->BindToObject(bogus));
  EXPECT_FALSE(SHGetPathFromIDList(bogus, path));
}

TEST(Desktop, RecycleBinListsTheTrashReadOnly) {
  TempDir data;
  EnvGuard dataHome("XDG_DATA_HOME", data.path());
  EXPECT_EQ(HomeTrashDirectory(), data / "Trash/files");
  ShellFolderPtr bin = SHGetDesktopFolder()->BindToObject(Special(CSIDL_BITBUCKET).get());
  ASSERT_TRUE(bin);
  const uint32_t all = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
  // A missing trash is an empty one (as long as no drive has one for us).
  size_t before = EnumIDs(*bin, all).size();

  std::string trash = data / "Trash";
  WriteTrashEntry(trash, "report.txt", "/home/u/%E6%97%A5%E5%A0%B1%20report.txt", false, "12345");
  WriteTrashEntry(trash, "olddir", "/home/u/olddir", true);
  WriteTrashEntry(trash, ".secret", "/home/u/.secret", false);
  data.file("Trash/info/ghost.trashinfo", "[Trash Info]\nPath=/x/ghost\n");  // its file is gone
  data.file("Trash/files/stray", "no record");

  std::vector<IDListPtr> ids = EnumIDs(*bin, all);
  ASSERT_EQ(ids.size(), before + 2);
  EXPECT_EQ(EnumIDs(*bin, all | SHCONTF_INCLUDEHIDDEN).size(), before + 3);
  std::sort(ids.begin(), ids.end(), [&](auto& a, auto& b) {
    int r = 0;
    bin->CompareIDs(0, a.get(), b.get(), r);
    return r < 0;
  });
  auto ours = [&](const IDListPtr& id) { return IDPayloadText(id.get()).substr(0, trash.size()) == trash; };
  std::erase_if(ids, [&](auto& id) { return !ours(id); });
  ASSERT_EQ(ids.size(), 2u);
  PCItemIDList folder = ids[0].get(), report = ids[1].get();
  EXPECT_EQ(NameOf(*bin, folder), "olddir");
  EXPECT_EQ(NameOf(*bin, report), "日報 report.txt");
  EXPECT_EQ(NameOf(*bin, report, SHGDN_FORPARSING), trash + "/files/report.txt");
  EXPECT_EQ(NameOf(*bin, report, SHGDN_FORPARSING | SHGDN_INFOLDER), "report.txt");

  // Read-only: it can be copied out, nothing else.
  uint32_t attributes = AttributesOf(*bin, report);
  EXPECT_TRUE(attributes & SFGAO_CANCOPY);
  EXPECT_FALSE(attributes & (SFGAO_FILESYSTEM | SFGAO_CANDELETE | SFGAO_CANRENAME | SFGAO_CANMOVE | SFGAO_FOLDER));
  EXPECT_FALSE(bin->SetNameOf(report, "x", 0, nullptr));
  EXPECT_FALSE(bin->BindToObject(folder));

  WIN32_FIND_DATAA find;
  ASSERT_TRUE(bin->GetFindData(report, find));
  EXPECT_EQ(find.nFileSizeLow, 5u);
  EXPECT_STREQ(find.cFileName, "日報 report.txt");

  PItemIDList binList = nullptr;
  SHGetSpecialFolderLocation(CSIDL_BITBUCKET, binList);
  IDListPtr full(ConcatIDLists(binList, report));
  FreeIDList(binList);
  EXPECT_EQ(PathOf(full.get()), trash + "/files/report.txt");

  std::string original, date;
  ASSERT_TRUE(ReadTrashInfo(trash + "/files/report.txt", original, date));
  EXPECT_EQ(original, "/home/u/日報 report.txt");
  EXPECT_EQ(date, "2024-01-02T03:04:05");
  EXPECT_FALSE(ReadTrashInfo(trash + "/files/stray", original, date));
}
