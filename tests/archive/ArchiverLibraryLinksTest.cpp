// Links, special files and FIFOs in crafted archives: nothing reaches a file that was there
// before, no link leads out of the destination however it is chained, no device node is
// made, and a FIFO named like an archive never holds a caller.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <future>

#include "ArchiverLibraryFixture.h"

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string TarLine(const std::string& archive, const std::string& dest) {
  return "x -f " + Quote(archive) + " -o " + Quote(dest + "/");
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

// A pax tar whose only entry is a hard link `name -> target` that carries data: tarfile
// writes a regular entry, whose type and link name are then patched in.
std::string HardLinkWithData(const std::string& archive, const std::string& name, const std::string& target) {
  return R"(
import tarfile, io
data = b"overwritten through a link"
with tarfile.open(")" +
         archive + R"(", "w", format=tarfile.PAX_FORMAT) as tf:
    ti = tarfile.TarInfo(")" +
         name + R"("); ti.size = len(data)
    tf.addfile(ti, io.BytesIO(data))
raw = bytearray(open(")" +
         archive + R"(", "rb").read())
# The first header that names the entry (after the pax header, if any).
off = 0
while raw[off:off + len(b")" +
         name + R"(")] != b")" + name + R"(" or raw[off + 156] not in b"0": off += 512
raw[off + 156] = ord("1")
link = b")" +
         target + R"("
raw[off + 157:off + 257] = link + bytes(100 - len(link))
raw[off + 148:off + 156] = b"        "
raw[off + 148:off + 156] = b"%06o\0 " % sum(raw[off:off + 512])
open(")" +
         archive + R"(", "wb").write(bytes(raw))
)";
}

}  // namespace

TEST(ArchiverLibraryLinks, AHardLinkReachesOnlyFilesThisExtractionWrote) {
  TempDir t;
  ArchiverLibrary tar("TAR32.so", "Tar");
  // A link with data to a file beside the archive, and one to the archive itself.
  t.file("thesis.txt", "my thesis");
  ASSERT_TRUE(Python(t.path(), HardLinkWithData(t / "photo.tar", "photo.jpg", "thesis.txt")));
  ASSERT_TRUE(Python(t.path(), HardLinkWithData(t / "self.tar", "x.jpg", "self.tar")));
  const std::string selfBefore = ReadWholeFile(t / "self.tar");
  tar.Run(TarLine(t / "photo.tar", t.path()));
  EXPECT_EQ(ReadWholeFile(t / "thesis.txt"), "my thesis");
  EXPECT_NE(StatOf(t / "photo.jpg").st_ino, StatOf(t / "thesis.txt").st_ino);
  tar.Run(TarLine(t / "self.tar", t.path()));
  EXPECT_EQ(ReadWholeFile(t / "self.tar"), selfBefore);

  // cpio: the second name carries the data. Into an empty folder both names share it.
  MakeFiles(t, {{"src/a.txt", "cpio data"}});
  ASSERT_TRUE(Shell(t / "src", "ln a.txt b.txt && printf 'a.txt\\nb.txt\\n' | cpio -o -H newc > ../h.cpio"));
  EXPECT_EQ(tar.Run(TarLine(t / "h.cpio", t / "fresh")), 0) << tar.output();
  EXPECT_EQ(ReadWholeFile(t / "fresh/a.txt"), "cpio data");
  EXPECT_EQ(ReadWholeFile(t / "fresh/b.txt"), "cpio data");
  EXPECT_EQ(StatOf(t / "fresh/a.txt").st_ino, StatOf(t / "fresh/b.txt").st_ino);
  // With a.txt already there and not replaced, nothing is written through the link:
  // b.txt gets the data as a file of its own.
  t.dir("kept");
  t.file("kept/a.txt", "keep me");
  EXPECT_EQ(tar.Run(TarLine(t / "h.cpio", t / "kept")), ARC_ERROR_ALREADY_EXIST) << tar.output();
  EXPECT_EQ(ReadWholeFile(t / "kept/a.txt"), "keep me");
  EXPECT_EQ(ReadWholeFile(t / "kept/b.txt"), "cpio data");
  EXPECT_NE(StatOf(t / "kept/a.txt").st_ino, StatOf(t / "kept/b.txt").st_ino);
  // A link without data to a file that was there is refused by name.
  ASSERT_TRUE(Python(t.path(), R"(
import tarfile
with tarfile.open("bare.tar", "w") as tf:
    ti = tarfile.TarInfo("bare.lnk"); ti.type = tarfile.LNKTYPE; ti.linkname = "thesis.txt"
    tf.addfile(ti)
)"));
  EXPECT_EQ(tar.Run(TarLine(t / "bare.tar", t.path())), ARC_ERROR_UNSAFE_PATH);
  EXPECT_NE(tar.output().find("bare.lnk"), std::string::npos) << tar.output();
  EXPECT_FALSE(Exists(t / "bare.lnk"));
}

TEST(ArchiverLibraryLinks, ALinkIsJudgedByWhereItResolvesThroughTheOthers) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import tarfile, io
def link(tf, name, target):
    ti = tarfile.TarInfo(name); ti.type = tarfile.SYMTYPE; ti.linkname = target; tf.addfile(ti)
with tarfile.open("chain.tar", "w") as tf:
    link(tf, "x/up", "..")                            # the destination itself: fine
    link(tf, "etc", "x/up/x/up/../../etc")            # each step inside, the whole outside
    link(tf, "early", "y/b/../..")                    # harmless until y/b is made
    link(tf, "y/b", "..")
    link(tf, "fine", "x/up/data.txt")
    ti = tarfile.TarInfo("data.txt"); ti.size = 4; tf.addfile(ti, io.BytesIO(b"data"))
)"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  EXPECT_EQ(tar.Run(TarLine(t / "chain.tar", t / "d")), ARC_ERROR_UNSAFE_PATH);
  for (const char* refused : {"etc", "early"}) {
    EXPECT_FALSE(Exists(t / "d/" + refused)) << refused;
    EXPECT_NE(tar.output().find(refused), std::string::npos) << tar.output();
  }
  EXPECT_EQ(ReadWholeFile(t / "d/fine"), "data");
  EXPECT_TRUE(Exists(t / "d/x/up"));
  // Every link left resolves inside the destination.
  for (const std::string& name : TreeOf(t / "d")) {
    std::error_code ec;
    auto real = std::filesystem::weakly_canonical(t / ("d/" + name), ec).string();
    EXPECT_EQ(real.rfind(std::filesystem::canonical(t / "d").string(), 0), 0u) << name << " -> " << real;
  }
}

