#include "platform/fileops/FileLinks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"

std::string LinkNameFor(const std::string& sourceName, bool folder, int number) {
  // The extension stays last, so the link keeps its type and icon.
  size_t dot = folder ? std::string::npos : sourceName.rfind('.');
  if (dot == 0) dot = std::string::npos;
  std::string stem = sourceName.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : sourceName.substr(dot);
  std::string name = stem + " へのリンク";
  if (number > 1) name += " (" + std::to_string(number) + ")";
  return name + ext;
}

// "NAME (2).EXT": the number goes before the extension of a file.
namespace {

std::string NumberedName(const std::string& name, bool folder, int number) {
  if (number == 1) return name;
  size_t dot = folder ? std::string::npos : name.rfind('.');
  if (dot == 0) dot = std::string::npos;
  std::string stem = name.substr(0, dot), ext = dot == std::string::npos ? std::string() : name.substr(dot);
  return stem + " (" + std::to_string(number) + ")" + ext;
}

}  // namespace

bool CreateLinks(const std::vector<std::string>& sources, const std::string& folder, IFileOperationUI* ui,
                 std::vector<std::string>* made) {
  bool all = true;
  for (const std::string& source : sources) {
    std::string name = BaseName(source);
    if (name.empty() || name == "/") {
      all = false;
      continue;
    }
    struct stat st {};
    bool isFolder = stat(source.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    std::string dir = folder.empty() ? DirName(source) : folder;
    for (int number = 1;;) {
      std::string linkName =
          folder.empty() ? LinkNameFor(name, isFolder, number) : NumberedName(name, isFolder, number);
      std::string link = JoinPath(dir, linkName);
      // symlink() never replaces: a taken name fails with EEXIST.
      if (symlink(source.c_str(), link.c_str()) == 0) {
        if (made) made->push_back(link);
        break;
      }
      int error = errno;
      if (error == EEXIST && number < 100000) {
        ++number;
        continue;
      }
      ErrorAnswer answer = ui ? ui->AskError(source, "リンクを作成", error) : ErrorAnswer::Cancel;
      if (answer == ErrorAnswer::Retry) continue;
      all = false;
      if (answer == ErrorAnswer::Cancel) return false;
      break;
    }
  }
  return all;
}

bool CreateLinksBeside(const std::vector<std::string>& sources, IFileOperationUI* ui, std::vector<std::string>* made) {
  return CreateLinks(sources, "", ui, made);
}

bool CreateLinksInFolder(const std::vector<std::string>& sources, const std::string& folder, IFileOperationUI* ui) {
  return CreateLinks(sources, folder, ui);
}
