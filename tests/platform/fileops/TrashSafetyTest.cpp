// The trash against other programs and other users: emptying takes only what
// it counted, planted links and foreign trash folders are ignored, a home
// trash that is a link, and directorysizes kept whole by two programs at once.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "FileChecks.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/Trash.h"
#include "platform/namespace/TrashFolder.h"

namespace {

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class AnsweringUI : public IFileOperationUI {
 public:
  std::function<void()> whileAsking;
  int errors = 0;
  bool ConfirmDelete(const std::vector<std::string>&, bool) override { return true; }
  bool ConfirmPermanentDelete(const std::string&) override { return false; }
  ConflictAnswer AskReplace(const FileFacts&, const FileFacts&) override { return ConflictAnswer::Cancel; }
  ErrorAnswer AskError(const std::string&, const std::string&, int) override {
    ++errors;
    return ErrorAnswer::Skip;
  }
  void ShowMessage(const std::string&) override {}
  bool ConfirmEmptyTrash(uint64_t) override {
    if (whileAsking) whileAsking();
    return true;
  }
};

struct MountGuard {
  std::string point;
  bool mounted = false;
  ~MountGuard() {
    if (mounted) umount2(point.c_str(), MNT_DETACH);
  }
};

class TrashSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_DATA_HOME")) saved_ = old, hadOld_ = true;
    setenv("XDG_DATA_HOME", (tmp_ / "data").c_str(), 1);
    tmp_.dir("data");
    trash_ = tmp_ / "data/Trash";
    work_ = tmp_.dir("work");
  }
  void TearDown() override {
    if (hadOld_)
      setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }
  // Emptying reaches every trash of this user; a machine with other items skips.
  bool OnlyOurTrash() {
    for (const TrashedItem& t : ListTrashedItems())
      if (t.filesPath.rfind(tmp_.path() + "/", 0) != 0) return false;
    for (const std::string& path : ListOrphanTrashFiles())
      if (path.rfind(tmp_.path() + "/", 0) != 0) return false;
    return true;
  }

  TempDir tmp_;
  std::string trash_, work_, saved_;
  bool hadOld_ = false;
};

TEST_F(TrashSafety, EmptyingTakesOnlyTheItemsItCounted) {
  int error = 0;
  TrashedItem first, orphanItem;
  tmp_.dir("work/a");
  tmp_.dir("work/b");
  ASSERT_TRUE(MoveToTrash(tmp_.file("work/a/x", "counted"), first, error)) << strerror(error);
  tmp_.file("data/Trash/files/orphan", "counted orphan");
  if (!OnlyOurTrash()) GTEST_SKIP() << "other trashes hold items";

  // While the question waits, another program empties the trash and trashes
  // b/x under the same name; and an orphan of the same name comes back.
  AnsweringUI ui;
  TrashedItem later;
  ui.whileAsking = [&] {
    int e = 0;
    ASSERT_TRUE(RemoveTree(first.filesPath, e));
    ASSERT_EQ(unlink(first.infoPath.c_str()), 0);
    ASSERT_TRUE(RemoveTree(trash_ + "/files/orphan", e));
    ASSERT_TRUE(MoveToTrash(tmp_.file("work/b/x", "trashed later"), later, e)) << strerror(e);
    tmp_.file("data/Trash/files/orphan", "a new orphan");
  };
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_EQ(ui.errors, 0);
  EXPECT_EQ(later.filesPath, first.filesPath);
  EXPECT_EQ(ReadWholeFile(later.filesPath), "trashed later");
  std::vector<TrashedItem> left = ListTrashedItems();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].originalPath, work_ + "/b/x");
  EXPECT_EQ(ReadWholeFile(trash_ + "/files/orphan"), "a new orphan");

  // Asked again, both are counted and go.
  ui.whileAsking = nullptr;
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_TRUE(ListTrashedItems().empty());
  EXPECT_FALSE(Exists(trash_ + "/files/orphan"));
}

