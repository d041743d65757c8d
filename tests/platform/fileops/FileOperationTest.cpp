// The file-operation engine on real folders: copy, conflicts, errors, rename,
// delete, the shell entry and the journal. Moves and progress are in
// FileOperationMoveTest.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "FileOperationTestUtil.h"
#include "NamespaceTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

namespace {

const std::string kCopy = "\xE3\x82\xB3\xE3\x83\x94\xE3\x83\xBC";  // コピー

TEST(FileOperation, SplitsNulListsAndRunsThroughTheShellEntry) {
  EXPECT_EQ(SplitNulList(std::string("/a\0/b c\0\0", 9)), (std::vector<std::string>{"/a", "/b c"}));
  EXPECT_EQ(SplitNulList("/only"), std::vector<std::string>{"/only"});
  EXPECT_TRUE(SplitNulList(std::string("\0", 1)).empty());

  TempDir dir;
  std::string a = dir.file("a.txt", "A"), b = dir.file("b c.txt", "B");
  std::string dest = dir.dir("dest");
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped(&ui);
  SHFILEOPSTRUCT op;
  op.wFunc = FO_COPY;
  op.pFrom = a + '\0' + b + '\0' + '\0';
  op.pTo = dest + '\0';
  EXPECT_EQ(SHFileOperation(op), 0);
  EXPECT_FALSE(op.fAnyOperationsAborted);
  EXPECT_EQ(ReadWholeFile(dest + "/a.txt"), "A");
  EXPECT_EQ(ReadWholeFile(dest + "/b c.txt"), "B");

  op.wFunc = 9;
  EXPECT_EQ(SHFileOperation(op), FO_ERROR_BAD_REQUEST);
  op.wFunc = FO_COPY;
  op.pFrom = std::string("\0", 1);
  EXPECT_EQ(SHFileOperation(op), FO_ERROR_BAD_REQUEST);
}

TEST(FileOperationCopy, KeepsContentModesTimesAndLinks) {
  TempDir src, dst;
  std::string top = src.dir("top");
  std::string big = PatternData(3 << 20);
  src.file("top/big.bin", big);
  src.file("top/empty");
  src.dir("top/sub");
  src.file("top/sub/b.txt", "bee");
  chmod((src / "top/sub/b.txt").c_str(), 0640);
  SetMtime(src / "top/sub/b.txt", 1000000000, 123456789);
  // Modes the umask would cut, and set-id bits that a write would drop.
  const std::pair<const char*, mode_t> modes[] = {{"top/ro", 0444}, {"top/open", 0666}, {"top/suid", 04755}};
  for (const auto& [name, mode] : modes) {
    src.file(name, name);
    chmod((src / name).c_str(), mode);
  }
  src.dir("top/locked");
  src.file("top/locked/in.txt", "in");
  chmod((src / "top/locked").c_str(), 0555);
  symlink("sub/b.txt", (src / "top/link").c_str());
  symlink("nowhere", (src / "top/dangling").c_str());
  symlink("sub", (src / "top/dirlink").c_str());
  SetMtime(src / "top/link", 1200000000, 5);
  chmod((src / "top/sub").c_str(), 0750);
  SetMtime(src / "top/sub", 1100000000, 42);

  FileOperationJournal::Instance().Clear();
  ScriptedFileOperationUI ui;
  FileOperationResult r = RunOp(FO_COPY, {top}, dst.path(), 0, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(r.aborted);
  std::string out = dst / "top";
  EXPECT_EQ(ReadWholeFile(out + "/big.bin"), big);
  EXPECT_TRUE(Exists(out + "/empty"));
  EXPECT_EQ(Lstat(out + "/empty").st_size, 0);
  struct stat b = Lstat(out + "/sub/b.txt");
  EXPECT_EQ(b.st_mode & 07777, 0640u);
  EXPECT_EQ(b.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(b.st_mtim.tv_nsec, 123456789);
  // A folder's time is set after its contents, which would change it.
  struct stat sub = Lstat(out + "/sub");
  EXPECT_EQ(sub.st_mode & 07777, 0750u);
  EXPECT_EQ(sub.st_mtim.tv_sec, 1100000000);
  for (const auto& [name, mode] : modes) {
    EXPECT_EQ(Lstat(dst / name).st_mode & 07777, mode) << name;
    EXPECT_EQ(ReadWholeFile(dst / name), name);
  }
  EXPECT_EQ(Lstat(out + "/locked").st_mode & 07777, 0555u);
  EXPECT_EQ(ReadWholeFile(out + "/locked/in.txt"), "in");
  // Links stay links, never followed.
  for (const char* name : {"link", "dangling", "dirlink"})
    EXPECT_TRUE(S_ISLNK(Lstat(out + "/" + name).st_mode)) << name;
  char target[64] = {};
  readlink((out + "/dirlink").c_str(), target, sizeof target - 1);
  EXPECT_STREQ(target, "sub");
  EXPECT_EQ(Lstat(out + "/link").st_mtim.tv_sec, 1200000000);
  EXPECT_FALSE(HasPartFiles(dst.path()));
  EXPECT_TRUE(ui.errorCalls.empty());
  EXPECT_TRUE(ui.replaceCalls.empty());
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());  // no undo asked for
  EXPECT_EQ(ReadWholeFile(src / "top/big.bin"), big);
}

TEST(FileOperationCopy, IntoItsOwnFolderMakesNumberedCopies) {
  TempDir dir;
  std::string a = dir.file("a.txt", "A"), rc = dir.file(".rc", "R");
  std::string d = dir.dir("d");
  dir.file("d/in", "I");
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {a, rc, d}, dir.path(), 0, ui).code, 0);
  EXPECT_EQ(RunOp(FO_COPY, {a}, dir.path(), 0, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dir / ("a - " + kCopy + ".txt")), "A");
  EXPECT_EQ(ReadWholeFile(dir / ("a - " + kCopy + " (2).txt")), "A");
  EXPECT_EQ(ReadWholeFile(dir / (".rc - " + kCopy)), "R");
  EXPECT_EQ(ReadWholeFile(dir / ("d - " + kCopy + "/in")), "I");
  EXPECT_TRUE(ui.replaceCalls.empty());
  EXPECT_TRUE(ui.errorCalls.empty());