TEST(ArchiverLibraryLinks, DeviceNodesAndFifosAreNeverMade) {
  TempDir t;
  ASSERT_TRUE(Python(t.path(), R"(
import tarfile, io
with tarfile.open("dev.tar", "w") as tf:
    for name, kind in (("null", tarfile.CHRTYPE), ("disk", tarfile.BLKTYPE), ("pipe", tarfile.FIFOTYPE)):
        ti = tarfile.TarInfo(name); ti.type = kind; ti.devmajor = 1; ti.devminor = 3; ti.mode = 0o644
        tf.addfile(ti)
    ti = tarfile.TarInfo("after.txt"); ti.size = 2; tf.addfile(ti, io.BytesIO(b"ok"))
)"));
  ArchiverLibrary tar("TAR32.so", "Tar");
  EXPECT_EQ(tar.Run(TarLine(t / "dev.tar", t / "d")), ARC_ERROR_WARNING);
  EXPECT_EQ(TreeOf(t / "d"), (std::vector<std::string>{"after.txt"}));
  for (const char* name : {"null", "disk", "pipe"}) EXPECT_NE(tar.output().find(name), std::string::npos);
}

TEST(ArchiverLibraryLinks, AFifoNamedLikeAnArchiveIsRefusedAtOnceByEveryEntry) {
  TempDir t;
  const std::string fifo = t / "f.zip";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ArchiverLibrary zip("UNZIP32.so", "UnZip"), tar("TAR32.so", "Tar");
  auto open = zip.Entry<ArcOpenArchiveProc>("OpenArchive");
  auto check = zip.Entry<ArcCheckArchiveProc>("CheckArchive");
  auto type = tar.Entry<ArcGetArchiveTypeProc>("GetArchiveType");
  auto calls = std::async(std::launch::async, [&] {
    int failures = 0;
    failures += open(nullptr, fifo.c_str(), 0) == nullptr;
    failures += check(fifo.c_str(), ARC_CHECKARCHIVE_FULLCRC) == 0;
    failures += type(fifo.c_str()) == ARC_TYPE_OTHER;
    failures += zip.Run("-x  " + Quote(fifo) + " " + Quote(t / "out/")) == ARC_ERROR_NOT_ARC_FILE;
    failures += tar.Run(TarLine(fifo, t / "out")) != 0;
    return failures;
  });
  if (calls.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Let the blocked call go before failing, or the test would hang for good.
    int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) close(w);
    calls.wait();
    FAIL() << "a library waited on the FIFO";
  }
  EXPECT_EQ(calls.get(), 5);
  EXPECT_NE(zip.output().find("通常のファイルではありません"), std::string::npos) << zip.output();
  EXPECT_FALSE(Exists(t / "out/f"));
}
