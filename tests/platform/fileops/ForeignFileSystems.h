#pragma once
// File systems a test mounts for itself: a loop ext4 (ACLs, capabilities,
// trusted.* attributes) and a FAT image through FUSE (fusefat). Each says why
// when it cannot be had here, for GTEST_SKIP.
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "TempDir.h"

// Runs a shell command; its standard output (standard error dropped).
inline std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0) out.append(buffer.data(), n);
    pclose(p);
  }
  return out;
}

inline bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// A folder that something is mounted on for the test's span.
class TestMount {
 public:
  TestMount() { dir_ = base_.dir("mnt"); }
  ~TestMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  TestMount(const TestMount&) = delete;
  TestMount& operator=(const TestMount&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }  // why it is not mounted
  const std::string& path() const { return dir_; }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 protected:
  TempDir base_;
  std::string dir_, why_;
  bool mounted_ = false;
};

class LoopExt4 : public TestMount {
 public:
  explicit LoopExt4(const std::string& size = "64M") {
    std::string image = base_ / "ext4.img";
    if (geteuid() != 0)
      why_ = "mounting a loop ext4 needs root";
    else if (!Succeeds("truncate -s " + size + " " + image + " && mkfs.ext4 -q -F " + image))
      why_ = "mkfs.ext4 is missing";
    else if (!(mounted_ = Succeeds("mount -o loop " + image + " " + dir_)))
      why_ = "loop mounts are not permitted here";
  }
};

// A ramfs: modes and owners, but no extended attributes and no ACLs.
class RamFs : public TestMount {
 public:
  RamFs() {
    if (!(mounted_ = mount("ramfs", dir_.c_str(), "ramfs", 0, nullptr) == 0))
      why_ = "ramfs mounts are not permitted here";
  }
};

class FatImage : public TestMount {
 public:
  FatImage() {
    std::string image = base_ / "fat.img";
    if (!Succeeds("command -v fusefat"))
      why_ = "fusefat is not installed";
    else if (access("/dev/fuse", R_OK | W_OK) != 0)
      why_ = "no /dev/fuse here";
    else if (!Succeeds("truncate -s 32M " + image + " && mkfs.vfat " + image))
      why_ = "mkfs.vfat is missing";
    else if (!(mounted_ = Succeeds("fusefat -o rw+ " + image + " " + dir_)))
      why_ = "FUSE mounts are not permitted here";
  }
};
