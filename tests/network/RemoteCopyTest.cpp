// The file engine between local folders and sftp locations, on the FUSE path
// GVfs gives a mounted location: copies both ways with a conflict and undo, a
// move between two remote folders, and a server that dies during a copy.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "NetworkServers.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/CopyFile.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/Location.h"

namespace {

struct NoQuestions : network::MountQuestions {
  bool AskPassword(const network::PasswordRequest&, network::PasswordAnswer&) override { return false; }
  int AskChoice(const std::string&, const std::vector<std::string>&) override { return -1; }
  bool AcceptHostKey(const std::string&, const std::string&, const std::string&) override { return false; }
};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

int RunOperation(uint32_t function, const std::vector<std::string>& from, const std::string& to, uint32_t flags) {
  SHFILEOPSTRUCT op;
  op.wFunc = function;
  for (const std::string& path : from) op.pFrom += path + '\0';
  op.pFrom += '\0';
  op.pTo = to + '\0';
  op.fFlags = flags | FOF_SILENT;
  return SHFileOperation(op);
}

class RemoteCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
    FileOperationJournal::Instance().Clear();
  }
  void TearDown() override {
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  // A fresh folder on the server, and its FUSE path once mounted.
  std::string Remote(const std::string& name, int port = 0) {
    const std::string folder = servers.Remote() + "/" + name;
    std::filesystem::remove_all(folder);
    ::mkdir(folder.c_str(), 0755);
    const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder, port);
    NoQuestions questions;
    network::MountResult mounted = network::MountLocation(uri, questions);
    EXPECT_TRUE(mounted.ok) << mounted.message;
    return network::ReachableLocalPath(uri);
  }

  // What the job reported, for a failure's message.
  std::string Why() const {
    std::string why;
    for (const auto& call : ui.errorCalls)
      why += call.action + " " + call.path + " " + std::to_string(call.error) + "\n";
    for (const std::string& message : ui.messages) why += message + "\n";
    return why;
  }

  NetworkServers& servers = NetworkServers::Get();
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
};

}  // namespace

TEST_F(RemoteCopyTest, CopiesBothWaysWithAConflictAndUndo) {
  const std::string remote = Remote("both");
  ASSERT_FALSE(remote.empty());
  const std::string server = servers.Remote() + "/both";
  std::ofstream(server + "/same.txt") << "old on the server";
  TempDir local;
  const std::string same = local.file("same.txt", "new from here");
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 4096);
  const std::string up = local.file("up.bin", big);

  ui.replaceAnswers = {ConflictAnswer::Yes};
  ASSERT_EQ(RunOperation(FO_COPY, {same, up}, remote, FOF_ALLOWUNDO), 0);
  ASSERT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(ui.replaceCalls[0].existing.size, std::string("old on the server").size());
  EXPECT_EQ(ReadWholeFile(server + "/same.txt"), "new from here");
  EXPECT_EQ(ReadWholeFile(server + "/up.bin"), big);

  // Undo takes the copy away again, on the server itself.
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0) << (ui.messages.empty() ? "" : ui.messages[0]);
  EXPECT_FALSE(Exists(server + "/up.bin"));

  // And down: a conflict with a local file answered no keeps it.
  std::ofstream(server + "/down.txt") << "from the server";
  const std::string keep = local.file("down.txt", "mine");
  ui.replaceAnswers = {ConflictAnswer::No};
  RunOperation(FO_COPY, {remote + "/down.txt"}, local.path(), FOF_ALLOWUNDO);
  EXPECT_EQ(ReadWholeFile(keep), "mine");
  ::unlink(keep.c_str());
  ASSERT_EQ(RunOperation(FO_COPY, {remote + "/down.txt"}, local.path(), FOF_ALLOWUNDO), 0);
  EXPECT_EQ(ReadWholeFile(keep), "from the server");
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(keep));
  EXPECT_TRUE(Exists(server + "/down.txt"));
}

TEST_F(RemoteCopyTest, MovesBetweenTwoRemoteFolders) {
  const std::string a = Remote("from");
  const std::string b = Remote("to");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  std::ofstream(servers.Remote() + "/from/x.txt") << "moving";
  ::mkdir((servers.Remote() + "/from/sub").c_str(), 0755);
  std::ofstream(servers.Remote() + "/from/sub/y.txt") << "along";
  ASSERT_EQ(RunOperation(FO_MOVE, {a + "/x.txt", a + "/sub"}, b, FOF_ALLOWUNDO), 0) << Why();
  EXPECT_EQ(ReadWholeFile(servers.Remote() + "/to/x.txt"), "moving");
  EXPECT_EQ(ReadWholeFile(servers.Remote() + "/to/sub/y.txt"), "along");
  EXPECT_FALSE(Exists(servers.Remote() + "/from/x.txt"));
  EXPECT_FALSE(Exists(servers.Remote() + "/from/sub"));
  // Undo brings them back.
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(servers.Remote() + "/from/x.txt"), "moving");
  EXPECT_FALSE(Exists(servers.Remote() + "/to/x.txt"));
}

