// The file search on trees the tests make: names, text in each encoding,
// sizes, dates, hidden files, link loops, unreadable folders and stopping.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "TempDir.h"
#include "platform/search/FileSearch.h"

namespace {

using Names = std::set<std::string>;

// Runs a query to its end and gives the hits' paths below the root.
struct Outcome {
  Names hits;
  std::vector<std::string> unreadable;
  SearchProgress progress;
  std::string error;
  size_t batches = 0;
};

Outcome Search(const SearchQuery& query, FileSearch::NameFilter names = {}) {
  Outcome run;
  std::mutex mutex;
  FileSearch search(query, std::move(names), [&](std::vector<SearchHit>&& hits) {
    std::lock_guard lock(mutex);
    ++run.batches;
    for (const SearchHit& hit : hits) run.hits.insert(hit.path.substr(query.folder.size() + 1));
  });
  if (!search.Start()) {
    run.error = search.Error();
    return run;
  }
  search.Wait();
  run.progress = search.Progress();
  run.unreadable = search.UnreadableFolders();
  return run;
}

SearchQuery TextQuery(const std::string& root, const std::string& text, TextEncoding encoding) {
  SearchQuery q;
  q.folder = root;
  q.text = text;
  q.encoding = encoding;
  return q;
}

void SetMTime(const std::string& path, time_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// 検索 in each encoding; the CP932 bytes are not valid UTF-8.
const std::string kWordUtf8 = "\xE6\xA4\x9C\xE7\xB4\xA2";
const std::string kWordCp932 = "\x8C\x9F\x8D\xF5";
const std::string kWordEucJp = "\xB8\xA1\xBA\xF7";
const std::string kWordUtf16 = std::string("\x1C\x69\x22\x7D", 4);

class FileSearchTest : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(FileSearchTest, NamesThroughTheFilterAndFoldersBelow) {
  dir.dir("a/b");
  dir.file("a/b/deep.jpg");
  dir.file("top.jpg");
  dir.file("top.txt");
  dir.dir("pics.jpg");
  SearchQuery q;
  q.folder = dir.path();
  Outcome all = Search(q);
  EXPECT_EQ(all.hits, (Names{"a", "a/b", "a/b/deep.jpg", "top.jpg", "top.txt", "pics.jpg"}));
  EXPECT_EQ(all.progress.folders, 4u);
  Outcome jpg =
      Search(q, [](std::string_view name) { return name.size() > 4 && name.substr(name.size() - 4) == ".jpg"; });
  EXPECT_EQ(jpg.hits, (Names{"a/b/deep.jpg", "top.jpg", "pics.jpg"}));
}

TEST_F(FileSearchTest, TextInEveryEncodingAndAutomatic) {
  dir.file("utf8.txt", "head " + kWordUtf8 + " tail");
  dir.file("cp932.txt", "head " + kWordCp932 + " tail");
  dir.file("eucjp.txt", "head " + kWordEucJp + " tail");
  dir.file("utf16.txt", std::string("\xFF\xFE", 2) + kWordUtf16);
  dir.file("none.txt", "nothing here");
  EXPECT_EQ(Search(TextQuery(dir.path(), kWordUtf8, TextEncoding::Utf8)).hits, Names{"utf8.txt"});
  EXPECT_EQ(Search(TextQuery(dir.path(), kWordUtf8, TextEncoding::Cp932)).hits, Names{"cp932.txt"});
  EXPECT_EQ(Search(TextQuery(dir.path(), kWordUtf8, TextEncoding::EucJp)).hits, Names{"eucjp.txt"});
  EXPECT_EQ(Search(TextQuery(dir.path(), kWordUtf8, TextEncoding::Utf16)).hits, Names{"utf16.txt"});
  EXPECT_EQ(Search(TextQuery(dir.path(), kWordUtf8, TextEncoding::Auto)).hits,
            (Names{"utf8.txt", "cp932.txt", "eucjp.txt", "utf16.txt"}));
}

TEST_F(FileSearchTest, CaseAndRegularExpressions) {
  dir.file("upper.txt", "Hello WORLD\nsecond line");
  dir.file("lower.txt", "hello world");
  dir.file("cp932.txt", "id=" + kWordCp932 + "42\n");
  SearchQuery q = TextQuery(dir.path(), "world", TextEncoding::Auto);
  EXPECT_EQ(Search(q).hits, (Names{"upper.txt", "lower.txt"}));
  q.matchCase = true;
  EXPECT_EQ(Search(q).hits, Names{"lower.txt"});

  q.regex = true;
  q.matchCase = false;
  q.text = "^second\\s+LINE$";
  EXPECT_EQ(Search(q).hits, Names{"upper.txt"});
  // The file is decoded before the expression sees it.
  q.text = kWordUtf8 + "\\d+";
  EXPECT_EQ(Search(q).hits, Names{"cp932.txt"});
  q.text = "([unclosed";
  EXPECT_FALSE(Search(q).error.empty());
}

TEST_F(FileSearchTest, TextAcrossBlocksAndBinaryFiles) {
  // The word straddles the first 1 MB block's end.
  std::string big(TextMatcher::kBlockSize - 2, 'x');
  dir.file("straddle.txt", big + "needle" + std::string(100, 'y'));
  dir.file("binary.bin", std::string("\0\x01\x02needle", 9));
  SearchQuery q = TextQuery(dir.path(), "needle", TextEncoding::Utf8);
  EXPECT_EQ(Search(q).hits, Names{"straddle.txt"});
  q.binary = true;
  EXPECT_EQ(Search(q).hits, (Names{"straddle.txt", "binary.bin"}));
  q.regex = true;
  EXPECT_EQ(Search(q).hits, (Names{"straddle.txt", "binary.bin"}));
}

TEST_F(FileSearchTest, SizeAndDateRanges) {
  dir.file("small", std::string(10, 'a'));
  dir.file("medium", std::string(1000, 'a'));
  dir.file("large", std::string(5000, 'a'));
  dir.dir("folder");
  SetMTime(dir / "small", 1000000000);
  SetMTime(dir / "medium", 1500000000);
  SetMTime(dir / "large", 1700000000);
  SetMTime(dir / "folder", 1500000000);
  SearchQuery q;
  q.folder = dir.path();
  q.minSize = 100;
  q.maxSize = 1000;
  EXPECT_EQ(Search(q).hits, Names{"medium"});
  q.minSize = q.maxSize = -1;
  q.modifiedFrom = 1400000000;
  q.modifiedTo = 1600000000;
  EXPECT_EQ(Search(q).hits, (Names{"medium", "folder"}));
  q.modifiedTo = 1500000000;  // the end is not part of the range
  EXPECT_EQ(Search(q).hits, Names{});
}

TEST_F(FileSearchTest, HiddenFilesAndFoldersOnlyWhenAsked) {
  dir.file(".hidden.txt");
  dir.dir(".config");
  dir.file(".config/inside.txt");
  dir.file("shown.txt");
  SearchQuery q;
  q.folder = dir.path();
  EXPECT_EQ(Search(q).hits, Names{"shown.txt"});
  q.hidden = true;
  EXPECT_EQ(Search(q).hits, (Names{".hidden.txt", ".config", ".config/inside.txt", "shown.txt"}));
}

TEST_F(FileSearchTest, LinkLoopsAreWalkedOnce) {
  dir.dir("a/b");
  dir.file("a/b/file.txt", "needle");
  ASSERT_EQ(symlink("../..", (dir / "a/b/up").c_str()), 0);
  ASSERT_EQ(symlink("b", (dir / "a/again").c_str()), 0);
  SearchQuery q = TextQuery(dir.path(), "needle", TextEncoding::Utf8);
  q.followLinks = true;
  Outcome run = Search(q);
  EXPECT_EQ(run.hits.size(), 1u);  // a/b/file.txt, or the same file through a/again
  EXPECT_EQ(run.progress.folders, 3u);
  // Without following, a link is a name like any other and never read.
  q.followLinks = false;
  q.text.clear();
  Outcome names = Search(q, [](std::string_view n) { return n == "up" || n == "again"; });
  EXPECT_EQ(names.hits, (Names{"a/b/up", "a/again"}));
}

TEST_F(FileSearchTest, UnreadableFoldersAreCountedAndListed) {
  dir.dir("open");
  dir.file("open/seen.txt");
  dir.dir("closed");
  dir.file("closed/unseen.txt");
  chmod(dir.path().c_str(), 0755);
  chmod((dir / "open").c_str(), 0755);
  chmod((dir / "closed").c_str(), 0);
  SearchQuery q;
  q.folder = dir.path();
  auto check = [&]() -> int {
    Outcome run = Search(q);
    int bad = 0;
    if (run.hits != Names{"open", "open/seen.txt", "closed"}) bad |= 1;
    if (run.progress.unreadable != 1) bad |= 2;
    if (run.unreadable != std::vector<std::string>{dir / "closed"}) bad |= 4;
    return bad;
  };
  if (geteuid() != 0) {
    EXPECT_EQ(check(), 0);
    return;
  }
  // Root reads every folder: the search runs as nobody in a child.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(check());
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FileSearchTest, CancelStopsALargeSearchWithin100ms) {
  // Many folders of text without the word: the search would read them all.
  const std::string chunk(64 * 1024, 'z');
  for (int d = 0; d < 40; ++d) {
    std::string folder = dir.dir("d" + std::to_string(d));
    for (int f = 0; f < 40; ++f) dir.file("d" + std::to_string(d) + "/f" + std::to_string(f), chunk);
  }
  SearchQuery q = TextQuery(dir.path(), "needle", TextEncoding::Auto);
  q.regex = true;  // the slowest way through the files
  std::atomic<int> callbacks{0};
  FileSearch search(q, {}, [&](std::vector<SearchHit>&&) { ++callbacks; });
  ASSERT_TRUE(search.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(search.Running());
  const auto start = std::chrono::steady_clock::now();
  search.Cancel();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 100);
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(callbacks.load(), 0);
}

// A small tmpfs at mountPoint, in a mount namespace of this process alone
// (meant for a forked child); false when the system allows no such thing.
bool MountPrivateTmpfs(const std::string& mountPoint) {
  if (unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  // Nothing mounted here reaches the namespace the tests run in.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  return mount("tolvane-test", mountPoint.c_str(), "tmpfs", 0, "size=1m") == 0;
}

// A mount point of this machine on another file system than its parent
// folder, which is neither "/" nor in /proc (a walk there would take long),
// and a name inside it; false when there is none.
bool ExistingMountPoint(std::string& parent, std::string& point, std::string& name) {
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parentId, devices, root;
    if (!(fields >> id >> parentId >> devices >> root >> point) || point.find('\\') != std::string::npos) continue;
    const std::string up = point.substr(0, point.rfind('/'));
    struct stat inner, outer;
    if (up.empty() || up.rfind("/proc", 0) == 0 || lstat(point.c_str(), &inner) != 0 ||
        lstat(up.c_str(), &outer) != 0 || inner.st_dev == outer.st_dev || access(up.c_str(), R_OK | X_OK) != 0)
      continue;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(point, ec)) {
      if (entry.path().filename().string()[0] == '.') continue;  // hidden names are not searched
      parent = up;
      name = entry.path().filename().string();
      return true;
    }
  }
  return false;
}

TEST_F(FileSearchTest, OtherFileSystemsOnlyWhenAsked) {
  dir.file("here.txt");
  const std::string mountPoint = dir.dir("mnt");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!MountPrivateTmpfs(mountPoint)) _exit(77);
    std::ofstream(mountPoint + "/inside.txt") << "x";
    SearchQuery q;
    q.folder = dir.path();
    Outcome stay = Search(q);
    q.crossFileSystems = true;
    Outcome cross = Search(q);
    int bad = 0;
    if (stay.hits != Names{"here.txt", "mnt"}) bad |= 1;  // the mount point is a name of this file system
    if (cross.hits != (Names{"here.txt", "mnt", "mnt/inside.txt"})) bad |= 2;
    _exit(bad);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) != 77) {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: crossed into the mount; 2: did not enter it when asked";
    return;
  }
  // No mount of our own: a mount point the machine already has.
  std::string parent, point, name;
  if (!ExistingMountPoint(parent, point, name))
    GTEST_SKIP() << "no private mount namespace allowed, and no mount point below a small folder";
  SearchQuery q;
  q.folder = parent;
  auto wanted = [name](std::string_view n) { return n == name; };
  const std::string inside = point.substr(parent.size() + 1) + "/" + name;
  EXPECT_EQ(Search(q, wanted).hits.count(inside), 0u) << "crossed into " << point;
  q.crossFileSystems = true;
  EXPECT_EQ(Search(q, wanted).hits.count(inside), 1u) << "did not enter " << point;
}

TEST_F(FileSearchTest, MissingFolderIsAnError) {
  SearchQuery q;
  q.folder = dir / "gone";
  EXPECT_NE(Search(q).error.find("見つかりません"), std::string::npos);
}

TEST(SearchQueryTest, EncodesToOneLineAndBack) {
  SearchQuery q;
  q.folder = "/tmp/a b&c=d%";
  q.masks = "*.jpg | thumb*";
  q.text = "line\none";
  q.regex = true;
  q.encoding = TextEncoding::Cp932;
  q.minSize = 5;
  q.modifiedTo = 1700000000;
  q.crossFileSystems = true;
  const std::string line = q.Encode();
  EXPECT_EQ(line.find('\n'), std::string::npos);
  SearchQuery back;
  ASSERT_TRUE(SearchQuery::Decode(line, back));
  EXPECT_EQ(back, q);
  EXPECT_FALSE(SearchQuery::Decode("masks=*.txt", back));
  EXPECT_FALSE(SearchQuery::Decode("folder=%zz", back));
}

}  // namespace
