#pragma once
// What a copy keeps of its source besides the data, as cp -a keeps it: owner,
// extended attributes (user.*, trusted.*, security.*), the POSIX ACLs, file
// capabilities, permission bits and times, in the order that keeps each of
// them (a change of owner clears capabilities and set-id bits). Where the
// target cannot hold one, the copy goes on and says what was lost; an ACL
// that cannot be copied never leaves the copy more open than its source.
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

// What a target could not keep.
struct DroppedAttributes {
  enum : unsigned { kXattr = 1, kAcl = 2, kCapability = 4, kOwner = 8, kMode = 16, kSetId = 32 };
  unsigned what = 0;
  std::string xattrNames;  // the extended attributes that were refused, comma separated
  bool any() const { return what != 0; }
  // Japanese, for the job's summary: "ACL, 拡張属性 (user.a)".
  std::string Text() const;
};

// One per job thread; its buffers are kept between files.
class AttributeCopier {
 public:
  // Reads which attributes the open source carries (one call for a file
  // with none). Then SafeMode() is what the copy may be made with.
  void Read(int srcFd, const struct stat& st);
  // The source's permission bits, read from its ACL the most restrictive
  // way: the owning group gets only what the ACL gives it (not the mask).
  mode_t SafeMode() const { return safeMode_; }

  // Sets everything on the finished copy dst. madeWith: the permission bits
  // it was made with (-1: unknown). Returns what could not be kept.
  DroppedAttributes Apply(int srcFd, int dstFd, const struct stat& st, mode_t madeWith);
  // Adds what the copy made (its fstat) shows it did not keep after all.
  void CheckKept(const struct stat& st, const struct stat& made, DroppedAttributes& dropped) const;

 private:
  void CopyXattrs(int srcFd, int dstFd, DroppedAttributes& dropped, bool capabilities);
  bool CopyAcl(int srcFd, int dstFd, bool defaultAcl);

  std::vector<char> names_, value_;
  size_t namesSize_ = 0;
  bool accessAcl_ = false, defaultAcl_ = false, capability_ = false, plain_ = false;
  mode_t safeMode_ = 0;
};
