#pragma once
// A popup menu that shows the shell's verbs for a set of items merged with
// its own actions, runs what was chosen and says what it was. Own actions are
// this QMenu's actions; each has a command identifier, and the shell's entries
// are numbered after the highest of them. The merged menu holds copies of the
// own actions, so the originals are never touched by a popup.
//
// Popup's result: 0 for nothing (none chosen, refused, or the shell command
// failed); an own action's command identifier; otherwise the shell command
// offset + 1: 17 create link, 18 delete, 19 rename (not run: the caller edits
// the name in place), 20 properties, 25 cut, 26 copy, 27 paste.
#include <QMenu>
#include <QPoint>
#include <cstdint>
#include <functional>
#include <map>

#include "shell/ShellCtrls.h"

class IContextMenu;

// What Popup returns when the shell's entry at commandOffset (CMDOFF_*) was chosen.
constexpr int PopupResultOf(int commandOffset) { return commandOffset + 1; }

enum TShellContextType { shctExplore, shctNormal, shctDefaultOnly };

using TShellBeforPopupEvent =
    std::function<void(QObject* sender, const TShellIDList& shellIDList, const QPoint& pt, bool& allowPopup)>;
using TShellAfterPopupEvent = std::function<void(QObject* sender, QAction* menuItem, const TShellIDList& shellIDList)>;

class TShellPopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TShellPopupMenu(QWidget* owner = nullptr);
  ~TShellPopupMenu() override;

  // Where the shell's entries go among the own actions; reading lowers the
  // stored value to the number of own actions.
  uint32_t InsertPos();
  void SetInsertPos(uint32_t value) { insertPos_ = value; }
  // False asks the shell for its rename entry too.
  bool ReadOnly = true;
  TShellContextType ContextType = shctExplore;
  // The control that popped the menu (set by callers before Popup).
  QWidget* PopupComponent = nullptr;
  // Shown by the control's own right click when true; shell controls switch it off.
  bool AutoPopup = true;

  TShellBeforPopupEvent OnShBeforPopup;
  TShellAfterPopupEvent OnShAfterPopup;

  // Shows the merged menu for the items at a screen point; see above.
  int Popup(TShellIDList* idList, const QPoint& pt);

  // An own action's command identifier, given when first asked (unique in this menu).
  int Command(QAction* action);
  // The query flags of ContextType and ReadOnly.
  uint32_t QueryFlags() const;

 protected:
  // AllowPopup as OnShBeforPopup leaves it (true without a handler).
  virtual bool DoShBeforPopup(TShellIDList* idList, const QPoint& pt);
  virtual void DoShAfterPopup(QAction* menuItem, TShellIDList* idList);
  // Runs the merged menu and returns the entry chosen, null for none.
  virtual QAction* ExecMenu(QMenu* menu, const QPoint& pt);

 private:
  // Copies the visible own actions into target; copies map to their originals.
  void CopyActions(QMenu* target, QMenu* source, std::map<QAction*, QAction*>& originals, int& highest);

  uint32_t insertPos_ = 0;
  int nextCommand_ = 0;
};
