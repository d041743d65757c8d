// The undo journal on real files: copies removed, moves moved back (also
// across file systems), trashed items restored, and refusals when the files
// are no longer as the operation left them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "FileChecks.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/Trash.h"

namespace {

// The item as an operation leaves it: where it was, where it is, its size and time.
UndoItem Left(const std::string& from, const std::string& to) {
  struct stat st {};
  lstat(to.c_str(), &st);
  UndoItem item;
  item.from = from;
  item.to = to;
  item.folder = S_ISDIR(st.st_mode);
  item.size = item.folder ? 0 : st.st_size;
  item.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return item;
}

UndoItem Paths(const std::string& from, const std::string& to) {
  UndoItem item;
  item.from = from;
  item.to = to;
  return item;
}

UndoRecord MakeRecord(UndoRecord::Kind kind, std::vector<UndoItem> items) {
  UndoRecord r;
  r.kind = kind;
  r.items = std::move(items);
  return r;
}

class MessageUI : public IFileOperationUI {
 public:
  std::vector<std::string> messages;
  int errors = 0;
  bool ConfirmDelete(const std::vector<std::string>&, bool) override { return true; }
  bool ConfirmPermanentDelete(const std::string&) override { return false; }
  ConflictAnswer AskReplace(const FileFacts&, const FileFacts&) override { return ConflictAnswer::Cancel; }
  ErrorAnswer AskError(const std::string&, const std::string&, int) override {
    ++errors;
    return ErrorAnswer::Cancel;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool ConfirmEmptyTrash(uint64_t) override { return false; }
};

TEST(UndoJournal, DescribesTheNewestRecord) {
  FileOperationJournal journal;
  EXPECT_FALSE(journal.CanUndo());
  EXPECT_EQ(journal.NewestDescription(), "");
  journal.Record(MakeRecord(UndoRecord::Copy, {}));  // nothing to undo: not recorded
  EXPECT_FALSE(journal.CanUndo());
  journal.Record(MakeRecord(UndoRecord::Copy, {Paths("/a/x.txt", "/b/x.txt"), Paths("/a/y", "/b/y")}));
  EXPECT_EQ(journal.NewestDescription(), "コピー (2 項目)");
  journal.Record(MakeRecord(UndoRecord::Move, {Paths("/a/x.txt", "/b/x.txt")}));
  EXPECT_EQ(journal.NewestDescription(), "「x.txt」の移動");
  journal.Record(MakeRecord(UndoRecord::Trash, {Paths("/a/\xff.txt", "/t/files/\xff.txt")}));
  EXPECT_EQ(journal.NewestDescription(), "「\xef\xbf\xbd.txt」のごみ箱への移動");
  EXPECT_EQ(MakeRecord(UndoRecord::Trash, {UndoItem{}, UndoItem{}, UndoItem{}}).Description(), "ごみ箱へ移動 (3 項目)");
  journal.Clear();
  EXPECT_FALSE(journal.CanUndo());
  MessageUI ui;
  EXPECT_NE(journal.UndoLast(&ui), 0);
}

TEST(UndoJournal, UndoesCopiesOnlyWhileUnchanged) {
  TempDir tmp;
  tmp.file("src.txt", "source");
  std::string copy = tmp.file("copy.txt", "source");
  std::string folder = tmp.dir("copydir/sub");
  tmp.file("copydir/sub/f", "f");
  FileOperationJournal journal;
  MessageUI ui;
  journal.Record(MakeRecord(UndoRecord::Copy, {Left(tmp / "src.txt", copy), Left(tmp / "srcdir", tmp / "copydir")}));

  // A copy changed since: refused, told, kept, nothing removed.
  { std::ofstream(copy, std::ios::app) << "!"; }
  EXPECT_NE(journal.UndoLast(&ui), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "元に戻せません: 「copy.txt」は操作の後で変更されています。");
  EXPECT_TRUE(journal.CanUndo());
  EXPECT_TRUE(Exists(tmp / "copydir/sub/f"));

  // Back as it was (same size and time): undone, copies gone, sources stay.
  std::string text = "source";
  std::filesystem::resize_file(copy, text.size());
  journal.Clear();
  journal.Record(MakeRecord(UndoRecord::Copy, {Left(tmp / "src.txt", copy), Left(tmp / "srcdir", tmp / "copydir")}));
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(copy));
  EXPECT_FALSE(Exists(tmp / "copydir"));
  EXPECT_EQ(ReadWholeFile(tmp / "src.txt"), "source");
  EXPECT_FALSE(journal.CanUndo());
  EXPECT_EQ(ui.messages.size(), 1u);

