#include "archive/SelfExtract.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive/CmdOpt.h"
#include "platform/system/Library.h"
#include "platform/state/Registry.h"
#include "platform/system/ScopeGuard.h"
#include "platform/system/UniqueFd.h"

ESfxNoRequiredFile::ESfxNoRequiredFile(std::string kind, std::string platform, std::string requiredFile)
    : EArchiver(kind + " 書庫からの" + platform + "自己解凍書庫の作成には '" + requiredFile + "' ファイルが必要です。"),
      Kind(std::move(kind)),
      Platform(std::move(platform)),
      RequiredFile(std::move(requiredFile)) {}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
  return name.substr(0, dot) + ext;
}

std::string SfxOutputPath(const std::string& fileName, const std::string& ext, const std::string& destDir) {
  std::string out = ChangeFileExt(fileName, ext);
  if (destDir.empty() || IsNotSetString(destDir)) return out;
  size_t slash = out.rfind('/');
  std::string bare = slash == std::string::npos ? out : out.substr(slash + 1);
  return WithTrailingSeparator(destDir) + bare;
}

namespace {

[[noreturn]] void FileError(const std::string& what, const std::string& path, int err) {
  throw Exception("ファイル " + path + " " + what + "。" + std::strerror(err));
}

void CopyInto(int out, const std::string& path, const std::string& outPath) {
  UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) FileError("を開けません", path, errno);
  std::vector<char> buf(1 << 20);
  for (;;) {
    ssize_t n = ::read(in.Get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FileError("を読めません", path, errno);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) FileError("に書き込めません", outPath, errno);
      done += w;
    }
  }
}

}  // namespace

void WriteSfxFile(const std::string& stub, const std::string& archive, const std::string& output) {
  // Written under a temporary name beside the output and renamed when whole,
  // so a failure never leaves a truncated executable under the final name.
  std::string temp = output + ".XXXXXX";
  UniqueFd fd(::mkstemp(temp.data()));
  if (!fd) FileError("を作成できません", output, errno);
  ScopeGuard removeTemp([&temp] { ::unlink(temp.c_str()); });
  CopyInto(fd.Get(), stub, output);
  CopyInto(fd.Get(), archive, output);
  ::fchmod(fd.Get(), 0644);  // mkstemp's 0600 is not what a created file gets
  if (!fd.Close()) FileError("に書き込めません", output, errno);
  if (::rename(temp.c_str(), output.c_str()) != 0) FileError("を作成できません", output, errno);
  removeTemp.Dismiss();
}

std::string FindSfxStub(const std::string& name) { return SearchPath("", name); }

std::string FindSevenZipSfxStub() {
  std::string folder;
  RegReadString("HKEY_LOCAL_MACHINE\\SOFTWARE\\7-ZIP", "Path", folder);
  if (!folder.empty()) {
    std::string inFolder = SearchPath(folder, "7z.sfx");
    if (!inFolder.empty()) return inFolder;
  }
  return FindSfxStub("7z.sfx");
}