  // A conflict elsewhere gets the same kind of name when asked for.
  TempDir other;
  other.file("a.txt", "old");
  EXPECT_EQ(RunOp(FO_COPY, {a}, other.path(), FOF_RENAMEONCOLLISION, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(other / "a.txt"), "old");
  EXPECT_EQ(ReadWholeFile(other / ("a - " + kCopy + ".txt")), "A");
  EXPECT_TRUE(ui.replaceCalls.empty());
}

struct ConflictCase {
  std::vector<ConflictAnswer> answers;
  uint32_t flags;
  std::vector<std::string> expected;  // contents of f1..f3 afterwards
  size_t questions;
  int code;
  bool aborted;
};

TEST(FileOperationCopy, ConflictsAnsweredEachWay) {
  using A = ConflictAnswer;
  const std::vector<ConflictCase> cases = {
      {{A::Yes, A::No, A::Yes}, 0, {"new1", "old", "new3"}, 3, 0, true},
      {{A::YesToAll}, 0, {"new1", "new2", "new3"}, 1, 0, false},
      {{A::NoToAll}, 0, {"old", "old", "old"}, 1, 0, true},
      {{A::No, A::YesToAll}, 0, {"old", "new2", "new3"}, 2, 0, true},
      {{A::Yes, A::Cancel}, 0, {"new1", "old", "old"}, 2, FO_ERROR_CANCELLED, true},
      {{}, FOF_NOCONFIRMATION, {"new1", "new2", "new3"}, 0, 0, false},
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    const ConflictCase& k = cases[c];
    TempDir src, dst;
    std::vector<std::string> sources;
    for (int i = 1; i <= 3; ++i) {
      std::string n = "f" + std::to_string(i);
      sources.push_back(src.file(n, "new" + std::to_string(i)));
      dst.file(n, "old");
      SetMtime(dst / n, 1500000000, 0);
    }
    ScriptedFileOperationUI ui;
    ui.replaceAnswers.assign(k.answers.begin(), k.answers.end());
    FileOperationResult r = RunOp(FO_COPY, sources, dst.path(), k.flags, ui);
    EXPECT_EQ(r.code, k.code) << c;
    EXPECT_EQ(r.aborted, k.aborted) << c;
    EXPECT_EQ(ui.replaceCalls.size(), k.questions) << c;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadWholeFile(dst / ("f" + std::to_string(i + 1))), k.expected[i]) << c;
    EXPECT_FALSE(HasPartFiles(dst.path()));
    if (!ui.replaceCalls.empty()) {
      const auto& q = ui.replaceCalls[0];
      EXPECT_EQ(q.existing.path, dst / "f1");
      EXPECT_EQ(q.existing.size, 3u);
      EXPECT_EQ(q.existing.mtime, 1500000000);
      EXPECT_EQ(q.incoming.path, src / "f1");
      EXPECT_EQ(q.incoming.size, 4u);
      EXPECT_FALSE(q.existing.folder);
    }
  }
}

