#pragma once
// The action list that offers the shell actions their target: the focused
// widget, or the nearest of its parents that an action handles (a folder
// list's inner views lead to the folder list). States follow the focus: on
// every focus change, before a shortcut is matched, when a menu opens, four
// times a second while the program is active, and right before an action
// runs. Without a target an action is disabled.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <vector>

class QWidget;
class TCustomShellAction;

class TShellActionList : public QObject {
  Q_OBJECT
 public:
  // The host carries the actions so that their shortcuts work in its window.
  explicit TShellActionList(QWidget* host = nullptr);
  ~TShellActionList() override;

  // Takes the action over and adds it to the host.
  void Add(TCustomShellAction* action);
  // The seventeen actions with their default names (ShellFileCut1, ...),
  // captions, hints and default shortcuts, in menu order.
  void AddStandardActions();
  const std::vector<TCustomShellAction*>& Actions() const { return actions_; }
  // By object name; null when there is none.
  TCustomShellAction* Find(const QString& name) const;

  // Offers every action its target now.
  void UpdateActions();
  void UpdateAction(TCustomShellAction* action);
  // The widget the action would work on now, or null.
  QWidget* TargetOf(TCustomShellAction* action) const;
  // Updates the action against its target and runs it when it is enabled;
  // false when it did not run.
  bool Execute(TCustomShellAction* action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* FocusedWidget() const;
  void Forget(QObject* action);

  QPointer<QWidget> host_;
  std::vector<TCustomShellAction*> actions_;
  QTimer timer_;
  bool executing_ = false;
};
