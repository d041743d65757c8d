// The engine while other programs and mounts change things underneath: a
// save during a move, a source written while copied, folders that cannot be
// searched, into itself through a bind mount, sparse files, pipes and
// sockets, hard links, and the job's own results.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

namespace {

bool SecondFileSystem(const TempDir& disk, const ShmDir& shm) {
  return !shm.path().empty() && DeviceOf(disk.path()) != DeviceOf(shm.path());
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// As editors save: a new file beside it, renamed over the old one.
void SaveAsEditorsDo(const std::string& path, const std::string& data) {
  std::string swap = path.substr(0, path.rfind('/') + 1) + ".doc.swp";
  WriteFile(swap, data);
  rename(swap.c_str(), path.c_str());
}

TEST(FileOperationSafety, AnEditorsSaveDuringAMoveAcrossFileSystemsIsNeverLost) {
  TempDir disk;
  ShmDir shm;
  if (!SecondFileSystem(disk, shm)) GTEST_SKIP() << "/dev/shm is not a second file system here";
  const std::string saved = "the version saved while the move ran";
  for (bool inFolder : {false, true}) {
    SCOPED_TRACE(inFolder ? "doc in a moved folder" : "doc moved itself");
    std::string top = inFolder ? disk.dir("T") : disk / "doc";
    std::string doc = inFolder ? disk / "T/doc" : top;
    WriteFile(doc, PatternData(48 << 20, 5));
    if (inFolder) WriteFile(disk / "T/other", "other");
    std::string target = shm / (inFolder ? "T/doc" : "doc");
    ScriptedFileOperationUI ui;
    ui.defaultError = ErrorAnswer::Skip;
    FileOperationResult r;
    {
      OnRead save(doc, [&](int) { SaveAsEditorsDo(doc, saved); });
      if (!save.active()) GTEST_SKIP() << "fanotify is not permitted here";
      r = RunOp(FO_MOVE, {top}, shm.path(), 0, ui);
      EXPECT_EQ(save.acted(), 1);
    }
    // The saved version is somewhere, whole; a success means it moved.
    bool atSource = Exists(doc) && ReadWholeFile(doc) == saved;
    bool atTarget = Exists(target) && ReadWholeFile(target) == saved;
    EXPECT_TRUE(atSource || atTarget);
    if (r.code == 0) {
      EXPECT_TRUE(atTarget);
      EXPECT_FALSE(Exists(doc));
    }
    EXPECT_FALSE(HasPartFiles(shm.path()));
    std::filesystem::remove_all(top);
    std::filesystem::remove_all(shm / (inFolder ? "T" : "doc"));
  }
}

TEST(FileOperationSafety, ASourceWrittenWhileCopiedIsCopiedAgainOrReported) {
  TempDir src, dst;
  std::string file = src / "log.bin";
  std::string data = PatternData(32 << 20, 9);
  WriteFile(file, data);
  // Appended to while the engine reads it, after it looked at its size.
  auto append = [](int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0) (void)!pwrite(fd, "appended", 8, st.st_size);
  };
  {
    // Written once: copied once more, as it is now.
    ScriptedFileOperationUI ui;
    FileOperationResult r;
    {
      OnRead write(file, append);
      if (!write.active()) GTEST_SKIP() << "fanotify is not permitted here";
      r = RunOp(FO_COPY, {file}, dst.path(), 0, ui);
      EXPECT_EQ(write.acted(), 1);
    }
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(ReadWholeFile(dst / "log.bin") == data + "appended") << "the copy mixes old and new";
    EXPECT_TRUE(ui.errorCalls.empty());
  }
  {
    // Written at every attempt: an error, never a success, and no mixed copy.
    std::filesystem::remove(dst / "log.bin");
    ScriptedFileOperationUI ui;
    ui.defaultError = ErrorAnswer::Skip;
    FileOperationResult r;
    {
      OnRead write(file, append, 1000);
      r = RunOp(FO_COPY, {file}, dst.path(), 0, ui);
    }
    EXPECT_EQ(r.code, FO_ERROR_FAILED);
    ASSERT_EQ(ui.errorCalls.size(), 1u);
    EXPECT_EQ(ui.errorCalls[0].path, file);
    EXPECT_FALSE(Exists(dst / "log.bin"));
    EXPECT_FALSE(HasPartFiles(dst.path()));
  }
}

TEST(FileOperationSafety, EntriesThatCannotBeLookedUpAreAskedAbout) {
  TempDir disk;
  ShmDir shm;
  if (!SecondFileSystem(disk, shm)) GTEST_SKIP() << "/dev/shm is not a second file system here";
  ASSERT_EQ(chown(disk.path().c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(shm.path().c_str(), 65534, 65534), 0);
  FileOperationResult copied, moved;
  ScriptedFileOperationUI copyUI, moveUI;
  copyUI.defaultError = moveUI.defaultError = ErrorAnswer::Skip;
  bool ran = RunAsNobody([&] {
    // Listed but not searched: names can be read, the entries not looked up.
    std::string f = disk.dir("s/F");
    disk.file("s/F/a", "a");
    disk.file("s/F/b", "b");
    chmod(f.c_str(), 0444);
    disk.dir("d");
    copied = RunOp(FO_COPY, {f}, disk / "d", 0, copyUI);
    moved = RunOp(FO_MOVE, {f}, shm.path(), 0, moveUI);
  });
  if (!ran) GTEST_SKIP() << "cannot act as user 65534 here";
  EXPECT_EQ(copied.code, FO_ERROR_FAILED);
  ASSERT_EQ(copyUI.errorCalls.size(), 2u);
  EXPECT_EQ(copyUI.errorCalls[0].error, EACCES);
  EXPECT_EQ(moved.code, FO_ERROR_FAILED);
  ASSERT_EQ(moveUI.errorCalls.size(), 2u);
  EXPECT_EQ(moveUI.errorCalls[1].error, EACCES);
  // Nothing lost: the source keeps both files.
  EXPECT_EQ(Names(disk / "s/F"), (std::vector<std::string>{"a", "b"}));
}

TEST(FileOperationSafety, IntoItselfThroughABindMountIsRefused) {
  TempDir tmp;
  tmp.dir("A/sub");
  tmp.file("A/f", "f");
  tmp.dir("B");
  BindMount bind(tmp / "A/sub", tmp / "B");
  if (!bind.mounted()) GTEST_SKIP() << "bind mounts are not permitted here";
  for (uint32_t function : {FO_COPY, FO_MOVE}) {
    ScriptedFileOperationUI ui;
    FileOperationResult r = RunOp(function, {tmp / "A"}, tmp / "B", 0, ui);
    EXPECT_EQ(r.code, FO_ERROR_BAD_REQUEST);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(Names(tmp / "A/sub").empty());
    EXPECT_EQ(ReadWholeFile(tmp / "A/f"), "f");
  }
}

TEST(FileOperationSafety, SparseFilesKeepTheirHoles) {
  TinyMount tiny("size=64m");
  if (!tiny.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  TempDir src;
  std::string file = src / "sparse.img";
  const off_t size = off_t(256) << 20, far = off_t(200) << 20;
  std::string head = PatternData(1 << 20, 1), tail = PatternData(1 << 20, 2);
  int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), ssize_t(head.size()));
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), far), ssize_t(tail.size()));
  close(fd);
  if (Lstat(file).st_blocks * 512 > (8 << 20)) GTEST_SKIP() << "this file system keeps no holes";

  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {file}, tiny.path(), 0, ui).code, 0);
  struct stat st = Lstat(tiny / "sparse.img");
  EXPECT_EQ(st.st_size, size);
  EXPECT_LE(st.st_blocks * 512, 8 << 20);
  std::string back(1 << 20, '\0');
  fd = open((tiny / "sparse.img").c_str(), O_RDONLY);
  ASSERT_EQ(pread(fd, back.data(), back.size(), 0), ssize_t(back.size()));
  EXPECT_TRUE(back == head);
  ASSERT_EQ(pread(fd, back.data(), back.size(), far), ssize_t(back.size()));
  EXPECT_TRUE(back == tail);
  ASSERT_EQ(pread(fd, back.data(), back.size(), far - (1 << 20)), ssize_t(back.size()));
  EXPECT_EQ(back, std::string(1 << 20, '\0'));
  close(fd);
}

