#include "platform/fileops/CopyAttributes.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char kAccessAcl[] = "system.posix_acl_access";
constexpr const char kDefaultAcl[] = "system.posix_acl_default";
constexpr const char kCapability[] = "security.capability";

std::string ProcPath(int fd) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return path;
}

// Permission bits of an ACL read the most restrictive way.
mode_t RestrictiveMode(acl_t acl) {
  unsigned user = 0, group = 0, other = 0, mask = 7;
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    acl_permset_t perms;
    if (acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &perms) != 0) continue;
    unsigned bits = (acl_get_perm(perms, ACL_READ) == 1 ? 4 : 0) | (acl_get_perm(perms, ACL_WRITE) == 1 ? 2 : 0) |
                    (acl_get_perm(perms, ACL_EXECUTE) == 1 ? 1 : 0);
    switch (tag) {
      case ACL_USER_OBJ:
        user = bits;
        break;
      case ACL_GROUP_OBJ:
        group = bits;
        break;
      case ACL_OTHER:
        other = bits;
        break;
      case ACL_MASK:
        mask = bits;
        break;
      default:
        break;  // named users and groups lose their access: never more open
    }
  }
  return mode_t(user << 6 | (group & mask) << 3 | other);
}

}  // namespace

std::string DroppedAttributes::Text() const {
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (what & kXattr) add("拡張属性 (" + xattrNames + ")");
  if (what & kAcl) add("ACL (アクセス許可はより厳しく設定)");
  if (what & kCapability) add("ケーパビリティ");
  if (what & kOwner) add("所有者");
  if (what & kSetId)
    add("setuid/setgid");
  else if (what & kMode)
    add("アクセス許可");
  return text;
}

void AttributeCopier::Read(int srcFd, const struct stat& st) {
  accessAcl_ = defaultAcl_ = capability_ = plain_ = false;
  namesSize_ = 0;
  safeMode_ = st.st_mode & 0777;
  if (names_.empty()) names_.resize(4096);
  ssize_t n;
  while ((n = flistxattr(srcFd, names_.data(), names_.size())) < 0 && errno == ERANGE) {
    ssize_t need = flistxattr(srcFd, nullptr, 0);
    if (need <= 0) return;
    names_.resize(size_t(need) + 256);
  }
  if (n <= 0) return;
  namesSize_ = size_t(n);
  for (size_t at = 0; at < namesSize_; at += std::strlen(names_.data() + at) + 1) {
    const char* name = names_.data() + at;
    if (std::strcmp(name, kAccessAcl) == 0)
      accessAcl_ = true;
    else if (std::strcmp(name, kDefaultAcl) == 0)
      defaultAcl_ = true;
    else if (std::strcmp(name, kCapability) == 0)
      capability_ = true;
    else
      plain_ = true;
  }
  if (accessAcl_) {
    if (acl_t acl = acl_get_fd(srcFd)) {
      safeMode_ = RestrictiveMode(acl);
      acl_free(acl);
    } else {
      // An ACL we cannot read: nobody but the owner until it is set.
      safeMode_ &= 0700;
    }
  }
}

void AttributeCopier::CopyXattrs(int srcFd, int dstFd, DroppedAttributes& dropped, bool capabilities) {
  if (value_.empty()) value_.resize(4096);
  for (size_t at = 0; at < namesSize_; at += std::strlen(names_.data() + at) + 1) {
    const char* name = names_.data() + at;
    bool capability = std::strcmp(name, kCapability) == 0;
    if (capability != capabilities || std::strncmp(name, "system.posix_acl_", 17) == 0) continue;
    ssize_t n;
    while ((n = fgetxattr(srcFd, name, value_.data(), value_.size())) < 0 && errno == ERANGE) {
      ssize_t need = fgetxattr(srcFd, name, nullptr, 0);
      if (need < 0) break;
      value_.resize(size_t(need) + 256);
    }
    if (n < 0) continue;  // gone meanwhile, or not ours to read: nothing to copy
    if (fsetxattr(dstFd, name, value_.data(), size_t(n), 0) == 0) continue;
    // A security label the target sets itself is no loss to report.
    if (std::strncmp(name, "security.selinux", 16) == 0) continue;
    if (capability) {
      dropped.what |= DroppedAttributes::kCapability;
      continue;
    }
    dropped.what |= DroppedAttributes::kXattr;
    if (dropped.xattrNames.size() < 200)
      dropped.xattrNames += (dropped.xattrNames.empty() ? "" : ", ") + std::string(name);
  }
}