TEST_F(TrashSafety, PlantedLinksAndForeignTopTrashesAreIgnored) {
  MountGuard guard{tmp_.dir("mnt")};
  if (mount("tolvane-trash", guard.point.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  guard.mounted = true;
  std::string mnt = guard.point, uid = std::to_string(getuid());
  // The victim's folders, which look like trashes from inside.
  tmp_.dir("victim1/files");
  tmp_.dir("victim1/info");
  tmp_.file("victim1/files/thesis.odt", "years of work");
  tmp_.dir("victim2/files");
  tmp_.file("victim2/files/photos", "memories");
  ASSERT_EQ(mkdir((mnt + "/.Trash").c_str(), 01777), 0);
  chmod((mnt + "/.Trash").c_str(), 01777);
  ASSERT_EQ(symlink((tmp_ / "victim1").c_str(), (mnt + "/.Trash/" + uid).c_str()), 0);
  ASSERT_EQ(symlink((tmp_ / "victim2").c_str(), (mnt + "/.Trash-" + uid).c_str()), 0);
  for (const std::string& dir : TrashDirectories()) EXPECT_EQ(dir.rfind(mnt + "/", 0), std::string::npos) << dir;
  if (!OnlyOurTrash()) GTEST_SKIP() << "other trashes hold items";

  AnsweringUI ui;
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_EQ(ReadWholeFile(tmp_ / "victim1/files/thesis.odt"), "years of work");
  EXPECT_EQ(ReadWholeFile(tmp_ / "victim2/files/photos"), "memories");

  // Restoring or purging through the link is refused as well.
  tmp_.file("victim1/info/thesis.odt.trashinfo",
            "[Trash Info]\nPath=/tmp/elsewhere\nDeletionDate=2020-01-01T00:00:00\n");
  TrashedItem planted{tmp_ / "elsewhere", mnt + "/.Trash/" + uid + "/files/thesis.odt", "", ""};
  int error = 0;
  EXPECT_FALSE(RestoreFromTrash(planted, error));
  EXPECT_FALSE(PurgeTrashedItem(planted, error));
  EXPECT_EQ(ReadWholeFile(tmp_ / "victim1/files/thesis.odt"), "years of work");

  // A real trash folder that others may write into, or that is not ours, is ignored too.
  ASSERT_EQ(unlink((mnt + "/.Trash-" + uid).c_str()), 0);
  ASSERT_EQ(mkdir((mnt + "/.Trash-" + uid).c_str(), 0777), 0);
  chmod((mnt + "/.Trash-" + uid).c_str(), 0777);
  tmp_.dir("mnt/.Trash-" + uid + "/files");
  tmp_.file("mnt/.Trash-" + uid + "/files/planted", "someone else's");
  EXPECT_FALSE(IsUsableTopTrash(mnt + "/.Trash-" + uid));
  EXPECT_EQ(EmptyRecycleBin(&ui), 0);
  EXPECT_TRUE(Exists(mnt + "/.Trash-" + uid + "/files/planted"));
  if (getuid() == 0) {
    chmod((mnt + "/.Trash-" + uid).c_str(), 0700);
    EXPECT_TRUE(IsUsableTopTrash(mnt + "/.Trash-" + uid));
    ASSERT_EQ(chown((mnt + "/.Trash-" + uid).c_str(), 4242, 4242), 0);
    EXPECT_FALSE(IsUsableTopTrash(mnt + "/.Trash-" + uid));
    EXPECT_EQ(EmptyRecycleBin(&ui), 0);
    EXPECT_TRUE(Exists(mnt + "/.Trash-" + uid + "/files/planted"));
  }
}

TEST_F(TrashSafety, HomeTrashLinkToOwnFolderOnTheSameFileSystemIsUsed) {
  std::string real = tmp_.dir("elsewhere/my-trash");
  ASSERT_EQ(symlink(real.c_str(), trash_.c_str()), 0);
  std::string file = tmp_.file("work/f.txt", "f");
  TrashedItem item;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(file, item, error)) << strerror(error);
  EXPECT_EQ(item.filesPath, real + "/files/f.txt");
  EXPECT_EQ(ReadWholeFile(real + "/files/f.txt"), "f");
  EXPECT_TRUE(IsLink(trash_));
  std::vector<TrashedItem> listed = ListTrashedItems();
  EXPECT_TRUE(
      std::any_of(listed.begin(), listed.end(), [&](const TrashedItem& t) { return t.filesPath == item.filesPath; }));
  ASSERT_TRUE(RestoreFromTrash(item, error)) << strerror(error);
  EXPECT_EQ(ReadWholeFile(file), "f");
}

TEST_F(TrashSafety, HomeTrashLinkThatIsRefusedMakesNoTopDirectoryTrash) {
  if (getuid() != 0) GTEST_SKIP() << "needs a folder of another user";
  std::string foreign = tmp_.dir("foreign-trash");
  ASSERT_EQ(chown(foreign.c_str(), 4242, 4242), 0);
  ASSERT_EQ(symlink(foreign.c_str(), trash_.c_str()), 0);
  std::string file = tmp_.file("work/f.txt", "f");
  // Where a top-directory trash for this file system would go.
  std::string top = tmp_.path();
  struct stat here, up;
  ASSERT_EQ(stat(top.c_str(), &here), 0);
  while (top != "/" && stat(std::filesystem::path(top).parent_path().c_str(), &up) == 0 && up.st_dev == here.st_dev)
    top = std::filesystem::path(top).parent_path().string();
  std::string topTrash = (top == "/" ? "" : top) + "/.Trash-" + std::to_string(getuid());
  bool existed = Exists(topTrash);

  TrashedItem item;
  int error = 0;
  EXPECT_FALSE(MoveToTrash(file, item, error));
  EXPECT_NE(error, 0);
  EXPECT_EQ(ReadWholeFile(file), "f");
  EXPECT_TRUE(std::filesystem::is_empty(foreign));
  if (!existed) {
    EXPECT_FALSE(Exists(topTrash));
    std::error_code ec;
    std::filesystem::remove_all(topTrash, ec);  // what the fault made
  }
}

TEST_F(TrashSafety, TwoProgramsTrashingFoldersKeepEveryDirectorySizesLine) {
  constexpr int kPerProcess = 60;
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < kPerProcess; ++k) tmp_.dir("work/p" + std::to_string(p) + "-" + std::to_string(k));
  TrashedItem warm;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(tmp_.dir("work/first"), warm, error)) << strerror(error);
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      int failures = 0;
      for (int k = 0; k < kPerProcess; ++k) {
        TrashedItem item;
        int e = 0;
        if (!MoveToTrash(work_ + "/p" + std::to_string(p) + "-" + std::to_string(k), item, e)) ++failures;
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string sizes = ReadWholeFile(trash_ + "/directorysizes");
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), '\n'), 2 * kPerProcess + 1);
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < kPerProcess; ++k)
      EXPECT_NE(sizes.find(" p" + std::to_string(p) + "-" + std::to_string(k) + "\n"), std::string::npos) << p << k;
  // No temporary file is left beside it.
  for (const auto& entry : std::filesystem::directory_iterator(trash_))
    EXPECT_TRUE(entry.path().filename() == "files" || entry.path().filename() == "info" ||
                entry.path().filename() == "directorysizes")
        << entry.path();
}

}  // namespace
