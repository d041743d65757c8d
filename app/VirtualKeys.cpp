#include <Qt>

#include "app/MainForm.h"

int VirtualKeyOf(int qtKey) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 65 + (qtKey - Qt::Key_A);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 48 + (qtKey - Qt::Key_0);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Comma:
    case Qt::Key_Less:
      return 188;
    case Qt::Key_Period:
    case Qt::Key_Greater:
      return 190;
    // The backslash and yen keys, and what Shift makes of them.
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
    case Qt::Key_yen:
      return 220;
    default:
      return 0;
  }
}

int DigitKeyOfScanCode(quint32 scanCode) {
  if (scanCode >= 10 && scanCode <= 18) return 49 + static_cast<int>(scanCode - 10);  // 1..9
  if (scanCode == 19) return 48;                                                      // 0
  return 0;
}
