#include "shell/DropEvents.h"

#include "platform/desktop/DropTarget.h"
#include "shell/ShellCtrls.h"

uint32_t DropKeyState(const QDropEvent* event, bool right) {
  uint32_t keys = right ? MK_RBUTTON : MK_LBUTTON;
  if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
  if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
  if (event->modifiers() & Qt::AltModifier) keys |= MK_ALT;
  return keys;
}

uint32_t AllowedEffects(Qt::DropActions actions) {
  uint32_t allowed = 0;
  if (actions & Qt::CopyAction) allowed |= DROPEFFECT_COPY;
  if (actions & Qt::MoveAction) allowed |= DROPEFFECT_MOVE;
  if (actions & Qt::LinkAction) allowed |= DROPEFFECT_LINK;
  return allowed;
}

Qt::DropAction EffectAction(uint32_t effect) {
  if (effect & DROPEFFECT_MOVE) return Qt::MoveAction;
  if (effect & DROPEFFECT_COPY) return Qt::CopyAction;
  if (effect & DROPEFFECT_LINK) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

void AnswerDrop(QDropEvent* event, uint32_t effect) {
  Qt::DropAction action = EffectAction(effect);
  if (action == Qt::IgnoreAction) {
    event->ignore();
  } else {
    event->setDropAction(action);
    event->accept();
  }
}
