#pragma once
// The freedesktop trash: the home trash ($XDG_DATA_HOME/Trash) and, on other
// mounts, $topdir/.Trash/$uid (when that folder is sticky and no link) or
// $topdir/.Trash-$uid. trash-cli and the desktop's file managers read and
// restore what we trash, and we theirs.
#include <cstdint>
#include <functional>
#include <sys/types.h>
#include <time.h>
#include <string>
#include <vector>

struct TrashedItem {
  std::string originalPath;  // absolute
  std::string filesPath;     // the item inside <trash>/files
  std::string infoPath;      // <trash>/info/<name>.trashinfo
  std::string deletionDate;  // as written: YYYY-MM-DDThh:mm:ss
};

// Moves one item into the trash of its file system (home trash when on the
// same file system as the home folder). The .trashinfo is created exclusively
// before the item moves; directorysizes is kept for folders. false with errno
// in error when no trash can take it (the caller may offer a permanent
// delete); nothing is changed then.
bool MoveToTrash(const std::string& path, TrashedItem& item, int& error);
// Puts a trashed item back where it came from, never replacing anything there.
bool RestoreFromTrash(const TrashedItem& item, int& error);
// Every item in every trash of this user on the mounted file systems.
std::vector<TrashedItem> ListTrashedItems();
// Removes one trashed item for good (file, info record, directorysizes line),
// only from a trash folder of TrashDirectories and never through a link.
bool PurgeTrashedItem(const TrashedItem& item, int& error);
// Removes a file or a whole folder tree for good; false with errno at the
// first failure (what was removed stays removed).
bool RemoveTree(const std::string& path, int& error);

// As above; tick runs before each entry is removed (to keep a window alive
// and show progress) and stops the removal with ECANCELED when it returns false.
bool PurgeTrashedItem(const TrashedItem& item, int& error, const std::function<bool()>& tick);
bool RemoveTree(const std::string& path, int& error, const std::function<bool()>& tick);

// What an emptying counted: the identity of an entry of a files/ folder. The
// change time tells a new entry from one whose freed inode number it reuses.
struct TrashEntryId {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec changed {};
};
// Reads it without following a link; false when the entry is gone.
bool TrashEntryIdentity(const std::string& pathInTrash, TrashEntryId& id);
// PurgeTrashedItem that takes the item only while it is still the entry
// identified by expected (null: any); else false with ESTALE and nothing removed.
bool PurgeTrashedItemIf(const TrashedItem& item, const TrashEntryId* expected, int& error,
                        const std::function<bool()>& tick);
// Removes an item of ListOrphanTrashFiles while it is still the entry
// identified and still has no record; else false with ESTALE.
bool RemoveTrashOrphan(const std::string& path, const TrashEntryId& expected, int& error,
                       const std::function<bool()>& tick);

// Items in the trashes' files/ folders that have no record (left by an
// interrupted removal); nobody lists them, only emptying removes them.
std::vector<std::string> ListOrphanTrashFiles();
// Removes records whose item is gone (unless just written: their item may be
// on its way) and directorysizes lines of folders no longer in the trash.
void TidyTrashes();
