#include "archive/CmdOpt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/Exception.h"
#include "platform/system/UniqueFd.h"

namespace {

std::string ScalarText(const TVariant::Scalar& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", *d);
    return buf;
  }
  return {};
}

}  // namespace

std::vector<std::string> FlattenFileArgs(const TFileArgs& files) {
  std::vector<std::string> names;
  auto push = [&names](std::string s) {
    if (!s.empty()) names.push_back(std::move(s));
  };
  for (const TFileArg& arg : files) {
    if (const auto* s = std::get_if<std::string>(&arg)) {
      push(*s);
    } else if (const auto* cs = std::get_if<const char*>(&arg)) {
      if (*cs) push(*cs);
    } else if (const auto* arr = std::get_if<const char* const*>(&arg)) {
      for (const char* const* p = *arr; p && *p; ++p) push(*p);
    } else if (const auto* list = std::get_if<const TStringList*>(&arg)) {
      if (*list)
        for (const std::string& line : **list) push(line);
    } else if (const auto* list2 = std::get_if<TStringList>(&arg)) {
      for (const std::string& line : *list2) push(line);
    } else if (const auto* var = std::get_if<TVariant>(&arg)) {
      if (var->IsArray)
        for (const TVariant::Scalar& v : var->Array) push(ScalarText(v));
      else
        push(ScalarText(var->Value));
    }
  }
  return names;
}

std::string WithTrailingSeparator(const std::string& dir) {
  // A UTF-8 trail byte is never '/', so the last byte decides.
  if (!dir.empty() && dir.back() == '/') return dir;
  return dir + '/';
}

void TCmdOpt::Add(const std::string& text) {
  CommandLine += ' ';
  CommandLine += text;
}

void TCmdOpt::AddValue(const std::string& sw, const std::string& value) {
  if (IsNotSetString(value)) return;
  if (sw.empty()) {
    Add(Quoted(value));
    return;
  }
  std::string switchText = sw[0] == ' ' ? sw.substr(1) : "-" + sw;
  if (QuoteSeparately)
    Add(switchText + " " + Quoted(value));
  else
    Add(Quoted(switchText + value));
}

void TCmdOpt::AddNumber(const std::string& sw, int n) {
  if (n >= 0) Add("-" + sw + std::to_string(n));
}

void TCmdOpt::AddFlag(const std::string& sw, bool on) {
  if (on) Add("-" + sw);
}

void TCmdOpt::AddDirectory(const std::string& sw, const std::string& dir) {
  if (dir.empty() || IsNotSetString(dir)) return;
  AddValue(sw, WithTrailingSeparator(dir));
}

void TCmdOpt::AddFileName(const std::string& sw, const std::string& name) { AddValue(sw, ConvertName(name)); }

int TCmdOpt::AddFileNames(const std::string& sw, const TFileArgs& files) {
  std::vector<std::string> names = FlattenFileArgs(files);
  for (const std::string& name : names) AddFileName(sw, name);
  return static_cast<int>(names.size());
}

int TCmdOpt::AddFileNames(const std::string& sw, const TStringList& names) {
  return AddFileNames(sw, TFileArgs{&names});
}

std::string TCmdOpt::ConvertName(const std::string& name) const { return NameConverter ? NameConverter(name) : name; }

int TCmdOpt::AddResponseFile(const TFileArgs& files, const std::string& fileName) {
  std::vector<std::string> names = FlattenFileArgs(files);
  std::string text;
  for (const std::string& name : names) text += Quoted(ConvertName(name)) + "\r\n";

  // Never write through a link someone left under the name.
  UniqueFd fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) throw Exception("ファイル " + fileName + " を作成できません。" + std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception("ファイル " + fileName + " に書き込めません。" + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  struct stat st {};
  ::fstat(fd.Get(), &st);
  fd.Reset();
  responseFile_ = {fileName, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  AddValue("", "@" + fileName);
  return static_cast<int>(names.size());
}

void RemoveResponseFile(const TCmdOpt::WrittenFile& file) {
  if (file.Path.empty()) return;
  struct stat st {};
  if (::lstat(file.Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (static_cast<uint64_t>(st.st_dev) != file.Device || static_cast<uint64_t>(st.st_ino) != file.Inode) return;
  ::unlink(file.Path.c_str());
}
