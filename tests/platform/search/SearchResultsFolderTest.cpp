// Search results as a folder of the namespace: parsed from its name, listing
// the files found as themselves, dropping those that went, renaming in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "FileChecks.h"
#include "TempDir.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/search/SearchResultsFolder.h"

namespace {

class SearchResultsFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSearchResultsFolders();
    query.folder = dir.path();
    query.masks = "*.txt";
    dir.dir("sub");
    a = dir.file("a.txt", "one");
    b = dir.file("sub/b.txt", "two");
    key = query.Encode();
    SearchResults::Drop(key);
    SearchResults::Of(key)->Add({{a, false}, {b, false}});
  }
  void TearDown() override { SearchResults::Drop(key); }

  ShellFolderPtr Bind(IDListPtr& absolute) {
    PItemIDList list = nullptr;
    EXPECT_TRUE(SHGetDesktopFolder()->ParseDisplayName(SearchParseName(query), list));
    absolute.reset(list);
    return SHGetDesktopFolder()->BindToObject(list);
  }

  std::vector<IDListPtr> Rows(IShellFolder& folder) {
    std::vector<IDListPtr> rows;
    auto list = folder.EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    for (PItemIDList id; list && list->Next(id);) rows.emplace_back(id);
    return rows;
  }

  TempDir dir;
  SearchQuery query;
  std::string key, a, b;
};

TEST_F(SearchResultsFolderTest, RowsAreTheFilesFoundAndNameTheirFolder) {
  IDListPtr absolute;
  ShellFolderPtr folder = Bind(absolute);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(folder->GetPath().empty());
  SearchQuery back;
  ASSERT_TRUE(SearchQueryOf(absolute.get(), back));
  EXPECT_EQ(back, query);
  std::string title;
  ASSERT_TRUE(SHGetDesktopFolder()->GetDisplayNameOf(absolute.get(), SHGDN_NORMAL, title));
  EXPECT_EQ(title, "検索 *.txt");

  std::vector<IDListPtr> rows = Rows(*folder);
  ASSERT_EQ(rows.size(), 2u);
  std::set<std::string> paths, shown, edited;
  for (const IDListPtr& row : rows) {
    IDListPtr full(ConcatIDLists(absolute.get(), row.get()));
    std::string path, name;
    ASSERT_TRUE(SHGetPathFromIDList(full.get(), path));
    paths.insert(path);
    ASSERT_TRUE(folder->GetDisplayNameOf(row.get(), SHGDN_INFOLDER, name));
    shown.insert(name);
    ASSERT_TRUE(folder->GetDisplayNameOf(row.get(), SHGDN_INFOLDER | SHGDN_FOREDITING, name));
    edited.insert(name);
    uint32_t attributes = SFGAO_FILESYSTEM | SFGAO_CANDELETE | SFGAO_CANCOPY;
    const PCItemIDList one = row.get();
    ASSERT_TRUE(folder->GetAttributesOf(1, &one, attributes));
    EXPECT_EQ(attributes, SFGAO_FILESYSTEM | SFGAO_CANDELETE | SFGAO_CANCOPY);
    WIN32_FIND_DATAA data;
    ASSERT_TRUE(folder->GetFindData(row.get(), data));
    EXPECT_EQ(data.nFileSizeLow, 3u);
  }
  EXPECT_EQ(paths, (std::set<std::string>{a, b}));
  EXPECT_EQ(shown, (std::set<std::string>{"a.txt    [./]", "b.txt    [sub/]"}));
  EXPECT_EQ(edited, (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST_F(SearchResultsFolderTest, AFileThatWentIsNoRowUntilItComesBackAndARenameIsKept) {
  IDListPtr absolute;
  ShellFolderPtr folder = Bind(absolute);
  ASSERT_TRUE(folder);
  ASSERT_EQ(unlink(a.c_str()), 0);
  EXPECT_EQ(Rows(*folder).size(), 1u);
  dir.file("a.txt", "back");
  EXPECT_EQ(Rows(*folder).size(), 2u);
  ASSERT_EQ(unlink(a.c_str()), 0);
  std::vector<IDListPtr> rows = Rows(*folder);
  ASSERT_EQ(rows.size(), 1u);

  PItemIDList renamed = nullptr;
  ASSERT_TRUE(folder->SetNameOf(rows[0].get(), "c.txt", SHGDN_INFOLDER, &renamed));
  IDListPtr owned(renamed);
  EXPECT_EQ(IDPayloadText(renamed), dir / "sub/c.txt");
  EXPECT_TRUE(Exists(dir / "sub/c.txt"));
  ASSERT_EQ(SearchResults::Of(key)->Hits().size(), 2u);
  EXPECT_EQ(SearchResults::Of(key)->Hits()[1].path, dir / "sub/c.txt");
  // A rename never replaces a file that is there.
  dir.file("sub/d.txt");
  EXPECT_FALSE(folder->SetNameOf(renamed, "d.txt", SHGDN_INFOLDER, nullptr));
}

}  // namespace