TEST_F(RemoteCopyTest, AServerKilledMidCopyIsReportedAndLeavesNoPartialFile) {
  SshServer dying;
  std::string why;
  ASSERT_TRUE(dying.Start(servers.Root(), why)) << why;
  const std::string remote = Remote("dying", dying.Port());
  ASSERT_FALSE(remote.empty());
  const std::string server = servers.Remote() + "/dying";
  TempDir local;
  std::string data(120 << 20, '\0');
  for (size_t i = 0; i < data.size(); i += 4096) data[i] = static_cast<char>(i >> 12);
  const std::string source = local.file("large.bin", data);

  ui.defaultError = ErrorAnswer::Cancel;
  auto copy = std::async(std::launch::async, [&] { return RunOperation(FO_COPY, {source}, remote, FOF_ALLOWUNDO); });
  // Killed once the server has taken a part of it, under whatever name.
  auto written = [&] {
    uint64_t bytes = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(server, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_regular_file(error)) bytes += it->file_size(error);
    }
    return bytes;
  };
  for (int waited = 0; waited < 30000 && written() < (4u << 20); waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(written(), 4u << 20);
  dying.Kill();
  ASSERT_EQ(copy.wait_for(std::chrono::seconds(120)), std::future_status::ready);
  EXPECT_NE(copy.get(), 0);
  EXPECT_FALSE(ui.errorCalls.empty() && ui.messages.empty());
  EXPECT_FALSE(Exists(server + "/large.bin"));
  EXPECT_EQ(ReadWholeFile(source), data);
}

TEST_F(RemoteCopyTest, DeleteAsksBeforeDeletingForGoodWhereTheServerHasNoTrash) {
  const std::string remote = Remote("trashless");
  ASSERT_FALSE(remote.empty());
  const std::string server = servers.Remote() + "/trashless";
  std::ofstream(server + "/keep.txt") << "keep";
  std::ofstream(server + "/gone.txt") << "gone";
  // No is kept.
  ui.deleteAnswers = {true};
  ui.permanentAnswers = {false};
  RunOperation(FO_DELETE, {remote + "/keep.txt"}, "", FOF_ALLOWUNDO);
  EXPECT_EQ(ReadWholeFile(server + "/keep.txt"), "keep");
  ASSERT_EQ(ui.permanentCalls.size(), 1u);
  // Yes deletes it on the server.
  ui.deleteAnswers = {true};
  ui.permanentAnswers = {true};
  EXPECT_EQ(RunOperation(FO_DELETE, {remote + "/gone.txt"}, "", FOF_ALLOWUNDO), 0);
  EXPECT_EQ(ui.permanentCalls.size(), 2u);
  EXPECT_FALSE(Exists(server + "/gone.txt"));
}

TEST_F(RemoteCopyTest, CopiesThroughGioKeepModeAndTimeAndLeaveNoPart) {
  const std::string remote = Remote("gio");
  ASSERT_FALSE(remote.empty());
  const std::string server = servers.Remote() + "/gio";
  TempDir local;
  std::string data(5 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 1000);
  const std::string up = local.file("private.bin", data);
  ::chmod(up.c_str(), 0600);
  struct timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
  ::utimensat(AT_FDCWD, up.c_str(), old, 0);
  // Counted on the way to GIO: the data must go that way, not through FUSE.
  std::vector<int> results;
  SetForeignCopier([&](const std::string& from, const std::string& to, const std::atomic<bool>& cancel,
                       const std::function<void(uint64_t)>& progress) {
    results.push_back(network::CopyThroughGio(from, to, cancel, progress));
    return results.back();
  });
  struct Restore {
    ~Restore() { SetForeignCopier(network::CopyThroughGio); }
  } restore;
  ASSERT_EQ(RunOperation(FO_COPY, {up}, remote, FOF_ALLOWUNDO), 0) << Why();
  EXPECT_EQ(results, std::vector<int>{0});
  struct stat st {};
  ASSERT_EQ(::stat((server + "/private.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  EXPECT_EQ(ReadWholeFile(server + "/private.bin"), data);

  // And down again under another name, a copy of a name that is taken.
  ASSERT_EQ(RunOperation(FO_COPY, {remote + "/private.bin"}, local.path(), FOF_ALLOWUNDO | FOF_RENAMEONCOLLISION), 0);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(local.path())) {
    ++files;
    EXPECT_EQ(entry.path().filename().string().rfind(".tolvane-part-", 0), std::string::npos) << entry.path();
    EXPECT_EQ(ReadWholeFile(entry.path().string()), data) << entry.path();
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  }
  EXPECT_EQ(files, 2);
  EXPECT_EQ(results, (std::vector<int>{0, 0}));
  for (const auto& entry : std::filesystem::directory_iterator(server))
    EXPECT_EQ(entry.path().filename().string().rfind(".tolvane-part-", 0), std::string::npos) << entry.path();
  // Undo takes the copy down away, and only it.
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_TRUE(Exists(up));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local.path()), std::filesystem::directory_iterator()), 1);
}