TEST(FileOperationCopy, MergesFoldersAndNeverSwapsFileAndFolder) {
  TempDir src, dst;
  src.dir("d");
  src.file("d/f", "new");
  src.file("d/h", "h");
  dst.dir("d");
  dst.file("d/f", "old");
  dst.file("d/g", "g");
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::Yes};
  EXPECT_EQ(RunOp(FO_COPY, {src / "d"}, dst.path(), 0, ui).code, 0);
  EXPECT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(Names(dst / "d"), (std::vector<std::string>{"f", "g", "h"}));
  EXPECT_EQ(ReadWholeFile(dst / "d/f"), "new");

  // A file onto a folder: an error, retried, then skipped; the folder stays.
  src.file("x", "file");
  dst.dir("x");
  dst.file("x/keep", "k");
  ScriptedFileOperationUI ui2;
  ui2.errorAnswers = {ErrorAnswer::Retry, ErrorAnswer::Skip};
  FileOperationResult r = RunOp(FO_COPY, {src / "x"}, dst.path(), FOF_NOCONFIRMATION, ui2);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  ASSERT_EQ(ui2.errorCalls.size(), 2u);
  EXPECT_EQ(ui2.errorCalls[0].error, EEXIST);
  EXPECT_EQ(ui2.errorCalls[0].path, dst / "x");
  EXPECT_EQ(ReadWholeFile(dst / "x/keep"), "k");

  // A folder onto a file: the same, and cancel ends the job.
  src.dir("y");
  dst.file("y", "file");
  ScriptedFileOperationUI ui3;
  ui3.errorAnswers = {ErrorAnswer::Cancel};
  r = RunOp(FO_COPY, {src / "y", src / "d"}, dst.path(), FOF_NOCONFIRMATION, ui3);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(ReadWholeFile(dst / "y"), "file");
}

TEST(FileOperationCopy, RefusesAFolderIntoItselfTouchingNothing) {
  TempDir dir;
  std::string a = dir.dir("A");
  dir.dir("A/sub");
  std::string b = dir.file("b.txt", "B");
  symlink((a + "/sub").c_str(), (dir / "L").c_str());
  for (uint32_t function : {FO_COPY, FO_MOVE}) {
    for (const std::string& dest : {a, a + "/sub", dir / "L"}) {
      ScriptedFileOperationUI ui;
      FileOperationResult r = RunOp(function, {b, a}, dest, 0, ui);
      EXPECT_EQ(r.code, FO_ERROR_BAD_REQUEST) << dest;
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_NE(ui.messages[0].find(function == FO_COPY ? "それ自身の中に" : "サブフォルダー"), std::string::npos);
      EXPECT_EQ(Names(a), std::vector<std::string>{"sub"});
      EXPECT_TRUE(Names(a + "/sub").empty());
      EXPECT_EQ(ReadWholeFile(b), "B");
    }
  }
}

TEST(FileOperationCopy, ErrorsAskRetrySkipOrCancel) {
  TempDir src, dst;
  std::string ok = src.file("ok.txt", "ok");
  std::string missing = src / "missing.txt";
  ScriptedFileOperationUI ui;
  ui.errorAnswers = {ErrorAnswer::Skip};
  FileOperationResult r = RunOp(FO_COPY, {missing, ok}, dst.path(), 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);  // never success with an item left out
  ASSERT_EQ(ui.errorCalls.size(), 1u);
  EXPECT_EQ(ui.errorCalls[0].path, missing);
  EXPECT_EQ(ui.errorCalls[0].error, ENOENT);
  EXPECT_EQ(ui.errorCalls[0].action, "コピー");
  EXPECT_EQ(ReadWholeFile(dst / "ok.txt"), "ok");

  // Without error questions the first error ends the job.
  TempDir dst2;
  ScriptedFileOperationUI ui2;
  r = RunOp(FO_COPY, {missing, ok}, dst2.path(), FOF_NOERRORUI, ui2);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  EXPECT_FALSE(r.aborted);
  EXPECT_TRUE(ui2.errorCalls.empty());
  EXPECT_FALSE(Exists(dst2 / "ok.txt"));

  ScriptedFileOperationUI ui3;  // cancels by default
  r = RunOp(FO_COPY, {missing, ok}, dst2.path(), 0, ui3);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(r.aborted);
  EXPECT_FALSE(Exists(dst2 / "ok.txt"));

  // A destination that does not exist is asked about before anything happens.
  ScriptedFileOperationUI ui4;
  r = RunOp(FO_COPY, {ok}, dst.path() + "/nope", 0, ui4);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  ASSERT_EQ(ui4.errorCalls.size(), 1u);
  EXPECT_EQ(ui4.errorCalls[0].error, ENOENT);
}

