// Extended attributes, ACLs and capabilities through copies and moves, with
// cp -a and getfattr, getfacl and getcap as the reference.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileOperationTestUtil.h"
#include "ForeignFileSystems.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"

namespace {

bool HaveTools() {
  return Succeeds("command -v getfattr && command -v getfacl && command -v getcap && command -v setcap");
}

// Everything cp -a keeps of a tree, relative to its folder: attributes, ACLs,
// capabilities, modes, owners and modification times.
std::string Metadata(const std::string& dir) {
  std::string cd = "cd " + Quote(dir) + " && ";
  return Output(cd +
                "find . -mindepth 1 | sort | while read -r f; do getfattr -d -m - -h --absolute-names \"$f\" | "
                "grep -v '^security.selinux'; getfacl -p \"$f\"; getcap \"$f\"; done") +
         Output(cd + "find . -mindepth 1 -printf '%p %m %U %G %T@\\n' | sort");
}

// A tree carrying every kind of attribute cp -a keeps; false where one cannot be set.
bool MakeRichTree(const std::string& root) {
  std::string t = Quote(root);
  return Succeeds("mkdir -p " + t + "/sub && printf data > " + t + "/f && printf tool > " + t + "/tool && printf x > " +
                  t + "/sub/s") &&
         Succeeds("setfattr -n user.a -v one " + t + "/f && setfattr -n user.b -v two " + t + "/f") &&
         Succeeds("setfattr -n trusted.t -v root " + t + "/f && setfattr -n security.tolvane -v label " + t + "/f") &&
         Succeeds("setfacl -m u::rw-,u:1234:rw-,g::---,m::rw-,o::--- " + t + "/f") &&
         Succeeds("setfacl -d -m u:1234:rwx " + t + "/sub && setfacl -m u:1234:r-x " + t + "/sub") &&
         Succeeds("chown 1234:1234 " + t + "/tool && chmod 4755 " + t + "/tool && setcap cap_net_raw+ep " + t +
                  "/tool") &&
         Succeeds("touch -d '2020-01-02 03:04:05' " + t + "/f " + t + "/tool " + t + "/sub/s " + t + "/sub " + t);
}

}  // namespace

TEST(CopyAttributes, CopyAndMoveKeepWhatCpKeeps) {
  if (!HaveTools()) GTEST_SKIP() << "getfattr, getfacl or getcap missing (packages attr, acl, libcap2-bin)";
  LoopExt4 disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  std::string src = disk / "src/tree";
  ASSERT_TRUE(MakeRichTree(src));
  ASSERT_TRUE(Succeeds("mkdir " + Quote(disk / "ref") + " " + Quote(disk / "ours") + " && cp -a " + Quote(src) + " " +
                       Quote(disk / "ref")));
  const std::string reference = Metadata(disk / "ref");
  ASSERT_NE(reference.find("user:1234:rw-"), std::string::npos);
  ASSERT_NE(reference.find("cap_net_raw=ep"), std::string::npos);

  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {src}, disk / "ours", 0, ui).code, 0);
  EXPECT_EQ(Metadata(disk / "ours"), reference);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();

  // Across file systems (onto a tmpfs, which holds all of it) as mv does.
  TinyMount other("size=8m");
  if (!other.mounted()) GTEST_SKIP() << "tmpfs mounts are not permitted here";
  EXPECT_EQ(RunOp(FO_MOVE, {src}, other.path(), 0, ui).code, 0);
  EXPECT_FALSE(Exists(src));
  EXPECT_EQ(Metadata(other.path()), reference);
}

TEST(CopyAttributes, AnAclTheTargetCannotHoldNeverOpensTheCopy) {
  if (!HaveTools()) GTEST_SKIP() << "getfacl missing (package acl)";
  RamFs target;
  if (!target.mounted()) GTEST_SKIP() << target.why();

  // Group bits show the mask (rw) although the owning group may not read it.
  TempDir dir;
  std::string secret = dir.file("secret", "only for 1234");
  std::string moved = dir.file("moved", "also");
  for (const std::string& f : {secret, moved})
    ASSERT_TRUE(Succeeds("setfacl -m u::rw-,u:1234:rw-,g::---,m::rw-,o::--- " + Quote(f)));
  ASSERT_TRUE(Succeeds("setfattr -n user.origin -v here " + Quote(moved)));
  ASSERT_EQ(Lstat(secret).st_mode & 0777, 0660u);

  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {secret}, target.path(), 0, ui).code, 0);
  EXPECT_EQ(RunOp(FO_MOVE, {moved}, target.path(), 0, ui).code, 0);
  EXPECT_EQ(Lstat(target / "secret").st_mode & 0777, 0600u);
  EXPECT_EQ(Lstat(target / "moved").st_mode & 0777, 0600u);
  EXPECT_EQ(ReadWholeFile(target / "moved"), "also");
  EXPECT_FALSE(Exists(moved));
  // Each job says what was lost, naming the file.
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_NE(ui.messages[0].find("secret: ACL"), std::string::npos) << ui.messages[0];
  EXPECT_NE(ui.messages[1].find("moved: 拡張属性 (user.origin), ACL"), std::string::npos) << ui.messages[1];
}
