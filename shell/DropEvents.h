#pragma once
// Qt drag events in the terms of drop targets: the key state, the allowed
// effects, and the answer to the event. Shared by every shell control.
#include <QDropEvent>
#include <cstdint>

uint32_t DropKeyState(const QDropEvent* event, bool right);
uint32_t AllowedEffects(Qt::DropActions actions);
Qt::DropAction EffectAction(uint32_t effect);
// Accepts the event with the effect, or refuses it when there is none.
void AnswerDrop(QDropEvent* event, uint32_t effect);
