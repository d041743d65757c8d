#pragma once
// What every folder of our namespace shares: its absolute list and path, and
// the step from a relative list of several IDs down to the folder that holds
// the last one. Concrete folders answer for one child ID at a time.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"

class ShellFolderBase : public IShellFolder {
 public:
  ShellFolderBase(IDListPtr absolute, std::string path);

  std::string GetPath() const override { return path_; }
  PCItemIDList GetIDList() const override { return absolute_.get(); }

  std::shared_ptr<IShellFolder> BindToObject(PCItemIDList list) override;
  bool CompareIDs(int column, PCItemIDList a, PCItemIDList b, int& result) override;
  bool GetAttributesOf(int count, const PCItemIDList* items, uint32_t& inOut) override;
  bool GetDisplayNameOf(PCItemIDList list, uint32_t flags, std::string& name) override;
  bool SetNameOf(PCItemIDList item, std::string_view newName, uint32_t flags, PItemIDList* newItem) override;
  bool GetIconOf(PCItemIDList item, uint32_t flags, int& index) override;
  bool GetFindData(PCItemIDList item, WIN32_FIND_DATAA& data) override;
  // The file-system verbs for the items' paths; virtual items get the verbs
  // that apply to them (open, properties).
  std::unique_ptr<IContextMenu> GetContextMenu(QWidget* owner, int count, const PCItemIDList* items) override;

 protected:
  // One child ID each (only the first ID of the list is read).
  // Returns -1, 0 or 1.
  virtual int CompareChildren(int column, PCItemIDList a, PCItemIDList b) = 0;
  // Per call of GetAttributesOf, so that a folder can ask the disk once for many items.
  struct AttributeContext {
    int parentWritable = -1;  // -1 not asked yet
  };
  virtual uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) = 0;
  virtual bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) = 0;
  virtual bool RenameChild(PCItemIDList id, std::string_view newName, PItemIDList* newItem) { return false; }
  virtual bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) { return false; }

  // For a list of more than one ID: the folder holding the last ID, and that ID.
  bool Descend(PCItemIDList list, ShellFolderPtr& holder, PCItemIDList& last);

  IDListPtr absolute_;
  std::string path_;
};

// --- Shared helpers of the namespace (platform only) ---------------------------

// The folder of an absolute list: the desktop for the empty list, null for an
// item that is no folder or a list that names nothing of ours.
ShellFolderPtr BindAbsoluteIDList(PCItemIDList absolute);

// -1, 0 or 1 as a is below, equal to or above b.
template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}
// Byte order of the first IDs of two lists: a fixed order for items that have
// no other one.
int CompareFirstIDBytes(PCItemIDList a, PCItemIDList b);

// "/" + name, or dir + "/" + name.
std::string JoinPath(std::string_view dir, std::string_view name);
// A name a child may carry: not empty, not "." or "..", no '/' and no NUL.
bool IsValidChildName(std::string_view name);
// Splits a path into names, resolving "", "." and ".." by name. ".." above
// the start stays at "/" for an absolute path and fails for a relative one.
bool SplitPathLexically(std::string_view path, std::vector<std::string_view>& names);

// Builds a list ID by ID; fails when the list would outgrow 16-bit sizes.
class IDListBuilder {
 public:
  bool Add(PCItemIDList oneOrMore);      // copies the IDs of a list
  bool AddOwned(PItemIDList oneOrMore);  // copies, then frees it
  PItemIDList Finish();                  // null on overflow
 private:
  std::string bytes_;
  bool failed_ = false;
};

// The special items of the desktop, always built the same way so that lists
// made anywhere compare equal byte for byte.
PItemIDList MakeSpecialID(ItemKind kind);

// A kind of folder that a layer above the namespace lists (search results):
// desktop children of kind Results whose payload that layer reads, holding
// PathEntry children that stand for the files at their paths. Parsing names
// begin with parsePrefix, followed by the payload.
struct ResultsFolderKind {
  std::string parsePrefix;
  std::function<ShellFolderPtr(PCItemIDList absolute, std::string_view payload)> bind;
  std::function<std::string(std::string_view payload)> displayName;
};
// Replaces the one kind there is; an empty prefix removes it.
void RegisterResultsFolders(ResultsFolderKind kind);

// Archive files as folders, filled in by the archive layer. Below an archive
// file's FileEntry come ArchiveEntry IDs; the path of such an item is the
// archive's path followed by the names inside it ("/a/b.zip/docs/x.txt"), and
// an archive inside an archive goes on the same way.
struct ArchiveFolderKind {
  // Whether the file at path (a real file, or an entry of an outer archive) is
  // an archive this layer lists; from its name only, never by reading it.
  std::function<bool(const std::string& path)> recognises;
  // The folder of inner ("" for the archive's root) in the archive at path.
  std::function<ShellFolderPtr(PCItemIDList absolute, const std::string& archive, const std::string& inner)> bind;
};
// Replaces the one kind there is; an empty kind removes it.
void RegisterArchiveFolders(ArchiveFolderKind kind);
// True for a path that names an archive file the registered kind lists, or a
// folder inside one (whose listing is then read, or taken from its cache).
bool IsArchiveFolderPath(const std::string& path);
// True for an absolute list of an archive file or of anything inside one.
bool IsArchiveIDList(PCItemIDList absolute);

// Network locations that have no path on the disk, listed by the network
// layer: a desktop child of kind Location holds the root URI, FileEntry IDs
// below it the names inside; the path of such an item is its URI
// (LocationPath.h). Parsing takes any URI the kind recognises.
struct LocationFolderKind {
  std::function<bool(std::string_view name)> recognises;
  std::function<ShellFolderPtr(PCItemIDList absolute, const std::string& uri)> bind;
};
// Replaces the one kind there is; an empty kind removes it.
void RegisterLocationFolders(LocationFolderKind kind);
// True for an absolute list of a location or of anything inside one.
bool IsLocationIDList(PCItemIDList absolute);
// True for a URI the registered kind takes (from the text alone).
bool IsLocationFolderPath(const std::string& path);

// Folder factories (ShellNamespace.cpp, TrashFolder.cpp).
ShellFolderPtr MakeDrivesFolder(bool network);
ShellFolderPtr MakeTrashFolder();
