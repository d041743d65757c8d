// Writing archives through the real archiver libraries: adding into ZIP and 7z
// archives made by the real tools, deleting, a stop that leaves the archive as
// it was, a file changed by another program, formats no library writes, and
// packing into each format, read back with bsdtar.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "TempDir.h"
#include "TestData.h"
#include "archive/ArchiveListing.h"
#include "archive/ArchiveUpdate.h"

namespace {

bool Tool(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1").c_str()) == 0;
}

std::set<std::string> FolderNames(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// The children of a folder inside the archive, folders marked with '/'.
std::set<std::string> Children(const std::string& archive, const std::string& inner) {
  std::string error;
  auto listing = ReadArchiveListing(archive, error);
  std::set<std::string> names;
  if (!listing) {
    ADD_FAILURE() << error;
    return names;
  }
  if (const auto* children = listing->Children(inner))
    for (const auto& e : *children) names.insert(e.name + (e.folder ? "/" : ""));
  return names;
}

FileIdentity Listed(const std::string& archive) {
  std::string error;
  auto listing = ReadArchiveListing(archive, error);
  EXPECT_TRUE(listing) << error;
  return listing ? listing->Identity : FileIdentity{};
}

class ArchiveUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp.dir("src/docs/deep");
    tmp.file("src/docs/readme.txt", "read me\n");
    tmp.file("src/docs/deep/x.bin", std::string(5000, 'x'));
    tmp.file("src/top.txt", "top");
    tmp.dir("add/newdir/inner");
    tmp.file("add/newdir/inner/n.txt", "inner new");
    tmp.file("add/new.txt", "brand new");
    tmp.file("add/a[1]*.txt", "odd name");
    tmp.file("add/a1x.txt", "must not come along");
    tmp.dir("out");
  }
  TempDir tmp;
};

}  // namespace

TEST_F(ArchiveUpdateTest, AddingToZipAndSevenZipPutsTheFilesInAFolderInsideAndTheyExtractEqual) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qrD ../a.zip docs top.txt"));
  ASSERT_TRUE(Tool(tmp / "src", "bsdtar --format 7zip -cf ../a.7z docs top.txt"));
  for (const char* name : {"a.zip", "a.7z"}) {
    SCOPED_TRACE(name);
    const std::string archive = tmp / name;
    ASSERT_EQ(::chmod(archive.c_str(), 0640), 0);
    const FileIdentity before = Listed(archive);
    ArchiveWriteResult r = AddToArchive(archive, before, tmp / "add", {"new.txt", "newdir", "a[1]*.txt"}, "docs");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(Children(archive, "docs"),
              (std::set<std::string>{"deep/", "readme.txt", "new.txt", "newdir/", "a[1]*.txt"}));
    EXPECT_EQ(Children(archive, "docs/newdir/inner"), (std::set<std::string>{"n.txt"}));
    EXPECT_EQ(Children(archive, ""), (std::set<std::string>{"docs/", "top.txt"}));
    // The archive kept its mode, and nothing was left beside it.
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(FolderNames(tmp.path()), (std::set<std::string>{"src", "add", "out", "a.zip", "a.7z"}));

    const std::string out = tmp.dir(std::string("out/") + name);
    ASSERT_TRUE(Tool(out, "bsdtar -xf '" + archive + "'"));
    EXPECT_EQ(ReadWholeFile(out + "/docs/new.txt"), "brand new");
    EXPECT_EQ(ReadWholeFile(out + "/docs/newdir/inner/n.txt"), "inner new");
    EXPECT_EQ(ReadWholeFile(out + "/docs/a[1]*.txt"), "odd name");
    EXPECT_EQ(ReadWholeFile(out + "/docs/deep/x.bin"), std::string(5000, 'x'));
    EXPECT_EQ(ReadWholeFile(out + "/top.txt"), "top");

    // The same name again replaces the entry, whatever its time.
    tmp.file("add/new.txt", "second");
    r = AddToArchive(archive, Listed(archive), tmp / "add", {"new.txt"}, "docs");
    ASSERT_TRUE(r.ok) << r.message;
    const std::string again = tmp.dir(std::string("out/again-") + name);
    ASSERT_TRUE(Tool(again, "bsdtar -xf '" + archive + "' docs/new.txt"));
    EXPECT_EQ(ReadWholeFile(again + "/docs/new.txt"), "second");
    tmp.file("add/new.txt", "brand new");
  }
}

