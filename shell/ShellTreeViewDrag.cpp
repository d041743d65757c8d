// Drag and drop of the folder tree: the pressed node as a drag source, the
// nodes as drop targets, opening a node that a drag hovers over, and
// scrolling near the edges.
#include <QDrag>
#include <QDropEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <cstdlib>

#include "platform/desktop/DropTarget.h"
#include "platform/system/Exception.h"
#include "platform/desktop/FilePayload.h"
#include "platform/namespace/SystemImageList.h"
#include "shell/DropEvents.h"
#include "shell/ShellTreeView.h"

namespace {
// Consecutive drag-over calls on one node before it opens.
constexpr int kHoverExpandCalls = 30;

}  // namespace

bool TShellTreeView::MaybeStartDrag(QMouseEvent* event) {
  TShellTreeNode* node = dropNode_;
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  if ((dragButton_ != 1 && dragButton_ != 2) || !item) return false;
  // Nothing starts once the button that went down is up, nor within 5 pixels of the press.
  if (!(event->buttons() & (dragButton_ == 1 ? Qt::LeftButton : Qt::RightButton))) return false;
  QPoint pos = event->position().toPoint();
  if (std::abs(pos.x() - pressPoint_.x()) <= 5 && std::abs(pos.y() - pressPoint_.y()) <= 5) return false;
  Qt::DropActions actions;
  if (item->HasAttribute(SFGAO_CANCOPY)) actions |= Qt::CopyAction;
  if (item->HasAttribute(SFGAO_CANMOVE)) actions |= Qt::MoveAction;
  if (item->HasAttribute(SFGAO_CANLINK)) actions |= Qt::LinkAction;
  bool canDrag = actions != Qt::DropActions();
  if (canDrag && OnShBeginDrag) OnShBeginDrag(this, node, pressPoint_, pos.x(), pos.y(), canDrag);
  if (!canDrag || dropNode_ != node) return false;
  std::string path = item->GetItemPath();
  if (path.empty()) return false;
  SetDragButton(3);
  auto* drag = new QDrag(this);
  drag->setMimeData(MakeFilesMimeData({path}, false));
  drag->setPixmap(SystemImageList::Instance().Pixmap(item->GetImageIndex(), 16));
  QPointer<TShellTreeView> self(this);
  drag->exec(actions, Qt::CopyAction);
  if (!self) return true;  // closed during the drag
  SetDropHighlight(nullptr);
  SetDragButton(0);
  return true;
}

std::unique_ptr<IDropTarget> TShellTreeView::TargetOf(TShellTreeNode* node) const {
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  if (!item) return nullptr;
  if (node->Level() == 0) {
    // The desktop takes drops into its folder.
    std::string path = item->GetItemPath();
    return path.empty() ? nullptr : std::make_unique<IDropTarget>(path);
  }
  return item->GetDropTarget();
}

void TShellTreeView::AutoScroll(const QPoint& pos) {
  int margin = fontMetrics().height();
  QRect area = viewport()->rect();
  if (pos.y() < margin)
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (pos.y() > area.bottom() - margin)
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  if (pos.x() < margin)
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (pos.x() > area.right() - margin)
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

uint32_t TShellTreeView::DragOverAt(QDropEvent* event, bool counted) {
  QPoint pos = event->position().toPoint();
  TShellTreeNode* node = NodeAt(pos);
  uint32_t keys = DropKeyState(event, dragWithRight_);
  SetDropHighlight(node);
  uint32_t effect = DROPEFFECT_NONE;
  if (std::unique_ptr<IDropTarget> target = TargetOf(node))
    effect = target->DragEnter(event->mimeData(), keys, AllowedEffects(event->possibleActions()));
  if (OnShDragOver) OnShDragOver(this, *dragObject_, node, KeysToShiftState(keys), pos.x(), pos.y());
  if (counted) {
    node = NodeAt(pos);  // the handler may have changed the tree
    if (node && node == dragOverNode_) {
      ++dragOverCount_;
    } else {
      dragOverNode_ = node;
      dragOverCount_ = node ? 1 : 0;
    }
    if (node && dragOverCount_ > kHoverExpandCalls) {
      dragOverCount_ = 0;
      if (!node->isExpanded() && HasChildren(node)) node->setExpanded(true);
    }
  }
  AutoScroll(pos);
  return effect;
}

void TShellTreeView::dragEnterEvent(QDragEnterEvent* event) {
  dragObject_.reset();
  if (!MimeDataHoldsFiles(event->mimeData(), true)) {
    event->ignore();
    return;
  }
  dragObject_ = std::make_unique<TShellDragObject>(event->mimeData());
  dragWithRight_ = event->buttons() & Qt::RightButton;
  bool accept = true;
  if (OnShDragEnter)
    OnShDragEnter(this, *dragObject_, KeysToShiftState(DropKeyState(event, dragWithRight_)),
                  event->position().toPoint(), accept);
  if (!accept) {
    dragObject_.reset();
    event->ignore();
    return;
  }
  SetDragButton(3);
  dragOverNode_ = nullptr;
  dragOverCount_ = 0;
  // Accepted whatever lies under the pointer now: the moves that follow decide.
  uint32_t effect = DragOverAt(event, false);
  event->accept();
  event->setDropAction(EffectAction(effect));
}

void TShellTreeView::dragMoveEvent(QDragMoveEvent* event) {
  if (!dragObject_) {
    event->ignore();
    return;
  }
  uint32_t effect = DragOverAt(event, true);
  if (effect == DROPEFFECT_NONE) {
    event->ignore();
  } else {
    event->setDropAction(EffectAction(effect));
    event->accept();
  }
}

void TShellTreeView::dragLeaveEvent(QDragLeaveEvent* event) {
  SetDropHighlight(nullptr);
  dragObject_.reset();
  dragOverNode_ = nullptr;
  if (OnShDragLeave) OnShDragLeave(this);
  SetDragButton(0);
  event->accept();
}

void TShellTreeView::dropEvent(QDropEvent* event) {
  uint32_t effect = DROPEFFECT_NONE;
  TShellTreeNode* node = dropNode_;
  if (dragObject_ && node) {
    try {
      QPoint pos = event->position().toPoint();
      uint32_t keys = DropKeyState(event, dragWithRight_);
      QPersistentModelIndex at(indexFromItem(node));
      bool defaultAction = true;
      if (OnShDragDrop) OnShDragDrop(this, *dragObject_, node, KeysToShiftState(keys), pos.x(), pos.y(), defaultAction);
      node = NodeOf(itemFromIndex(at));
      std::unique_ptr<IDropTarget> target = defaultAction ? TargetOf(node) : nullptr;
      if (target) {
        uint32_t allowed = AllowedEffects(event->possibleActions());
        target->DragEnter(event->mimeData(), keys, allowed);
        target->DragOver(keys, allowed);
        effect = target->Drop(event->mimeData(), keys, allowed);
      }
    } catch (const std::exception& e) {
      // The drop fails; the drag source learns it from the missing effect.
      effect = DROPEFFECT_NONE;
      ShowException(e);
    }
  }
  if (effect == DROPEFFECT_NONE) {
    event->ignore();
  } else {
    event->setDropAction(EffectAction(effect));
    event->accept();
  }
  SetDropHighlight(nullptr);
  dragObject_.reset();
  dragOverNode_ = nullptr;
  SetDragButton(0);
}
