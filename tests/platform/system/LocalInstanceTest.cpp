// The local socket of the running program: a message handed over and
// answered, a socket left by a crash replaced, nothing of someone else's
// removed, and the runtime folder chosen only when it is private.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <cstring>
#include <future>

#include "EnvGuard.h"
#include "TempDir.h"
#include "platform/system/LocalInstance.h"

namespace {

bool IsSocket(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Hands message over on a worker while this thread runs the server's loop.
THandOver HandOverWhileServing(const std::string& path, const std::string& message, int timeoutMs = 5000) {
  auto result = std::async(std::launch::async, [&] { return HandOverToInstance(path, message, timeoutMs); });
  while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QCoreApplication::processEvents();
  return result.get();
}

// A socket file such as a killed program leaves: bound, then closed unheard.
void LeaveStaleSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

}  // namespace

TEST(LocalInstance, AMessageReachesTheListenerWhichAnswersAndTheSocketGoesWithIt) {
  TempDir dir;
  const std::string path = dir / "s.sock";
  EXPECT_EQ(HandOverToInstance(path, "x", 1000), THandOver::kNoInstance);
  std::vector<std::string> got;
  {
    TInstanceServer server;
    ASSERT_TRUE(server.Listen(path));
    server.OnMessage = [&](const std::string& message) { got.push_back(message); };
    // Bytes of every kind, NULs and all, and more than one read's worth.
    std::string big(100000, '\xff');
    big[5] = '\0';
    EXPECT_EQ(HandOverWhileServing(path, "first"), THandOver::kDelivered);
    EXPECT_EQ(HandOverWhileServing(path, big), THandOver::kDelivered);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "first");
    EXPECT_EQ(got[1], big);
    // A message past the limit is refused, unanswered.
    EXPECT_NE(HandOverWhileServing(path, std::string(TInstanceServer::kMaxMessage + 10, 'a')), THandOver::kDelivered);
    EXPECT_EQ(got.size(), 2u);
  }
  EXPECT_FALSE(IsSocket(path));
  EXPECT_EQ(HandOverToInstance(path, "x", 1000), THandOver::kNoInstance);
}

TEST(LocalInstance, ALeftoverSocketIsReplacedButNothingElseIsRemoved) {
  TempDir dir;
  const std::string path = dir / "s.sock";
  LeaveStaleSocket(path);
  ASSERT_TRUE(IsSocket(path));
  EXPECT_EQ(HandOverToInstance(path, "x", 1000), THandOver::kNoInstance);
  {
    TInstanceServer server;
    EXPECT_TRUE(server.Listen(path));
    EXPECT_EQ(HandOverWhileServing(path, "x"), THandOver::kDelivered);
  }

  // A file that is no socket has the name: it stays, and nobody listens.
  const std::string file = dir.file("taken.sock", "mine");
  TInstanceServer server;
  EXPECT_FALSE(server.Listen(file));
  EXPECT_EQ(ReadWholeFile(file), "mine");

  // A later listener took the name over: the first does not remove its socket.
  const std::string shared = dir / "shared.sock";
  auto first = std::make_unique<TInstanceServer>();
  ASSERT_TRUE(first->Listen(shared));
  ASSERT_EQ(unlink(shared.c_str()), 0);
  TInstanceServer second;
  ASSERT_TRUE(second.Listen(shared));
  first.reset();
  EXPECT_TRUE(IsSocket(shared));
  EXPECT_EQ(HandOverWhileServing(shared, "x"), THandOver::kDelivered);
}

TEST(LocalInstance, TheSocketLivesInAPrivateRuntimeFolderOnePerStateFolder) {
  TempDir dir;
  const std::string runtime = dir.dir("run");
  chmod(runtime.c_str(), 0700);
  EnvGuard env("XDG_RUNTIME_DIR", runtime);
  EXPECT_EQ(UserRuntimeFolder(), runtime);
  const std::string a = dir.dir("a"), b = dir.dir("b");
  symlink(a.c_str(), (dir / "link").c_str());
  const std::string socket = InstanceSocketPath(a);
  EXPECT_EQ(socket.rfind(runtime + "/tolvane-", 0), 0u);
  EXPECT_EQ(InstanceSocketPath(dir / "link"), socket);  // the same folder by another name
  EXPECT_EQ(InstanceSocketPath(a + "/"), socket);
  EXPECT_NE(InstanceSocketPath(b), socket);

  // A runtime folder others may enter is not used.
  chmod(runtime.c_str(), 0755);
  EXPECT_NE(UserRuntimeFolder(), runtime);
  const std::string fallback = UserRuntimeFolder();
  ASSERT_FALSE(fallback.empty());
  struct stat st;
  ASSERT_EQ(lstat(fallback.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);
}
