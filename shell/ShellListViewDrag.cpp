// Drag and drop of the folder list: the selection as a drag source, the
// rows and the shown folder as drop targets.
#include <QAbstractItemView>
#include <QDrag>
#include <QDropEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <cstdlib>

#include "platform/desktop/FilePayload.h"
#include "platform/namespace/ShellFolderBase.h"
#include "shell/DropEvents.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"

std::function<void(QDrag*, Qt::DropActions)> TShellListView::DragLoop;

bool TShellListView::MaybeStartDrag(QMouseEvent* event) {
  if ((dragButton_ != 1 && dragButton_ != 2) || !fileList_->FolderIDList || SelectedCount() == 0) return false;
  // Nothing starts once the button that went down is released, nor within 5 pixels of the press.
  if (!(event->buttons() & (dragButton_ == 1 ? Qt::LeftButton : Qt::RightButton))) return false;
  QPoint pos = event->position().toPoint();
  if (std::abs(pos.x() - pressPoint_.x()) <= 5 && std::abs(pos.y() - pressPoint_.y()) <= 5) return false;
  TShellIDList* selection = fileList_->GetSelectedIDList();
  uint32_t effects = selection->Count() > 0 ? selection->GetAttributes() & 7 : 0;
  bool canDrag = effects != 0;
  if (canDrag && OnShBeginDrag) OnShBeginDrag(this, selection, pressPoint_, pos.x(), pos.y(), canDrag);
  if (!canDrag) return false;
  std::vector<std::string> paths;
  for (int i = 0; i < selection->Count(); ++i) {
    std::string path = selection->GetItemPath(i);
    if (!path.empty()) paths.push_back(path);
  }
  if (paths.empty()) return false;
  Qt::DropActions actions;
  if (effects & SFGAO_CANCOPY) actions |= Qt::CopyAction;
  if (effects & SFGAO_CANMOVE) actions |= Qt::MoveAction;
  if (effects & SFGAO_CANLINK) actions |= Qt::LinkAction;
  dragButton_ = 3;
  auto* drag = new QDrag(this);
  drag->setMimeData(MakeFilesMimeData(paths, false));
  if (DragLoop)
    DragLoop(drag, actions);
  else
    drag->exec(actions, Qt::CopyAction);
  dragButton_ = 0;
  return true;
}

std::unique_ptr<IDropTarget> TShellListView::TargetAt(QAbstractItemView* view, const QPoint& pos, TShellFileItem*& item,
                                                      int& row) {
  QModelIndex index = view->indexAt(pos);
  if (!index.isValid() && style_ == vsIcon) index = view->indexAt(pos - QPoint(0, 2));
  row = -1;
  item = index.isValid() ? model_->Item(index.row()) : nullptr;
  if (item && item->HasAttribute(SFGAO_DROPTARGET)) {
    if (std::unique_ptr<IDropTarget> target = item->GetDropTarget()) {
      row = index.row();
      return target;
    }
  }
  // Empty space, or a row that takes no drop: the folder itself.
  return fileList_->GetFolderDropTarget();
}

bool TShellListView::HandleDragEvent(QAbstractItemView* view, QEvent* event) {
  auto setDropRow = [&](int row) {
    if (row == dropRow_) return;
    dropRow_ = row;
    model_->SetDropRow(row);
  };
  // Where a drag is over: the row (null item off the rows), its drop target, the keys.
  struct DropPoint {
    QPoint pos;
    TShellFileItem* item = nullptr;
    int row = -1;
    std::unique_ptr<IDropTarget> target;
    uint32_t keys = 0;
  };
  auto pointOf = [&](QDropEvent* e) {
    DropPoint at;
    at.pos = e->position().toPoint();
    at.target = TargetAt(view, at.pos, at.item, at.row);
    if (at.row < 0) at.item = nullptr;
    at.keys = DropKeyState(e, dragWithRight_);
    return at;
  };
  switch (event->type()) {
    case QEvent::DragEnter: {
      auto* e = static_cast<QDragEnterEvent*>(event);
      dragObject_.reset();
      if (!MimeDataHoldsFiles(e->mimeData(), true)) {
        e->ignore();
        return true;
      }
      dragObject_ = std::make_unique<TShellDragObject>(e->mimeData());
      dragWithRight_ = e->buttons() & Qt::RightButton;
      bool accept = true;
      if (OnShDragEnter)
        OnShDragEnter(this, *dragObject_, KeysToShiftState(DropKeyState(e, dragWithRight_)), e->position().toPoint(),
                      accept);
      if (!accept) {
        dragObject_.reset();
        e->ignore();
        return true;
      }
      e->acceptProposedAction();
      [[fallthrough]];
    }
    case QEvent::DragMove: {
      auto* e = static_cast<QDragMoveEvent*>(event);
      if (!dragObject_) {
        e->ignore();
        return true;
      }
      DropPoint at = pointOf(e);
      QPoint pos = at.pos;
      setDropRow(at.row);
      uint32_t effect = at.target ? at.target->DragEnter(e->mimeData(), at.keys, AllowedEffects(e->possibleActions()))
                                  : DROPEFFECT_NONE;
      if (OnShDragOver) OnShDragOver(this, *dragObject_, at.item, KeysToShiftState(at.keys), pos.x(), pos.y());
      AnswerDrop(e, effect);
      // Near an edge the view scrolls by one line.
      int margin = view->fontMetrics().height();
      QRect area = view->viewport()->rect();
      if (pos.y() < margin)
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
      else if (pos.y() > area.bottom() - margin)
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      if (pos.x() < margin)
        view->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
      else if (pos.x() > area.right() - margin)
        view->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      return true;
    }
    case QEvent::DragLeave:
      setDropRow(-1);
      dragObject_.reset();
      if (OnShDragLeave) OnShDragLeave(this);
      return true;
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      if (!dragObject_) {
        e->ignore();
        return true;
      }
      DropPoint at = pointOf(e);
      bool defaultAction = true;
      if (OnShDragDrop)
        OnShDragDrop(this, *dragObject_, at.item, KeysToShiftState(at.keys), at.pos.x(), at.pos.y(), defaultAction);
      uint32_t effect = DROPEFFECT_NONE;
      if (defaultAction && at.target) {
        uint32_t allowed = AllowedEffects(e->possibleActions());
        at.target->DragEnter(e->mimeData(), at.keys, allowed);
        at.target->DragOver(at.keys, allowed);
        effect = at.target->Drop(e->mimeData(), at.keys, allowed);
      }
      AnswerDrop(e, effect);
      setDropRow(-1);
      dragObject_.reset();
      return true;
    }
    default:
      return false;
  }
}
