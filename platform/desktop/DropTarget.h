#pragma once
// platform/desktop: the desktop's conventions without its widgets: clipboard and
// drag formats, drop targets, the applications that open a file. Uses system,
// state, namespace and fileops; its chooser and menus live in the ui layer.
//
// A folder that accepts dropped files. Choosing the effect is the desktop's
// convention; the transfer itself goes through the file-operation engine,
// which the program installs as the drop handler (InstallFileOperationDropHandler).
// Without one a drop is refused.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QMimeData;

constexpr uint32_t DROPEFFECT_NONE = 0;
constexpr uint32_t DROPEFFECT_COPY = 1;
constexpr uint32_t DROPEFFECT_MOVE = 2;
constexpr uint32_t DROPEFFECT_LINK = 4;

// Key flags of a drag (MK_*).
constexpr uint32_t DRAGKEY_SHIFT = 0x4;
constexpr uint32_t DRAGKEY_CONTROL = 0x8;

// Performs a drop: sources into folder with one effect; true on success.
using DropHandler =
    std::function<bool(const std::vector<std::string>& sources, const std::string& folder, uint32_t effect)>;
void SetDropHandler(DropHandler handler);
// The handler installed now (empty when none), for one that hands some drops on.
DropHandler CurrentDropHandler();

// The files on the clipboard handed to the drop handler as dropped on folder:
// copied, or moved when they were cut. For folders that take drops but have
// no paste verb of the disk's.
bool PasteAsDrop(const std::string& folder);

// Local file paths of a drag's data (text/uri-list), byte-exact, and network locations' URIs.
std::vector<std::string> DroppedPaths(const QMimeData* data);

class IDropTarget {
 public:
  explicit IDropTarget(std::string folderPath);

  uint32_t DragEnter(const QMimeData* data, uint32_t keyState, uint32_t allowed);
  uint32_t DragOver(uint32_t keyState, uint32_t allowed);
  void DragLeave();
  uint32_t Drop(const QMimeData* data, uint32_t keyState, uint32_t allowed);

 private:
  uint32_t ChooseEffect(uint32_t keyState, uint32_t allowed) const;

  std::string folder_;
  std::vector<std::string> sources_;
};