TEST_F(ArchiveUpdateTest, DeletingFromAZipAndATarGzTakesExactlyTheNamedEntries) {
  tmp.dir("src/sub");
  tmp.file("src/sub/top.txt", "same base name, another folder");
  ASSERT_TRUE(Tool(tmp / "src", "zip -qrD ../a.zip docs top.txt sub"));
  ASSERT_TRUE(Tool(tmp / "src", "tar czf ../a.tar.gz docs/readme.txt docs/deep/x.bin top.txt sub/top.txt"));
  for (const char* name : {"a.zip", "a.tar.gz"}) {
    SCOPED_TRACE(name);
    const std::string archive = tmp / name;
    // "docs" exists only as paths: its entries are what goes.
    ArchiveWriteResult r =
        DeleteFromArchive(archive, Listed(archive), {"top.txt", "docs/readme.txt", "docs/deep/x.bin"});
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(Children(archive, ""), (std::set<std::string>{"sub/"}));
    EXPECT_EQ(Children(archive, "sub"), (std::set<std::string>{"top.txt"}));
  }
  EXPECT_EQ(FolderNames(tmp.path()), (std::set<std::string>{"src", "add", "out", "a.zip", "a.tar.gz"}));
}

TEST_F(ArchiveUpdateTest, AStoppedAddLeavesTheArchiveByteForByteAndNothingBeside) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qr ../a.zip docs top.txt"));
  const std::string archive = tmp / "a.zip";
  const std::string bytes = ReadWholeFile(archive);
  struct stat before {};
  ASSERT_EQ(::stat(archive.c_str(), &before), 0);
  int entries = 0;
  ArchiveWriteResult r = AddToArchive(archive, Listed(archive), tmp / "add", {"newdir", "new.txt"}, "",
                                      [&](const std::string& entry) { return entry.empty() || ++entries < 2; });
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(entries, 2);
  EXPECT_EQ(ReadWholeFile(archive), bytes);
  struct stat after {};
  ASSERT_EQ(::stat(archive.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(FolderNames(tmp.path()), (std::set<std::string>{"src", "add", "out", "a.zip"}));
}

TEST_F(ArchiveUpdateTest, AnArchiveChangedSinceItWasListedIsNotOverwritten) {
  ASSERT_TRUE(Tool(tmp / "src", "zip -qr ../a.zip docs"));
  const std::string archive = tmp / "a.zip";
  const FileIdentity listed = Listed(archive);
  // Another program adds to it meanwhile.
  ASSERT_TRUE(Tool(tmp / "src", "zip -q ../a.zip top.txt"));
  const std::string theirs = ReadWholeFile(archive);
  ArchiveWriteResult r = AddToArchive(archive, listed, tmp / "add", {"new.txt"}, "");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("変更されています"), std::string::npos) << r.message;
  EXPECT_EQ(ReadWholeFile(archive), theirs);
  r = DeleteFromArchive(archive, listed, {"top.txt"});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ReadWholeFile(archive), theirs);

  // Nor through a link put in its place.
  std::filesystem::rename(archive, tmp / "real.zip");
  std::filesystem::create_symlink(tmp / "real.zip", archive);
  r = AddToArchive(archive, Listed(archive), tmp / "add", {"new.txt"}, "");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(std::filesystem::is_symlink(archive));
  EXPECT_EQ(ReadWholeFile(tmp / "real.zip"), theirs);
}

TEST_F(ArchiveUpdateTest, FormatsNoLibraryWritesAreRefusedWithAMessage) {
  std::filesystem::copy_file(TestArchive("lha_lh6.lzh"), tmp / "a.lzh");
  std::filesystem::copy_file(TestArchive("rar.rar"), tmp / "a.rar");
  for (const char* name : {"a.lzh", "a.rar"}) {
    SCOPED_TRACE(name);
    const std::string archive = tmp / name;
    EXPECT_FALSE(IsWritableArchive(archive));
    const std::string bytes = ReadWholeFile(archive);
    ArchiveWriteResult r = AddToArchive(archive, Listed(archive), tmp / "add", {"new.txt"}, "");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.cancelled);
    EXPECT_NE(r.message.find("書き込めません"), std::string::npos) << r.message;
    EXPECT_EQ(ReadWholeFile(archive), bytes);
  }
  for (const char* name : {"a.zip", "a.7z", "a.tar", "a.tar.gz", "a.tar.bz2", "a.tar.xz"})
    EXPECT_TRUE(IsWritableArchive(tmp / name)) << name;
}

