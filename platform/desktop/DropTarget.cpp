#include "platform/desktop/DropTarget.h"

#include <sys/stat.h>

#include <QClipboard>
#include <QGuiApplication>

#include "platform/desktop/FilePayload.h"

static DropHandler& Handler() {
  static DropHandler handler;
  return handler;
}

void SetDropHandler(DropHandler handler) { Handler() = std::move(handler); }

DropHandler CurrentDropHandler() { return Handler(); }

std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  bool cut;
  // The drop handler routes a location's URIs to GIO.
  ReadFilesMimeData(data, paths, cut, true);
  return paths;
}

bool PasteAsDrop(const std::string& folder) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  std::vector<std::string> sources;
  bool cut = false;
  if (!clipboard || !ReadFilesMimeData(clipboard->mimeData(), sources, cut, true) || !Handler()) return false;
  const bool done = Handler()(sources, folder, cut ? DROPEFFECT_MOVE : DROPEFFECT_COPY);
  // What was cut is where it belongs now; pasting it again would find nothing.
  if (cut && done) clipboard->clear();
  return done;
}

IDropTarget::IDropTarget(std::string folderPath) : folder_(std::move(folderPath)) {}

uint32_t IDropTarget::ChooseEffect(uint32_t keyState, uint32_t allowed) const {
  if (folder_.empty() || sources_.empty()) return DROPEFFECT_NONE;
  uint32_t wanted;
  bool ctrl = keyState & DRAGKEY_CONTROL, shift = keyState & DRAGKEY_SHIFT;
  if (ctrl && shift) {
    wanted = DROPEFFECT_LINK;
  } else if (ctrl) {
    wanted = DROPEFFECT_COPY;
  } else if (shift) {
    wanted = DROPEFFECT_MOVE;
  } else {
    // Within one file system a drag moves, across file systems it copies.
    struct stat target {
    }, source{};
    bool same = stat(folder_.c_str(), &target) == 0 && stat(sources_.front().c_str(), &source) == 0 &&
                target.st_dev == source.st_dev;
    wanted = same ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
  }
  if (allowed & wanted) return wanted;
  for (uint32_t e : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK})
    if (allowed & e) return e;
  return DROPEFFECT_NONE;
}

uint32_t IDropTarget::DragEnter(const QMimeData* data, uint32_t keyState, uint32_t allowed) {
  sources_ = DroppedPaths(data);
  return ChooseEffect(keyState, allowed);
}

uint32_t IDropTarget::DragOver(uint32_t keyState, uint32_t allowed) { return ChooseEffect(keyState, allowed); }

void IDropTarget::DragLeave() { sources_.clear(); }

uint32_t IDropTarget::Drop(const QMimeData* data, uint32_t keyState, uint32_t allowed) {
  sources_ = DroppedPaths(data);
  uint32_t effect = ChooseEffect(keyState, allowed);
  bool done = effect != DROPEFFECT_NONE && Handler() && Handler()(sources_, folder_, effect);
  sources_.clear();
  return done ? effect : DROPEFFECT_NONE;
}
