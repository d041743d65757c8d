// File-operation benchmark: the engine against cp, mv and trash-put on the same
// files, in the same run; medians of three runs, fresh targets each run, the
// page cache left alone for both sides. Prints key=value lines.
//   bench_FileOpsBench [work folder]   (default: a temporary folder on a disk)
#include <fcntl.h>
#include <spawn.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/fileops/FileOperation.h"

extern char** environ;

#include "BenchUtil.h"
#include "QuietUI.h"

using bench::MakeTemp;
using bench::Median;
using bench::Now;
using bench::QuietUI;
using bench::TimeCommand;
using bench::WorkFolder;

namespace {

constexpr int kRuns = 3;
constexpr int kTreeFiles = 10000, kTreeFolders = 200, kTrashFiles = 1000;
constexpr uint64_t kBigBytes = uint64_t(1) << 30;

double TimeEngine(uint32_t function, const std::vector<std::string>& sources, const std::string& destination,
                  uint32_t flags) {
  QuietUI ui;
  FileOperationRequest request;
  request.function = function;
  request.sources = sources;
  request.destination = destination;
  request.flags = flags;
  double start = Now();
  FileOperationResult result = RunFileOperation(request, &ui);
  double took = Now() - start;
  if (result.code != 0) {
    std::fprintf(stderr, "engine failed: %d\n", result.code);
    return -1;
  }
  return took;
}

bool WriteFile(const std::string& path, const char* data, size_t size) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
  return close(fd) == 0 && ok;
}

std::vector<char> Noise(size_t size, uint64_t seed) {
  std::vector<char> bytes(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x | 1);  // never zero: no holes to skip
  }
  return bytes;
}

// files small files (1 to 8 KiB) in folders folders below dir; the paths.
std::vector<std::string> MakeTree(const std::string& dir, int files, int folders) {
  static const std::vector<char> noise = Noise(8192, 7);
  std::filesystem::create_directories(dir);
  std::vector<std::string> paths;
  char name[64];
  for (int f = 0; f < folders; ++f) {
    std::snprintf(name, sizeof name, "/folder_%03d", f);
    std::string folder = folders > 1 ? dir + name : dir;
    mkdir(folder.c_str(), 0755);
    for (int i = f; i < files; i += folders) {
      std::snprintf(name, sizeof name, "/file_%05d.dat", i);
      size_t size = 1024 + (static_cast<size_t>(i) * 7919) % 7169;
      paths.push_back(folder + name);
      WriteFile(paths.back(), noise.data() + (i % 997), size);
    }
  }
  return paths;
}

// Regular files below dir and their bytes, to see that a side did its work.
std::pair<int, uint64_t> CountFiles(const std::string& dir) {
  int count = 0;
  uint64_t bytes = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) {
      ++count;
      bytes += it->file_size();
    }
  }
  return {count, bytes};
}

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

struct Sides {
  std::vector<double> ours, theirs;
  bool failed = false;
  void Add(double a, double b) {
    failed = failed || a < 0 || b < 0;
    ours.push_back(a);
    theirs.push_back(b);
  }
  void Print(const char* key, const char* tool) const {
    if (failed) {
      std::printf("%s=failed\n", key);
      return;
    }
    double a = Median(ours), b = Median(theirs);
    std::printf("%s=%.3f\n%s_ours_seconds=%.3f\n%s_%s_seconds=%.3f\n", key, a / b, key, a, key, tool, b);
    std::fflush(stdout);
  }
};

// The side that goes first alternates, so neither always meets a busier disk.
template <class A, class B>
void Both(int run, Sides& sides, A ours, B theirs) {
  double a, b;
  sync();
  if (run % 2 == 0) {
    a = ours();
    sync();
    b = theirs();
  } else {
    b = theirs();
    sync();
    a = ours();
  }
  sides.Add(a, b);
}

