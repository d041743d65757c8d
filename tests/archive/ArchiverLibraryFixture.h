#pragma once
// The built archiver libraries, opened with dlopen as the program opens them, and the
// real tools that make the archives the tests read.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FileChecks.h"
#include "TempDir.h"
#include "TestData.h"
#include "archive/ArchiverLibraryApi.h"
#include "platform/system/Library.h"

class ArchiverLibrary {
 public:
  ArchiverLibrary(const std::string& file, const std::string& prefix) : prefix_(prefix) {
    handle_ = dlopen((ExecutableFolder() + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  ~ArchiverLibrary() {
    if (handle_) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  template <typename F>
  F Entry(const std::string& suffix) const {
    return handle_ ? reinterpret_cast<F>(dlsym(handle_, (prefix_ + suffix).c_str())) : nullptr;
  }
  // Runs a command line; the library's messages land in output().
  int Run(const std::string& cmd, ArcHWND wnd = nullptr) {
    output_.assign(8192, '\x7f');
    auto f = Entry<ArcCommandProc>("");
    if (!f) return -1000;
    int r = f(wnd, cmd.c_str(), output_.data(), static_cast<uint32_t>(output_.size()));
    output_.resize(output_.find('\0') == std::string::npos ? output_.size() : output_.find('\0'));
    return r;
  }
  const std::string& output() const { return output_; }

  // Every record FindFirst/FindNext give for the wildcard.
  std::vector<ArcIndividualInfo> List(const std::string& archive, const std::string& wild = "*.*",
                                      ArcHWND wnd = nullptr) {
    std::vector<ArcIndividualInfo> out;
    auto open = Entry<ArcOpenArchiveProc>("OpenArchive");
    auto first = Entry<ArcFindFirstProc>("FindFirst");
    auto next = Entry<ArcFindNextProc>("FindNext");
    auto close = Entry<ArcCloseArchiveProc>("CloseArchive");
    HARC h = open(wnd, archive.c_str(), 0);
    if (!h) return out;
    ArcIndividualInfo info{};
    for (int r = first(h, wild.c_str(), &info); r == 0; r = next(h, &info)) out.push_back(info);
    close(h);
    return out;
  }

 private:
  void* handle_ = nullptr;
  std::string prefix_;
  std::string output_;
};

// Runs a shell command line in a folder, quietly; true when it exits 0.
inline bool Shell(const std::string& dir, const std::string& cmd) {
  std::string line = "cd '" + dir + "' && { " + cmd + " ; } >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

// Runs a python script (tarfile, zipfile) in a folder; true when it exits 0.
inline bool Python(const std::string& dir, const std::string& script) {
  std::string path = dir + "/make.py";
  std::ofstream(path) << script;
  return Shell(dir, "python3 make.py");
}

inline std::vector<std::string> Names(const std::vector<ArcIndividualInfo>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.szFileName);
  return names;
}

// Everything below a folder as sorted relative names; folders end in "/".
inline std::vector<std::string> TreeOf(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = std::filesystem::relative(it->path(), dir).string();
    if (it->is_directory() && !it->is_symlink()) rel += "/";
    names.push_back(rel);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// No temporary or half-written file anywhere below dir.
inline bool NoTempFiles(const std::string& dir) {
  for (const std::string& n : TreeOf(dir))
    if (n.find(".tvx-") != std::string::npos) return false;
  return true;
}

// A folder of files to pack: name -> content.
inline void MakeFiles(const TempDir& t, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, content] : files) {
    std::filesystem::create_directories(std::filesystem::path(t / name).parent_path());
    t.file(name, content);
  }
}