  // New work saved into a copied folder afterwards keeps the folder; so does a missing copy.
  tmp.dir("copy2/deep");
  journal.Record(MakeRecord(UndoRecord::Copy, {Left(tmp / "x", tmp / "copy2")}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past the clock's tick
  tmp.file("copy2/deep/new work.txt", "precious");
  EXPECT_NE(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ui.messages.back(), "元に戻せません: 「copy2」は操作の後で変更されています。");
  EXPECT_EQ(ReadWholeFile(tmp / "copy2/deep/new work.txt"), "precious");
  journal.Clear();
  journal.Record(MakeRecord(UndoRecord::Copy, {Left(tmp / "x", tmp / "gone.txt")}));
  EXPECT_NE(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ui.messages.back(), "元に戻せません: 「gone.txt」は見つかりません。");
}

TEST(UndoJournal, MovesBackWithinAFileSystem) {
  TempDir tmp;
  tmp.dir("a");
  tmp.dir("b");
  std::string from = tmp / "a/\xff name.txt", to = tmp / "b/\xff name.txt";
  tmp.file("b/\xff name.txt", "moved");
  tmp.dir("b/folder/inner");
  FileOperationJournal journal;
  MessageUI ui;
  journal.Record(MakeRecord(UndoRecord::Move, {Left(from, to), Left(tmp / "a/folder", tmp / "b/folder")}));

  // The old place taken meanwhile: refused, nothing moves.
  tmp.file("a/folder", "squatter");
  EXPECT_NE(journal.UndoLast(&ui), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("元の場所には別の項目があります"), std::string::npos);
  EXPECT_TRUE(Exists(to));
  EXPECT_EQ(ReadWholeFile(tmp / "a/folder"), "squatter");

  std::filesystem::remove(tmp / "a/folder");
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(from), "moved");
  EXPECT_TRUE(Exists(tmp / "a/folder/inner"));
  EXPECT_FALSE(Exists(to));
  EXPECT_FALSE(Exists(tmp / "b/folder"));
  EXPECT_FALSE(journal.CanUndo());
}

TEST(UndoJournal, MovesBackAcrossFileSystems) {
  TempDir disk;
  struct stat a, b;
  if (stat("/dev/shm", &b) != 0 || stat(disk.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "/dev/shm is no second file system here";
  char shmTemplate[] = "/dev/shm/tolvane-undo-XXXXXX";
  ASSERT_NE(mkdtemp(shmTemplate), nullptr);
  std::string shm = shmTemplate;
  struct Cleanup {
    std::string p;
    ~Cleanup() { std::filesystem::remove_all(p); }
  } cleanup{shm};
  // The operation moved a file and a folder from the disk to /dev/shm.
  std::ofstream(shm + "/big.bin") << std::string(100000, 'b');
  std::filesystem::create_directories(shm + "/tree/sub");
  std::ofstream(shm + "/tree/sub/leaf.txt") << "leaf";
  FileOperationJournal journal;
  MessageUI ui;
  SetFileOperationUIOverride(&ui);
  std::string before = FileOperationJournal::Instance().NewestDescription();
  journal.Record(
      MakeRecord(UndoRecord::Move, {Left(disk / "big.bin", shm + "/big.bin"), Left(disk / "tree", shm + "/tree")}));
  int result = journal.UndoLast(&ui);
  SetFileOperationUIOverride(nullptr);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(ReadWholeFile(disk / "big.bin"), std::string(100000, 'b'));
  EXPECT_EQ(ReadWholeFile(disk / "tree/sub/leaf.txt"), "leaf");
  EXPECT_FALSE(Exists(shm + "/big.bin"));
  EXPECT_FALSE(Exists(shm + "/tree"));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(journal.CanUndo());
  // Undoing records nothing new in the process's journal either.
  EXPECT_EQ(FileOperationJournal::Instance().NewestDescription(), before);
}

TEST(UndoJournal, RestoresTrashedItems) {
  TempDir tmp;
  const char* old = getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", (tmp / "data").c_str(), 1);
  std::string file = tmp.file("doc.txt", "doc"), dir = tmp.dir("dir/sub");
  TrashedItem f, d;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(file, f, error));
  ASSERT_TRUE(MoveToTrash(tmp / "dir", d, error));
  auto trashed = [](const TrashedItem& t) {
    UndoItem item = Left(t.originalPath, t.filesPath);
    item.trashInfo = t.infoPath;
    return item;
  };
  FileOperationJournal journal;
  MessageUI ui;
  journal.Record(MakeRecord(UndoRecord::Trash, {trashed(f), trashed(d)}));
  EXPECT_EQ(journal.NewestDescription(), "ごみ箱へ移動 (2 項目)");

  tmp.file("doc.txt", "new doc");
  EXPECT_NE(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ReadWholeFile(file), "new doc");
  EXPECT_EQ(ReadWholeFile(f.filesPath), "doc");
  EXPECT_TRUE(Exists(d.filesPath));  // all or nothing: the folder stays too

  std::filesystem::remove(file);
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(file), "doc");
  EXPECT_TRUE(Exists(tmp / "dir/sub"));
  EXPECT_FALSE(Exists(f.infoPath));
  EXPECT_FALSE(Exists(d.infoPath));
  EXPECT_FALSE(journal.CanUndo());
  if (old)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
}

TEST(UndoJournal, RecordsFromManyThreads) {
  FileOperationJournal journal;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&journal, t] {
      for (int k = 0; k < 200; ++k) {
        journal.Record(MakeRecord(UndoRecord::Copy, {Paths("/x/" + std::to_string(t), "/y")}));
        (void)journal.NewestDescription();
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(journal.CanUndo());
  std::string newest = journal.NewestDescription();
  EXPECT_TRUE(newest == "「0」のコピー" || newest == "「1」のコピー" || newest == "「2」のコピー" ||
              newest == "「3」のコピー")
      << newest;
}

}  // namespace
