#pragma once
// A location's folder listed through GIO, for a location GVfs gives no FUSE
// path (no /dev/fuse, gvfs-fuse missing or not running): the namespace knows
// it by its URI, and its rows come from a listing on a worker of their own,
// handed to the list in batches. Nothing here touches the server on the
// caller's thread; the commands on such a folder are GioOperations'.
#include <memory>
#include <string>

#include "platform/namespace/ShellFolderBase.h"

namespace network {

class GioFolder : public ShellFolderBase {
 public:
  GioFolder(IDListPtr absolute, std::string uri);

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override;
  // Starts the listing and returns at once with SHCONTF_ENABLE_ASYNC (the
  // rest follows as Incomplete); without it, waits for the whole listing.
  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override;
  // The file system's verbs take paths, which these items do not have.
  std::unique_ptr<IContextMenu> GetContextMenu(QWidget* owner, int count, const PCItemIDList* items) override;
  // Drops go to the drop handler, which takes a location's URI to GIO.
  bool TakesDrops() override { return true; }

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override;
  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) override;
  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override;
  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override;
};

// What the namespace calls the folder uri ("" when it names none): the
// text a pane shows and keeps for it.
std::string GioFolderUri(const std::string& uri);

// Makes the namespace take location URIs as GioFolders (once, at start-up).
void RegisterGioFolders();

}  // namespace network
