#pragma once
// The recycle bin: this user's freedesktop trash folders, listed read-only.
// Each entry is a TrashEntry ID holding the path of the file inside a trash's
// files/ folder; its name is the original one from the .trashinfo record.
#include <map>
#include <string>
#include <vector>

#include "platform/namespace/ShellFolderBase.h"

// The trash folders (each with files/ and info/): the home trash first (also
// when it does not exist yet), then $topdir/.Trash/$uid and $topdir/.Trash-$uid
// of the mounted drives, where they exist.
std::vector<std::string> TrashDirectories();

// The home trash: $XDG_DATA_HOME/Trash, or the folder a link there leads to
// when that folder is the user's own on the same file system (the user set
// it up so); any other link is returned as it is and refused by its users.
std::string HomeTrashFolder();
// A $topdir trash folder we may list, empty and restore from: a real folder
// (no link) owned by this user that nobody else may write into.
bool IsUsableTopTrash(const std::string& path);

// The .trashinfo record of a file in a trash's files/ folder: the original
// path (percent-decoded; made absolute for a drive's trash) and the deletion
// date as written. False when there is no readable record.
bool ReadTrashInfo(const std::string& pathInTrash, std::string& originalPath, std::string& deletionDate);

class TrashFolder : public ShellFolderBase {
 public:
  TrashFolder();

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override;
  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override;

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override;
  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) override;
  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override;
  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override;

 private:
  struct EntryInfo {
    std::string name;  // the original name
    FileStat stat;
  };
  // A sort asks for the same entries many times; read each record once per folder object.
  const EntryInfo& Info(PCItemIDList id);
  std::map<std::string, EntryInfo, std::less<>> cache_;
};
