#pragma once
// A main window in a state folder of its own: TOLVANE_HOME, HOME and the XDG
// folders point into a temporary folder, so the user's files are never read
// or written. Menus and message boxes are answered by the test.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EnvGuard.h"
#include "TempDir.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/system/Exception.h"
#include "shell/ShellListModel.h"
#include "shell/watch/WatcherThread.h"

class FormFixture {
 public:
  FormFixture()
      : home_("TOLVANE_HOME", state.dir("state")),
        userHome_("HOME", state.dir("home")),
        config_("XDG_CONFIG_HOME", state.dir("config")),
        data_("XDG_DATA_HOME", state.dir("data")) {
    state.dir("state/log");
  }
  ~FormFixture() {
    Close();
    WaitForWatcherThreads();
  }

  std::string StatePath(const std::string& relative) const { return state.path() + "/state/" + relative; }
  std::string HomePath() const { return state.path() + "/home"; }
  // Writes a file of the state folder (log/ lines end with CR LF as the program writes them).
  void WriteState(const std::string& relative, const std::string& text) { state.file("state/" + relative, text); }
  void WriteLines(const std::string& relative, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteState(relative, text);
  }

  // Creates and shows the window; menus pop up through Choose, messages are recorded.
  // Opens the window with one tab per pane on the given folders.
  TForm1* OpenOn(const std::string& left, const std::string& right) {
    WriteLines("log/Path1SL.text", {left});
    WriteLines("log/Path2SL.text", {right});
    return Open();
  }
  TForm1* Open() {
    form = std::make_unique<TForm1>();
    form->Hooks.ExecPopup = [this](QMenu* menu, const QPoint& pt) -> QAction* {
      popups.push_back(menu);
      // The entries are filled as the menu opens.
      emit menu->aboutToShow();
      QAction* chosen = choose ? choose(menu) : nullptr;
      return chosen;
    };
    form->Hooks.ShowMessage = [this](const QString& text) { messages.push_back(text.toStdString()); };
    if (!startPaths.empty()) form->OpenStartPaths(startPaths);
    form->show();
    // Offscreen windows are exposed at once; a slow machine only waits longer.
    if (!QTest::qWaitForWindowExposed(form.get())) QTest::qWait(100);
    QApplication::processEvents();
    return form.get();
  }
  // Closes the window as the user does (the state is written).
  void Close() {
    if (!form) return;
    form->close();
    form.reset();
  }

  TempDir state;
  std::unique_ptr<TForm1> form;
  // Picks the entry of a popped-up menu; null chooses nothing.
  std::function<QAction*(QMenu*)> choose;
  std::vector<QMenu*> popups;
  std::vector<std::string> messages;
  // Paths as the command line gives them, applied before the window shows.
  std::vector<std::string> startPaths;

 private:
  EnvGuard home_, userHome_, config_, data_;

 public:
  // Messages shown before Open() could hook the window (during its creation
  // steps), and failures no handler caught, are recorded in messages as well.
  struct MessageCapture {
    explicit MessageCapture(std::vector<std::string>& into) {
      SetExceptionDisplay([&into](const std::string& message) { into.push_back(message); });
    }
    ~MessageCapture() { SetExceptionDisplay(nullptr); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
  };
  MessageCapture messageCapture{messages};

  // --- Rows ---
  // The row of the file named name (the last part of its path); -1 for none.
  static int RowOf(TShellListView* list, const std::string& name) {
    for (int i = 0; i < list->FileList()->Count(); ++i)
      if (TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()) == name) return i;
    return -1;
  }
  // The rows' display names, in list order (inside archives the only names a row has).
  static std::vector<std::string> DisplayNames(TShellListView* list) {
    std::vector<std::string> names;
    for (int row = 0; row < list->FileList()->Count(); ++row)
      names.push_back(list->FileList()->Items(row)->GetDisplayName());
    return names;
  }
  // Makes the named file the only selected row, and the focused one.
  static void SelectOnly(TShellListView* list, const std::string& name) {
    const int row = RowOf(list, name);
    ASSERT_GE(row, 0) << name;
    list->SelectAllRows(false);
    list->SetRowSelected(row, true);
    list->SetFocusedRow(row);
  }

  // --- Menu entries and focus, for the tab and folder menu tests ---
  // The texts of a menu's visible entries, in order ("&&" shown as "&").
  static QStringList VisibleTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions())
      if (action->isVisible()) texts << QString(action->text()).replace("&&", "&");
    return texts;
  }
  // The visible entry with this text; null when there is none.
  static QAction* Entry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
      if (action->isVisible() && QString(action->text()).replace("&&", "&") == text) return action;
    return nullptr;
  }
  // Opens the submenu of an entry as hovering over it does, so it fills.
  static QMenu* OpenSubmenu(QMenu* menu, const QString& text) {
    QAction* action = Entry(menu, text);
    QMenu* sub = action ? action->menu() : nullptr;
    if (sub) emit sub->aboutToShow();
    return sub;
  }
  // Answers the next menus with a click on the entry with this text (a click triggers it).
  void ChooseEntry(const QString& text) {
    choose = [text](QMenu* menu) -> QAction* {
      QAction* action = Entry(menu, text);
      if (action) action->trigger();
      return action;
    };
  }
  // Gives a widget the keyboard focus in the active window; false when it would not take it.
  bool Focus(QWidget* widget) {
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get())) return false;
    widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([widget] {
      QWidget* focus = QApplication::focusWidget();
      return focus && (focus == widget || widget->isAncestorOf(focus));
    });
  }
};

// Right-clicks a row and chooses the shell menu's entry that starts with
// prefix; answers the entry's text, empty when the menu had none.
inline QString ChooseFromShellMenu(TShellListView* list, const std::string& name, const QString& prefix) {
  QAbstractItemView* view = list->CurrentView();
  QWidget* viewport = view->viewport();
  QPoint at = view->visualRect(list->Model()->index(FormFixture::RowOf(list, name), 0)).center();
  QString chosen;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    poll.stop();
    for (QAction* action : menu->actions())
      if (action->text().startsWith(prefix)) {
        chosen = action->text();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        return;
      }
    menu->close();
  });
  poll.start(10);
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
  QTest::mousePress(viewport, Qt::RightButton, {}, at);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &event);
  QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
  return chosen;
}