bool Check(const char* what, std::pair<int, uint64_t> got, std::pair<int, uint64_t> want) {
  if (got == want) return true;
  std::fprintf(stderr, "%s: %d files, %llu bytes; expected %d, %llu\n", what, got.first,
               static_cast<unsigned long long>(got.second), want.first, static_cast<unsigned long long>(want.second));
  return false;
}

// Copies the tree at source against cp -a, kRuns times; check, when given, looks at
// our copy after the first run.
void CompareTreeCopies(const std::string& root, const std::string& source, const std::string& key,
                       const std::function<bool(const std::string&)>& check = {}) {
  const std::string name = std::filesystem::path(source).filename();
  auto want = CountFiles(source);
  Sides sides;
  for (int run = 0; run < kRuns; ++run) {
    std::string ours = root + "/copy_ours", cp = root + "/copy_cp";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(cp);
    Both(
        run, sides, [&] { return TimeEngine(FO_COPY, {source}, ours, FOF_SILENT | FOF_NOCONFIRMATION); },
        [&] {
          return TimeCommand({"cp", "-a", source, cp + "/"});
        });
    if (!Check((key + " ours").c_str(), CountFiles(ours + "/" + name), want) ||
        !Check((key + " cp").c_str(), CountFiles(cp + "/" + name), want))
      sides.failed = true;
    if (run == 0 && check && !check(ours + "/" + name)) {
      std::fprintf(stderr, "%s: attributes lost\n", key.c_str());
      sides.failed = true;
    }
    Remove(ours);
    Remove(cp);
  }
  Remove(source);
  sides.Print((key + "_vs_cp").c_str(), "cp");
}

void CopyTree(const std::string& root) {
  std::string source = root + "/tree";
  MakeTree(source, kTreeFiles, kTreeFolders);
  CompareTreeCopies(root, source, "copy_tree");
}

// The tree again, every file with two extended attributes and an ACL; false
// where the file system takes neither.
bool DressTree(const std::vector<std::string>& paths) {
  acl_t acl = acl_from_text("u::rw-,u:1234:rw-,g::r--,m::rw-,o::r--");
  bool ok = acl != nullptr;
  for (size_t i = 0; ok && i < paths.size(); ++i) {
    std::string value = "value " + std::to_string(i);
    ok = setxattr(paths[i].c_str(), "user.origin", value.data(), value.size(), 0) == 0 &&
         setxattr(paths[i].c_str(), "user.tag", "benchmark", 9, 0) == 0 &&
         acl_set_file(paths[i].c_str(), ACL_TYPE_ACCESS, acl) == 0;
  }
  if (acl) acl_free(acl);
  return ok;
}

