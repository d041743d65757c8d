// Trees and names at the limits: a thousand levels under the usual
// descriptor limit, names near 255 bytes, devices and sockets in a tree, and
// part files a crashed copy left behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"

namespace {

// Makes levels nested folders "d" below root with a file at the bottom; the
// path of that file relative to root.
std::string MakeDeepTree(const std::string& root, int levels) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string rel;
  for (int i = 0; i < levels; ++i) {
    mkdirat(fd, "d", 0755);
    int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    rel += "d/";
  }
  int f = openat(fd, "bottom", O_CREAT | O_WRONLY, 0644);
  (void)!write(f, "deep", 4);
  close(f);
  close(fd);
  return rel + "bottom";
}

// Reads a file by a path too long for one call, step by step.
std::string ReadDeep(const std::string& root, const std::string& rel) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  size_t at = 0;
  for (size_t slash; fd >= 0 && (slash = rel.find('/', at)) != std::string::npos; at = slash + 1) {
    int next = openat(fd, rel.substr(at, slash - at).c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  if (fd < 0) return {};
  int f = openat(fd, rel.substr(at).c_str(), O_RDONLY);
  close(fd);
  char buffer[16] = {};
  ssize_t n = f >= 0 ? read(f, buffer, sizeof buffer) : -1;
  if (f >= 0) close(f);
  return n > 0 ? std::string(buffer, n) : std::string();
}

class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    getrlimit(RLIMIT_NOFILE, &old_);
    struct rlimit lower = old_;
    lower.rlim_cur = std::min(soft, old_.rlim_max);
    setrlimit(RLIMIT_NOFILE, &lower);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &old_); }

 private:
  struct rlimit old_;
};

}  // namespace

TEST(TreeLimits, ThousandLevelsCopyAndMoveUnderTheUsualDescriptorLimit) {
  TempDir dir;
  ShmDir other;
  std::string root = dir.dir("deep");
  std::string bottom = MakeDeepTree(root, 1000);
  DescriptorLimit limit(1024);
  struct rlimit hard;
  getrlimit(RLIMIT_NOFILE, &hard);
  if (hard.rlim_max < 4096)
    GTEST_SKIP() << "hard descriptor limit " << hard.rlim_max << " is below what 1,000 levels hold";
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {root}, dir.dir("copy"), 0, ui).code, 0);
  EXPECT_EQ(ReadDeep(dir / "copy/deep", bottom), "deep");
  EXPECT_EQ(RunOp(FO_MOVE, {root}, other.path(), 0, ui).code, 0);
  EXPECT_EQ(ReadDeep(other / "deep", bottom), "deep");
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(ui.errorCalls.empty()) << ui.errorCalls.front().error;
}

TEST(TreeLimits, CopyOfANameNear255BytesIsShortenedKeepingItsExtension) {
  TempDir dir;
  // 82 three-byte characters and ".txt": 250 bytes.
  std::string stem;
  for (int i = 0; i < 82; ++i) stem += "字";
  std::string name = stem + ".txt";
  ASSERT_EQ(name.size(), 250u);
  std::string path = dir.file(name, "long");
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {path}, dir.path(), 0, ui).code, 0);
  EXPECT_EQ(RunOp(FO_COPY, {path}, dir.path(), 0, ui).code, 0);
  std::vector<std::string> names = Names(dir.path());
  ASSERT_EQ(names.size(), 3u);
  int copies = 0;
  for (const std::string& n : names) {
    if (n == name) continue;
    ++copies;
    EXPECT_LE(n.size(), 255u);
    EXPECT_EQ(n.substr(n.size() - 4), ".txt");
    EXPECT_NE(n.find(" - コピー"), std::string::npos) << n;
    EXPECT_EQ(n.compare(0, 3, "字"), 0);
    EXPECT_TRUE(QString::fromUtf8(n.data(), n.size()).toUtf8().toStdString() == n) << "cut inside a character";
    EXPECT_EQ(ReadWholeFile(dir / n), "long");
  }
  EXPECT_EQ(copies, 2);
}

TEST(TreeLimits, DevicesAndSocketsAreNamedAsSkipped) {
  if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  TempDir dir;
  std::string tree = dir.dir("tree");
  dir.file("tree/plain", "p");
  ASSERT_EQ(mknod((tree + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  std::string sock = tree + "/sock";
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock.c_str());
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {tree}, dir.dir("to"), 0, ui).code, FO_ERROR_FAILED);
  close(s);
  EXPECT_EQ(Names(dir / "to/tree"), std::vector<std::string>{"plain"});
  ASSERT_EQ(ui.messages.size(), 1u);
  const std::string& m = ui.messages[0];
  EXPECT_NE(m.find("スキップ"), std::string::npos);
  EXPECT_NE(m.find("/null (キャラクター デバイス)"), std::string::npos) << m;
  EXPECT_NE(m.find("/sock (ソケット)"), std::string::npos) << m;
}

TEST(TreeLimits, StalePartFilesOfOurNamingGoAtTheNextJobIntoTheirFolder) {
  TempDir dir;
  std::string into = dir.dir("into");
  std::string outside = dir.file("outside", "keep me");
  std::string stale = dir.file("into/.tolvane-part-Ab3De6Gh", "crashed");
  std::string fresh = dir.file("into/.tolvane-part-Xy9Zq8Wv", "being written");
  std::string user = dir.file("into/.tolvane-part-notours", "a user's file");
  std::string link = into + "/.tolvane-part-Lk1Lk2Lk";
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  time_t old = time(nullptr) - 120;
  SetMtime(stale, old, 0);
  SetMtime(user, old, 0);
  SetMtime(outside, old, 0);
  SetMtime(link, old, 0);
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {dir.file("new", "n")}, into, 0, ui).code, 0);
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(fresh));
  EXPECT_TRUE(Exists(user));
  EXPECT_TRUE(S_ISLNK(Lstat(link).st_mode));
  EXPECT_EQ(ReadWholeFile(outside), "keep me");
  EXPECT_EQ(ReadWholeFile(into + "/new"), "n");
}