bool AttributeCopier::CopyAcl(int srcFd, int dstFd, bool defaultAcl) {
  if (!defaultAcl) {
    acl_t acl = acl_get_fd(srcFd);
    if (!acl) return false;
    bool ok = acl_set_fd(dstFd, acl) == 0;
    acl_free(acl);
    return ok;
  }
  // Default ACLs have no descriptor call: by the descriptor's own path.
  acl_t acl = acl_get_file(ProcPath(srcFd).c_str(), ACL_TYPE_DEFAULT);
  if (!acl) return false;
  bool ok = acl_set_file(ProcPath(dstFd).c_str(), ACL_TYPE_DEFAULT, acl) == 0;
  acl_free(acl);
  return ok;
}

DroppedAttributes AttributeCopier::Apply(int srcFd, int dstFd, const struct stat& st, mode_t madeWith) {
  static const uid_t uid = geteuid();
  static const gid_t gid = getegid();
  DroppedAttributes dropped;
  // Owner first: giving a file away clears its capabilities and set-id bits.
  bool chowned = false;
  if (st.st_uid != uid || st.st_gid != gid) {
    chowned = fchown(dstFd, st.st_uid, st.st_gid) == 0;
    // Where we may not give a file away (not root) cp -a is silent too.
    if (!chowned && (uid == 0 || errno != EPERM)) dropped.what |= DroppedAttributes::kOwner;
  }
  if (plain_) CopyXattrs(srcFd, dstFd, dropped, false);
  const mode_t mode = st.st_mode & 07777;
  const mode_t setId = mode & (S_ISUID | S_ISGID);
  bool modeSet = false;
  if (accessAcl_) {
    if (CopyAcl(srcFd, dstFd, false)) {
      // The ACL set the permission bits; the set-id bits are not part of it.
      modeSet = !setId || fchmod(dstFd, mode) == 0;
    } else {
      dropped.what |= DroppedAttributes::kAcl;
      modeSet = fchmod(dstFd, safeMode_ | (mode & 07000)) == 0;
    }
  } else if (mode != madeWith || (chowned && setId)) {
    modeSet = fchmod(dstFd, mode) == 0;
  } else {
    modeSet = true;
  }
  if (!modeSet) dropped.what |= setId ? DroppedAttributes::kSetId : DroppedAttributes::kMode;
  if (defaultAcl_ && !CopyAcl(srcFd, dstFd, true)) dropped.what |= DroppedAttributes::kAcl;
  if (capability_) CopyXattrs(srcFd, dstFd, dropped, true);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(dstFd, times);
  return dropped;
}

void AttributeCopier::CheckKept(const struct stat& st, const struct stat& made, DroppedAttributes& dropped) const {
  // Some file systems take the calls and keep their own modes and owners.
  mode_t wanted = st.st_mode & 07777;
  if (accessAcl_ && (dropped.what & DroppedAttributes::kAcl)) wanted = safeMode_ | (wanted & 07000);
  if ((made.st_mode & 07777) != wanted)
    dropped.what |= (wanted & 06000) && !(made.st_mode & 06000) ? DroppedAttributes::kSetId : DroppedAttributes::kMode;
  if (made.st_uid != st.st_uid && geteuid() == 0) dropped.what |= DroppedAttributes::kOwner;
}