void CopyTreeXattr(const std::string& root) {
  std::string source = root + "/dressed";
  if (!DressTree(MakeTree(source, kTreeFiles, kTreeFolders))) {
    std::printf("copy_tree_xattr_vs_cp=skipped\n");
    Remove(source);
    return;
  }
  CompareTreeCopies(root, source, "copy_tree_xattr", [](const std::string& copy) {
    char value[64];
    std::string sample = copy + "/folder_000/file_00000.dat";
    return getxattr(sample.c_str(), "user.tag", value, sizeof value) == 9 &&
           getxattr(sample.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
  });
}

void CopyBig(const std::string& root) {
  std::string source = root + "/big.bin";
  {
    std::vector<char> chunk = Noise(1 << 20, 11);
    int fd = open(source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    for (uint64_t done = 0; fd >= 0 && done < kBigBytes; done += chunk.size()) {
      chunk[done % 4093] ^= 0x5a;  // no two mebibytes alike
      if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) break;
    }
    if (fd >= 0) close(fd);
  }
  const std::pair<int, uint64_t> want{1, kBigBytes};
  Sides sides;
  for (int run = 0; run < kRuns; ++run) {
    std::string ours = root + "/big_ours", cp = root + "/big_cp";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(cp);
    Both(
        run, sides, [&] { return TimeEngine(FO_COPY, {source}, ours, FOF_SILENT | FOF_NOCONFIRMATION); },
        [&] {
          return TimeCommand({"cp", source, cp + "/"});
        });
    if (!Check("copy_big ours", CountFiles(ours), want) || !Check("copy_big cp", CountFiles(cp), want))
      sides.failed = true;
    // Once, the bytes themselves (cmp fails on the first difference).
    if (run == 0 && TimeCommand({"cmp", "-s", source, ours + "/big.bin"}) < 0) sides.failed = true;
    Remove(ours);
    Remove(cp);
    sync();
  }
  Remove(source);
  sides.Print("copy_big_vs_cp", "cp");
}

void MoveCrossFs(const std::string& root) {
  struct stat shm {
  }, disk{};
  if (stat("/dev/shm", &shm) != 0 || stat(root.c_str(), &disk) != 0 || shm.st_dev == disk.st_dev ||
      access("/dev/shm", W_OK) != 0) {
    std::printf("move_cross_fs_vs_mv=skipped\n");
    return;
  }
  std::string memory = MakeTemp("/dev/shm", "tolvane-fileops");
  std::string source = memory + "/tree";
  Sides sides;
  std::pair<int, uint64_t> want;
  for (int run = 0; run < kRuns; ++run) {
    std::string ours = root + "/move_ours", mv = root + "/move_mv";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(mv);
    auto remake = [&] {
      Remove(source);
      MakeTree(source, kTreeFiles, kTreeFolders);
      want = CountFiles(source);
    };
    Both(
        run, sides,
        [&] {
          remake();
          sync();
          return TimeEngine(FO_MOVE, {source}, ours, FOF_SILENT | FOF_NOCONFIRMATION);
        },
        [&] {
          remake();
          sync();
          return TimeCommand({"mv", source, mv + "/"});
        });
    if (!Check("move ours", CountFiles(ours + "/tree"), want) || !Check("move mv", CountFiles(mv + "/tree"), want))
      sides.failed = true;
    Remove(ours);
    Remove(mv);
  }
  Remove(memory);
  sides.Print("move_cross_fs_vs_mv", "mv");
}

void TrashVsTrashPut(const std::string& root) {
  // Both sides use a trash of their own on the same file system as the files.
  std::string data = root + "/xdg";
  std::filesystem::create_directories(data);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  Sides sides;
  for (int run = 0; run < kRuns; ++run) {
    std::vector<std::string> ours = MakeTree(root + "/trash_ours", kTrashFiles, 1);
    std::vector<std::string> theirs = MakeTree(root + "/trash_put", kTrashFiles, 1);
    std::vector<std::string> command = {"trash-put"};
    command.insert(command.end(), theirs.begin(), theirs.end());
    Both(
        run, sides,
        [&] { return TimeEngine(FO_DELETE, ours, std::string(), FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT); },
        [&] { return TimeCommand(command); });
    if (!Check("trash ours", CountFiles(root + "/trash_ours"), {0, 0}) ||
        !Check("trash-put", CountFiles(root + "/trash_put"), {0, 0}))
      sides.failed = true;
    auto trashed = CountFiles(data + "/Trash/files");
    if (trashed.first != 2 * kTrashFiles) {
      std::fprintf(stderr, "trash holds %d files, expected %d\n", trashed.first, 2 * kTrashFiles);
      sides.failed = true;
    }
    Remove(root + "/trash_ours");
    Remove(root + "/trash_put");
    Remove(data + "/Trash");
    FileOperationJournal::Instance().Clear();
  }
  sides.Print("trash_vs_trash_put", "trash_put");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string root = WorkFolder(argc, argv, "tolvane-fileops");
  if (root.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);
  CopyTree(root);
  CopyTreeXattr(root);
  CopyBig(root);
  MoveCrossFs(root);
  TrashVsTrashPut(root);
  Remove(root);
  return 0;
}