// A socket bound at path (kept open by the returned descriptor).
int MakeSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(FileOperationSafety, PipesMoveAndLeftoverSocketsMakeTheResultAFailure) {
  TempDir disk;
  ShmDir shm;
  if (!SecondFileSystem(disk, shm)) GTEST_SKIP() << "/dev/shm is not a second file system here";
  disk.dir("t");
  disk.file("t/a", "a");
  ASSERT_EQ(mkfifo((disk / "t/pipe").c_str(), 0640), 0);
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_MOVE, {disk / "t"}, shm.path(), 0, ui).code, 0);
  EXPECT_FALSE(Exists(disk / "t"));
  EXPECT_TRUE(S_ISFIFO(Lstat(shm / "t/pipe").st_mode));
  EXPECT_EQ(Lstat(shm / "t/pipe").st_mode & 07777, 0640u);
  EXPECT_TRUE(ui.messages.empty());

  // A socket cannot go along: told, and the folder stays with it.
  int sock = MakeSocket(shm / "t/sock");
  ASSERT_GE(sock, 0);
  FileOperationResult r = RunOp(FO_MOVE, {shm / "t"}, disk.path(), 0, ui);
  close(sock);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(shm / "t/sock"), std::string::npos);
  EXPECT_EQ(Names(shm / "t"), std::vector<std::string>{"sock"});
  EXPECT_EQ(Names(disk / "t"), (std::vector<std::string>{"a", "pipe"}));
}

