// The combo box as a drop target: only the selected entry takes a drop.
#include <QDropEvent>

#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "shell/DropEvents.h"
#include "shell/ShellComboBox.h"

std::unique_ptr<IDropTarget> TShellComboBox::SelectedDropTarget() const {
  TShellComboItem* item = list_->Items(currentIndex());
  if (!item || !item->IsValid()) return nullptr;
  if (item->GetLevel() == 0) {
    // The desktop takes drops into its folder.
    std::string path = item->GetItemPath();
    return path.empty() ? nullptr : std::make_unique<IDropTarget>(path);
  }
  return item->GetDropTarget();
}

void TShellComboBox::dragEnterEvent(QDragEnterEvent* event) {
  dragObject_.reset();
  if (!ready_ || !MimeDataHoldsFiles(event->mimeData())) {
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
  event->acceptProposedAction();
  HandleDragOver(event);
}

void TShellComboBox::dragMoveEvent(QDragMoveEvent* event) { HandleDragOver(event); }

void TShellComboBox::HandleDragOver(QDragMoveEvent* event) {
  if (!dragObject_) {
    event->ignore();
    return;
  }
  uint32_t keys = DropKeyState(event, dragWithRight_);
  std::unique_ptr<IDropTarget> target = SelectedDropTarget();
  uint32_t effect =
      target ? target->DragEnter(event->mimeData(), keys, AllowedEffects(event->possibleActions())) : DROPEFFECT_NONE;
  QPoint pos = event->position().toPoint();
  if (OnShDragOver)
    OnShDragOver(this, *dragObject_, list_->Items(currentIndex()), KeysToShiftState(keys), pos.x(), pos.y());
  AnswerDrop(event, effect);
}

void TShellComboBox::dragLeaveEvent(QDragLeaveEvent* event) {
  dragObject_.reset();
  if (OnShDragLeave) OnShDragLeave(this);
  event->accept();
}

void TShellComboBox::dropEvent(QDropEvent* event) {
  if (!dragObject_) {
    event->ignore();
    return;
  }
  uint32_t keys = DropKeyState(event, dragWithRight_);
  QPoint pos = event->position().toPoint();
  bool defaultAction = true;
  if (OnShDragDrop)
    OnShDragDrop(this, *dragObject_, list_->Items(currentIndex()), KeysToShiftState(keys), pos.x(), pos.y(),
                 defaultAction);
  uint32_t effect = DROPEFFECT_NONE;
  std::unique_ptr<IDropTarget> target = defaultAction ? SelectedDropTarget() : nullptr;
  if (target) {
    uint32_t allowed = AllowedEffects(event->possibleActions());
    target->DragEnter(event->mimeData(), keys, allowed);
    target->DragOver(keys, allowed);
    effect = target->Drop(event->mimeData(), keys, allowed);
  }
  AnswerDrop(event, effect);
  dragObject_.reset();
}