TEST(FileOperationCopy, MakesPipesAgainAndSkipsSocketsWithOneMessage) {
  TempDir src, dst;
  src.dir("t");
  src.file("t/a", "a");
  ASSERT_EQ(mkfifo((src / "t/pipe").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((src / "lonepipe").c_str(), 0600), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (src / "t/sock").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ScriptedFileOperationUI ui;
  FileOperationResult r = RunOp(FO_COPY, {src / "t", src / "lonepipe"}, dst.path(), 0, ui);
  close(sock);
  // Something was left behind: not a success.
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  EXPECT_EQ(Names(dst / "t"), (std::vector<std::string>{"a", "pipe"}));
  EXPECT_TRUE(S_ISFIFO(Lstat(dst / "t/pipe").st_mode));
  EXPECT_TRUE(S_ISFIFO(Lstat(dst / "lonepipe").st_mode));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("特殊なファイル"), std::string::npos);
  EXPECT_NE(ui.messages[0].find(src / "t/sock"), std::string::npos);
  EXPECT_EQ(ui.messages[0].find(src / "t/pipe"), std::string::npos);
}

TEST(FileOperationCopy, NoSpaceLeavesNoPartialFileAndTheSourceIntact) {
  TinyMount tiny;
  if (!tiny.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  TempDir src;
  std::string big = PatternData(3 << 20, 7);
  std::string bigPath = src.file("big.bin", big);
  std::string small = src.file("small.txt", "small");
  ScriptedFileOperationUI ui;
  ui.errorAnswers = {ErrorAnswer::Skip, ErrorAnswer::Skip};
  FileOperationResult r = RunOp(FO_COPY, {bigPath, small}, tiny.path(), 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  ASSERT_EQ(ui.errorCalls.size(), 1u);
  EXPECT_EQ(ui.errorCalls[0].error, ENOSPC);
  EXPECT_EQ(ui.errorCalls[0].path, tiny / "big.bin");
  EXPECT_EQ(Names(tiny.path()), std::vector<std::string>{"small.txt"});
  EXPECT_EQ(ReadWholeFile(bigPath), big);

  // A move across file systems that runs out of space keeps its source.
  r = RunOp(FO_MOVE, {bigPath}, tiny.path(), 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  EXPECT_EQ(ui.errorCalls.back().error, ENOSPC);
  EXPECT_EQ(ReadWholeFile(bigPath), big);
  EXPECT_EQ(Names(tiny.path()), std::vector<std::string>{"small.txt"});

  // A read-only target says so.
  ASSERT_TRUE(tiny.MakeReadOnly());
  src.file("other.txt", "o");
  ScriptedFileOperationUI ui2;
  ui2.errorAnswers = {ErrorAnswer::Skip};
  EXPECT_EQ(RunOp(FO_COPY, {src / "other.txt"}, tiny.path(), 0, ui2).code, FO_ERROR_FAILED);
  ASSERT_EQ(ui2.errorCalls.size(), 1u);
  EXPECT_EQ(ui2.errorCalls[0].error, EROFS);
}

TEST(FileOperationRename, RenamesWithoutEverReplacing) {
  TempDir dir, other;
  std::string a = dir.file("a.txt", "A");
  dir.file("c.txt", "C");
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_RENAME, {a}, "b.txt", FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dir / "b.txt"), "A");
  EXPECT_FALSE(Exists(a));
  // A full path in the same folder is a name too.
  EXPECT_EQ(RunOp(FO_RENAME, {dir / "b.txt"}, dir / "a.txt", 0, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(a), "A");

  ui.errorAnswers = {ErrorAnswer::Skip};
  EXPECT_EQ(RunOp(FO_RENAME, {a}, "c.txt", 0, ui).code, FO_ERROR_FAILED);
  ASSERT_EQ(ui.errorCalls.size(), 1u);
  EXPECT_EQ(ui.errorCalls[0].error, EEXIST);
  EXPECT_EQ(ui.errorCalls[0].path, dir / "c.txt");
  EXPECT_EQ(ReadWholeFile(a), "A");
  EXPECT_EQ(ReadWholeFile(dir / "c.txt"), "C");

  // Not a move in disguise, and one item only.
  EXPECT_EQ(RunOp(FO_RENAME, {a}, other / "a.txt", 0, ui).code, FO_ERROR_BAD_REQUEST);
  EXPECT_EQ(RunOp(FO_RENAME, {a, dir / "c.txt"}, "z", 0, ui).code, FO_ERROR_BAD_REQUEST);
  EXPECT_EQ(RunOp(FO_RENAME, {a}, "..", 0, ui).code, FO_ERROR_BAD_REQUEST);
  EXPECT_TRUE(Exists(a));
  EXPECT_TRUE(Names(other.path()).empty());
}

TEST(FileOperationDelete, ConfirmsThenDeletesForGoodOrToTheTrash) {
  TempDir dir, data;
  EnvGuard xdg("XDG_DATA_HOME", data.path());
  std::string f = dir.file("f.txt", "F");
  std::string d = dir.dir("d");
  dir.file("d/in", "I");

  ScriptedFileOperationUI ui;
  ui.deleteAnswers = {false};
  FileOperationResult r = RunOp(FO_DELETE, {f, d}, "", 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(r.aborted);
  ASSERT_EQ(ui.deleteCalls.size(), 1u);
  EXPECT_EQ(ui.deleteCalls[0].first, (std::vector<std::string>{f, d}));
  EXPECT_TRUE(ui.deleteCalls[0].second);  // for good: the stronger question
  EXPECT_TRUE(Exists(f));
  EXPECT_TRUE(Exists(d + "/in"));

  FileOperationJournal::Instance().Clear();
  ui.deleteAnswers = {true};
  r = RunOp(FO_DELETE, {f}, "", FOF_ALLOWUNDO, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(ui.deleteCalls.back().second);
  EXPECT_FALSE(Exists(f));
  EXPECT_EQ(ReadWholeFile(data / "Trash/files/f.txt"), "F");
  EXPECT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(f), "F");

  r = RunOp(FO_DELETE, {d, f}, "", FOF_NOCONFIRMATION, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(ui.deleteCalls.size(), 2u);
  EXPECT_FALSE(Exists(d));
  EXPECT_FALSE(Exists(f));
}

TEST(FileOperationDelete, OffersDeletingForGoodWhatNoTrashTakes) {
  TinyMount tiny("size=4m");
  if (!tiny.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  TempDir data;
  EnvGuard xdg("XDG_DATA_HOME", data.path());
  // A file where the mount's trash folder would go: no trash can be made.
  std::ofstream(tiny / (".Trash-" + std::to_string(getuid()))) << "x";
  std::string f = tiny / "f.txt";
  std::ofstream(f) << "F";
  ScriptedFileOperationUI ui;
  ui.deleteAnswers = {true, true};
  ui.permanentAnswers = {false, true};
  FileOperationResult r = RunOp(FO_DELETE, {f}, "", FOF_ALLOWUNDO, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.aborted);  // declined
  ASSERT_EQ(ui.permanentCalls.size(), 1u);
  EXPECT_EQ(ui.permanentCalls[0], f);
  EXPECT_TRUE(Exists(f));
  r = RunOp(FO_DELETE, {f}, "", FOF_ALLOWUNDO, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(r.aborted);
  EXPECT_FALSE(Exists(f));
}

TEST(FileOperation, JournalRecordsWhatWasDone) {
  TempDir src, dst;
  std::string a = src.file("a.txt", "A");
  std::string d = src.dir("d");
  src.file("d/in", "I");
  FileOperationJournal& journal = FileOperationJournal::Instance();
  journal.Clear();
  ScriptedFileOperationUI ui;

  EXPECT_EQ(RunOp(FO_COPY, {a, d}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_TRUE(journal.CanUndo());
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_TRUE(Names(dst.path()).empty());  // the copies went, the sources stayed
  EXPECT_EQ(ReadWholeFile(a), "A");

  // Copied into a folder that was there: only what the copy made is undone.
  dst.dir("d");
  dst.file("d/mine", "M");
  EXPECT_EQ(RunOp(FO_COPY, {d}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_EQ(Names(dst / "d"), std::vector<std::string>{"mine"});

  EXPECT_EQ(RunOp(FO_MOVE, {a}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(a), "A");
  EXPECT_FALSE(Exists(dst / "a.txt"));

  // Nothing done, nothing recorded.
  dst.file("a.txt", "other");
  ui.replaceAnswers = {ConflictAnswer::No};
  EXPECT_EQ(RunOp(FO_COPY, {a}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_EQ(RunOp(FO_COPY, {a}, src.path(), 0, ui).code, 0);
  EXPECT_FALSE(journal.CanUndo());
}

}  // namespace
