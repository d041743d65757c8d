#include <gtest/gtest.h>

#include <QIcon>
#include <initializer_list>

#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"
#include "platform/namespace/SystemImageList.h"

namespace {

// An absolute list from one-ID lists (each freed here).
IDListPtr Chain(std::initializer_list<PItemIDList> ids) {
  PItemIDList list = AllocIDList(2);  // the empty list: just the terminator
  for (PItemIDList id : ids) {
    PItemIDList next = ConcatIDLists(list, id);
    FreeIDList(list);
    FreeIDList(id);
    list = next;
  }
  return IDListPtr(list);
}

IDListPtr FileItem(const std::string& name, uint8_t flags = 0) {
  return Chain({MakeSimpleID(ItemKind::Computer), MakeDriveID("/", false),
                MakeFileEntryID("tmp", itemflag::kFolder, nullptr), MakeFileEntryID(name, flags, nullptr)});
}

SHFILEINFO Info(const IDListPtr& list, uint32_t flags = SHGFI_SYSICONINDEX | SHGFI_TYPENAME) {
  SHFILEINFO info;
  EXPECT_TRUE(SHGetFileInfo(list.get(), flags, info));
  return info;
}

}  // namespace

TEST(FileInfo, TypeNamesAreJapanese) {
  EXPECT_EQ(Info(FileItem("memo.txt")).szTypeName, "平文テキストドキュメント");
  EXPECT_EQ(Info(FileItem("photo.PNG")).szTypeName, "PNG 画像");
  EXPECT_EQ(Info(FileItem("photo.jpg")).szTypeName, "JPEG 画像");  // the database's trailing blank is gone
  EXPECT_EQ(Info(FileItem("data.xyzq")).szTypeName, "XYZQ ファイル");
  EXPECT_EQ(Info(FileItem("Makefile")).szTypeName, "ファイル");
  EXPECT_EQ(Info(FileItem("sub", itemflag::kFolder)).szTypeName, "ファイル フォルダー");
  EXPECT_EQ(Info(Chain({MakeSimpleID(ItemKind::Computer), MakeDriveID("/", false)})).szTypeName, "ローカル ディスク");
  EXPECT_EQ(Info(Chain({MakeSimpleID(ItemKind::Computer)})).szTypeName, "システム フォルダー");

  // The type name asks no icon, and the icon no type name.
  SHFILEINFO only;
  ASSERT_TRUE(SHGetFileInfo(FileItem("a.txt").get(), SHGFI_TYPENAME, only));
  EXPECT_EQ(only.iIcon, -1);
  SHFILEINFO none;
  EXPECT_FALSE(SHGetFileInfo(nullptr, SHGFI_TYPENAME, none));
}

TEST(FileInfo, OneIconIndexPerIconNameNotPerFile) {
  SystemImageList& images = SystemImageList::Instance();
  int txt = Info(FileItem("a.txt")).iIcon;
  int count = images.Count();
  EXPECT_EQ(Info(FileItem("b.txt")).iIcon, txt);
  EXPECT_EQ(Info(FileItem("C.TXT")).iIcon, txt);  // another spelling of the extension, same icon name
  EXPECT_EQ(images.Count(), count);

  // Pictures and texts look different, where the theme has icons for them at all.
  if (QIcon::hasThemeIcon("image-x-generic") && QIcon::hasThemeIcon("text-x-generic")) {
    EXPECT_NE(Info(FileItem("a.png")).iIcon, txt);
  }

  int cpp = Info(FileItem("main.cpp")).iIcon;
  count = images.Count();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(Info(FileItem("f" + std::to_string(i) + ".cpp")).iIcon, cpp);
    EXPECT_EQ(Info(FileItem("g" + std::to_string(i) + ".cxx")).iIcon, cpp);  // same MIME type, same icon
  }
  EXPECT_EQ(images.Count(), count);

  // Unknown extensions share one icon between them.
  int unknown = Info(FileItem("x.qqq1")).iIcon;
  count = images.Count();
  EXPECT_EQ(Info(FileItem("x.qqq2")).iIcon, unknown);
  EXPECT_EQ(images.Count(), count);
}

TEST(FileInfo, EveryItemKindHasADrawableIcon) {
  SystemImageList& images = SystemImageList::Instance();
  IDListPtr items[] = {
      Chain({}),
      Chain({MakeSimpleID(ItemKind::Home)}),
      Chain({MakeSimpleID(ItemKind::Computer)}),
      Chain({MakeSimpleID(ItemKind::Network)}),
      Chain({MakeSimpleID(ItemKind::RecycleBin)}),
      Chain({MakeSimpleID(ItemKind::Computer), MakeDriveID("/", false)}),
      Chain({MakeSimpleID(ItemKind::Network), MakeDriveID("/mnt/share", true)}),
      FileItem("folder", itemflag::kFolder),
      FileItem("a.txt"),
      FileItem("noextension"),
      FileItem("a.\xff\xfe"),
  };
  for (const IDListPtr& item : items) {
    int index = Info(item).iIcon;
    ASSERT_GE(index, 0);
    ASSERT_LT(index, images.Count());
    EXPECT_FALSE(images.Pixmap(index, 16).isNull()) << index;
    EXPECT_FALSE(images.Icon(index).isNull());
  }
  int folder = Info(FileItem("folder", itemflag::kFolder)).iIcon;
  int home = Info(Chain({MakeSimpleID(ItemKind::Home)})).iIcon;
  int drive = Info(Chain({MakeSimpleID(ItemKind::Computer), MakeDriveID("/", false)})).iIcon;
  int file = Info(FileItem("a.txt")).iIcon;
  EXPECT_NE(folder, file);
  EXPECT_NE(drive, file);
  EXPECT_NE(home, file);
  int open = Info(FileItem("folder", itemflag::kFolder), SHGFI_SYSICONINDEX | SHGFI_OPENICON).iIcon;
  EXPECT_GE(open, 0);
  EXPECT_NE(open, file);

  EXPECT_TRUE(images.Pixmap(-1, 16).isNull());
  EXPECT_TRUE(images.Pixmap(images.Count(), 16).isNull());
  EXPECT_EQ(SHGetSysImageList(true).list, &images);
  EXPECT_EQ(SHGetSysImageList(true).iconSize, 32);
  EXPECT_EQ(SHGetSysImageList(false).iconSize, 16);
}

TEST(FileInfo, MissingIconNamesFallBack) {
  SystemImageList& images = SystemImageList::Instance();
  int folder = images.IndexOf("folder");
  int before = images.Count();
  // A name no theme has takes its fallback's index and adds nothing.
  EXPECT_EQ(images.IndexOf("tolvane-no-such-icon", {"tolvane-neither", "folder"}), folder);
  EXPECT_EQ(images.Count(), before);
  // With no usable fallback the placeholder stands in, drawn and valid.
  int placeholder = images.IndexOf("tolvane-no-such-icon-2");
  EXPECT_EQ(placeholder, images.PlaceholderIndex());
  EXPECT_EQ(images.IndexOf("tolvane-no-such-icon-3"), placeholder);
  EXPECT_FALSE(images.Pixmap(placeholder, 32).isNull());
}