TEST(FileOperationSafety, HardLinksInATreeStayLinked) {
  TempDir disk;
  ShmDir shm;
  disk.dir("s/T/sub");
  disk.file("s/T/a", "linked");
  ASSERT_EQ(link((disk / "s/T/a").c_str(), (disk / "s/T/sub/b").c_str()), 0);
  disk.file("s/T/c", "alone");
  disk.dir("d");
  FileOperationJournal::Instance().Clear();
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {disk / "s/T"}, disk / "d", FOF_ALLOWUNDO, ui).code, 0);
  struct stat a = Lstat(disk / "d/T/a"), b = Lstat(disk / "d/T/sub/b");
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_nlink, 2u);
  EXPECT_NE(a.st_ino, Lstat(disk / "s/T/a").st_ino);
  EXPECT_EQ(Lstat(disk / "d/T/c").st_nlink, 1u);
  // The journal knows the copy as it was left, links and all.
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(disk / "d/T"));

  if (!SecondFileSystem(disk, shm)) return;
  EXPECT_EQ(RunOp(FO_MOVE, {disk / "s/T"}, shm.path(), 0, ui).code, 0);
  EXPECT_FALSE(Exists(disk / "s/T"));
  EXPECT_EQ(Lstat(shm / "T/a").st_ino, Lstat(shm / "T/sub/b").st_ino);
  EXPECT_EQ(ReadWholeFile(shm / "T/sub/b"), "linked");
  EXPECT_TRUE(ui.errorCalls.empty());
}

TEST(FileOperationSafety, WhatTheJobPutThereItselfIsNeverReplaced) {
  TempDir tmp;
  tmp.dir("a");
  tmp.dir("b");
  tmp.dir("d");
  tmp.dir("e");
  for (uint32_t function : {FO_MOVE, FO_COPY}) {
    SCOPED_TRACE(function == FO_MOVE ? "move" : "copy");
    tmp.file("a/x", "from a");
    tmp.file("b/x", "from b");
    std::string into = tmp / (function == FO_MOVE ? "d" : "e");
    ScriptedFileOperationUI ui;
    ui.replaceAnswers = {ConflictAnswer::Yes};
    ui.defaultError = ErrorAnswer::Skip;
    FileOperationResult r = RunOp(function, {tmp / "a/x", tmp / "b/x"}, into, 0, ui);
    EXPECT_EQ(r.code, FO_ERROR_FAILED);
    EXPECT_TRUE(ui.replaceCalls.empty()) << "replacing was offered";
    ASSERT_EQ(ui.errorCalls.size(), 1u);
    EXPECT_EQ(ui.errorCalls[0].path, into + "/x");
    EXPECT_EQ(ui.errorCalls[0].error, EEXIST);
    EXPECT_EQ(ReadWholeFile(into + "/x"), "from a");
    EXPECT_EQ(ReadWholeFile(tmp / "b/x"), "from b");
  }
}

}  // namespace