TEST_F(ArchiveUpdateTest, PackingASelectionIntoEachFormatReadsBack) {
  for (PackFormat format : {PackFormat::Zip, PackFormat::SevenZip, PackFormat::TarGz, PackFormat::TarXz}) {
    PackRequest request;
    request.format = format;
    request.target = tmp / (std::string("out/packed") + PackExtension(format));
    request.level = 9;
    request.sourceFolder = tmp / "src";
    request.names = {"docs", "top.txt"};
    SCOPED_TRACE(request.target);
    ArchiveWriteResult r = PackArchive(request);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(Children(request.target, ""), (std::set<std::string>{"docs/", "top.txt"}));
    const std::string out = tmp.dir(std::string("check") + PackExtension(format));
    ASSERT_TRUE(Tool(out, "bsdtar -xf '" + request.target + "'"));
    EXPECT_EQ(ReadWholeFile(out + "/docs/deep/x.bin"), std::string(5000, 'x'));
    EXPECT_EQ(ReadWholeFile(out + "/docs/readme.txt"), "read me\n");
    EXPECT_EQ(ReadWholeFile(out + "/top.txt"), "top");
    // An archive of that name is there now: a second pack refuses and leaves it.
    const std::string bytes = ReadWholeFile(request.target);
    r = PackArchive(request);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(ReadWholeFile(request.target), bytes);
  }
  // The xz one is xz indeed, and only the four archives are in the folder.
  EXPECT_EQ(ReadWholeFile(tmp / "out/packed.tar.xz").substr(0, 6), std::string("\xFD"
                                                                               "7zXZ\0",
                                                                               6));
  EXPECT_EQ(FolderNames(tmp / "out"),
            (std::set<std::string>{"packed.zip", "packed.7z", "packed.tar.gz", "packed.tar.xz"}));
}

TEST_F(ArchiveUpdateTest, AZipPackedWithAPasswordDoesNotOpenWithoutIt) {
  PackRequest request;
  request.target = tmp / "out/secret.zip";
  request.sourceFolder = tmp / "src";
  request.names = {"top.txt"};
  request.password = "pa ss\"word";
  ArchiveWriteResult r = PackArchive(request);
  ASSERT_TRUE(r.ok) << r.message;
  const std::string out = tmp.dir("secret");
  EXPECT_FALSE(Tool(out, "bsdtar --passphrase wrong -xf '" + request.target + "'"));
  EXPECT_TRUE(Tool(out, "bsdtar --passphrase 'pa ss\"word' -xf '" + request.target + "'"));
  EXPECT_EQ(ReadWholeFile(out + "/top.txt"), "top");
  // Its entries cannot be read back to copy them: adding to it fails and leaves it.
  // (On a worker, as the program writes: no window to ask for the password there.)
  const std::string bytes = ReadWholeFile(request.target);
  const FileIdentity listed = Listed(request.target);
  ArchiveWriteResult added;
  std::thread([&] { added = AddToArchive(request.target, listed, tmp / "add", {"new.txt"}, ""); }).join();
  EXPECT_FALSE(added.ok);
  EXPECT_NE(added.message.find("パスワード付き"), std::string::npos) << added.message;
  EXPECT_EQ(ReadWholeFile(request.target), bytes);
  EXPECT_EQ(FolderNames(tmp / "out"), (std::set<std::string>{"secret.zip"}));
  // A 7z would go out unprotected: refused, nothing written.
  request.format = PackFormat::SevenZip;
  request.target = tmp / "out/secret.7z";
  EXPECT_FALSE(PackArchive(request).ok);
  EXPECT_FALSE(std::filesystem::exists(request.target));
}
