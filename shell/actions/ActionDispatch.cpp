#include "shell/actions/ActionDispatch.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <algorithm>

#include "platform/system/Exception.h"
#include "shell/actions/ShellActns.h"

TShellActionList::TShellActionList(QWidget* host) : QObject(host), host_(host) {
  timer_.setInterval(250);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (QGuiApplication::applicationState() == Qt::ApplicationActive) UpdateActions();
  });
  timer_.start();
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    connect(app, &QApplication::focusChanged, this, [this] { UpdateActions(); });
    app->installEventFilter(this);
  }
}

TShellActionList::~TShellActionList() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  // The actions are children and go with this object; stop hearing about it.
  for (TCustomShellAction* action : actions_) disconnect(action, nullptr, this, nullptr);
}

void TShellActionList::Add(TCustomShellAction* action) {
  if (!action || std::find(actions_.begin(), actions_.end(), action) != actions_.end()) return;
  action->setParent(this);
  actions_.push_back(action);
  // A command's failure is shown here; it never unwinds through Qt's loop.
  connect(action, &QAction::triggered, this, [this, action] { Guarded([&] { Execute(action); }); });
  connect(action, &QObject::destroyed, this, [this](QObject* gone) { Forget(gone); });
  if (host_) {
    action->setShortcutContext(Qt::WindowShortcut);
    host_->addAction(action);
  }
  UpdateAction(action);
}

void TShellActionList::Forget(QObject* action) {
  actions_.erase(std::remove(actions_.begin(), actions_.end(), static_cast<TCustomShellAction*>(action)),
                 actions_.end());
}

void TShellActionList::AddStandardActions() {
  auto add = [this](TCustomShellAction* action, const char* name) {
    action->setObjectName(QString::fromLatin1(name));
    Add(action);
  };
  add(new TShellFileCut, "ShellFileCut1");
  add(new TShellFileCopy, "ShellFileCopy1");
  add(new TShellFilePaste, "ShellFilePaste1");
  add(new TShellFileDelete, "ShellFileDelete1");
  add(new TShellFileProperty, "ShellFileProperty1");
  add(new TSelectAllItem, "SelectAllItem1");
  add(new TShellFileSortByName, "ShellFileSortByName1");
  add(new TShellFileSortBySize, "ShellFileSortBySize1");
  add(new TShellFileSortByType, "ShellFileSortByType1");
  add(new TShellFileSortByLastWrite, "ShellFileSortByLastWrite1");
  add(new TShellFileSortByAttr, "ShellFileSortByAttr1");
  add(new TLargeIcon, "LargeIcon1");
  add(new TSmallIcon, "SmallIcon1");
  add(new TListIcon, "ListIcon1");
  add(new TReportIcon, "ReportIcon1");
  add(new TSwitchViewStyle, "SwitchViewStyle1");
  add(new TReverseSelectedItem, "ReverseSelectedItem1");
}

TCustomShellAction* TShellActionList::Find(const QString& name) const {
  for (TCustomShellAction* action : actions_)
    if (action->objectName() == name) return action;
  return nullptr;
}

QWidget* TShellActionList::FocusedWidget() const {
  if (QWidget* focused = QApplication::focusWidget()) return focused;
  if (host_ && host_->window()->focusWidget()) return host_->window()->focusWidget();
  if (QWidget* active = QApplication::activeWindow()) return active->focusWidget();
  return nullptr;
}

QWidget* TShellActionList::TargetOf(TCustomShellAction* action) const {
  if (!action) return nullptr;
  for (QWidget* w = FocusedWidget(); w; w = w->parentWidget()) {
    if (action->HandlesTarget(w)) return w;
    if (w->isWindow()) break;
  }
  // A bound action serves its control also while the focus is elsewhere.
  QWidget* bound = action->BoundControl();
  if (bound && action->HandlesTarget(bound)) return bound;
  return nullptr;
}

void TShellActionList::UpdateAction(TCustomShellAction* action) {
  QWidget* target = TargetOf(action);
  if (!target) {
    action->setEnabled(false);
    return;
  }
  action->setEnabled(true);
  action->UpdateTarget(target);
}

void TShellActionList::UpdateActions() {
  // A command may open a dialog whose events come back here; its state is
  // settled once it returns.
  if (executing_) return;
  for (TCustomShellAction* action : actions_) UpdateAction(action);
}

bool TShellActionList::Execute(TCustomShellAction* action) {
  if (executing_ || !action) return false;
  QWidget* target = TargetOf(action);
  if (!target) {
    action->setEnabled(false);
    return false;
  }
  action->setEnabled(true);
  action->UpdateTarget(target);
  if (!action->isEnabled()) return false;
  {
    struct Running {
      bool& flag;
      explicit Running(bool& f) : flag(f) { flag = true; }
      ~Running() { flag = false; }
    } running(executing_);
    action->ExecuteTarget(target);
  }
  UpdateActions();
  return true;
}

bool TShellActionList::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::ShortcutOverride:
      // The shortcut map looks at the enabled states right after this event.
      UpdateActions();
      break;
    case QEvent::Show:
      if (qobject_cast<QMenu*>(watched)) UpdateActions();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}
