#pragma once
// A real temporary folder for a test, removed with everything in it afterwards.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The whole content of a file, byte for byte.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "tolvane-test-XXXXXX").string();
    char* made = mkdtemp(templ.data());
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    // Tests chmod folders unreadable; give the rights back so the cleanup can go in.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file with the given content and returns its path.
  std::string file(const std::string& name, const std::string& content = "") const {
    std::string p = *this / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string dir(const std::string& name) const {
    std::string p = *this / name;
    std::filesystem::create_directories(p);
    return p;
  }

 private:
  std::string path_;
};
