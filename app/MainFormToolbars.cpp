// The launcher bar (ToolBar1) and the folder bar (ToolBar2): building them
// from their lines and what their buttons do.
// A button's Hint, the path it stands for, is kept as bytes in a property so
// that names that are not UTF-8 survive the bar's save and load.
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>
#include <functional>

#include "app/MainForm.h"
#include "platform/system/Exception.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/SystemImageList.h"
#include "shell/ShellCtrls.h"

namespace {

const char* const kHintProperty = "Hint";
const char* const kImageIndexProperty = "ImageIndex";
constexpr uint32_t kDirectoryBit = 16;

// A bar button that also reports the mouse buttons going down on it.
class BarButton : public QToolButton {
 public:
  explicit BarButton(QWidget* parent) : QToolButton(parent) {}
  std::function<void(Qt::MouseButton button, const QPoint& globalPos)> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (OnMouseDown) OnMouseDown(event->button(), event->globalPosition().toPoint());
    if (event->button() == Qt::LeftButton)
      QToolButton::mousePressEvent(event);
    else
      event->accept();
  }
};

// The extension of a name: from its last dot, unless that dot begins the
// name (".config" is a hidden name, not an extension).
bool HasExtension(const std::string& path) {
  std::string name = BaseName(path);
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0;
}

std::string WithoutExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0 ? name.substr(0, dot) : name;
}

// A caption shows '&' as it is, not as a mnemonic.
QString CaptionText(const std::string& text) { return QString::fromStdString(text).replace('&', "&&"); }

// The file's small icon as the shell shows it; null when the path names nothing.
QIcon SmallShellIcon(const std::string& path) {
  PItemIDList list = nullptr;
  if (path.empty() || !PathToIDList(path, list)) return {};
  int index = GetSysIconIndex(list, false, false);
  FreeIDList(list);
  if (index < 0) return {};
  return QIcon(SystemImageList::Instance().Pixmap(index, 16));
}

}  // namespace

QToolButton* TForm1::AddBarButton(QToolBar* toolBar, QAction* before, const QString& caption, const std::string& hint) {
  // Made without a parent: the action takes the widget out of any window
  // first, and leaving the main window walks its whole focus chain.
  auto* button = new BarButton(nullptr);
  button->setText(caption);
  button->setToolTip(QString::fromStdString(hint));
  button->setProperty(kHintProperty, QByteArray(hint.data(), static_cast<qsizetype>(hint.size())));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  button->setIconSize(QSize(16, 16));
  // The right button belongs to the folder menu, never to a context menu.
  button->setContextMenuPolicy(Qt::PreventContextMenu);
  auto* action = new QWidgetAction(toolBar);
  action->setDefaultWidget(button);
  toolBar->insertAction(before, action);
  return button;
}

// The new buttons go in front of those already there, in line order, each
// before the same first action: no list of actions is copied per line.
void TForm1::BuildLauncherBar(const TLineList& lines, QToolBar* toolBar, std::vector<QIcon>& imageList) {
  QAction* front = toolBar->actions().isEmpty() ? nullptr : toolBar->actions().front();
  std::vector<QIcon> icons;
  icons.reserve(static_cast<size_t>(lines.Count()));
  for (int k = 0; k < lines.Count(); ++k) {
    const std::string& path = lines[k];
    QIcon icon = SmallShellIcon(path);
    if (icon.isNull()) {
      Hooks.ShowMessage(QStringLiteral("アイコンがありません.どうしよう"));
      // The line keeps its picture position, so its neighbours keep theirs.
      icon = SystemImageList::Instance().Icon(SystemImageList::Instance().PlaceholderIndex());
    }
    icons.push_back(icon);
    QToolButton* button = AddBarButton(toolBar, front, CaptionText(WithoutExtension(BaseName(path))), path);
    button->setProperty(kImageIndexProperty, k);
    auto* bar = static_cast<BarButton*>(button);
    connect(bar, &QToolButton::clicked, this, [this, bar] { Guarded([&] { LauncherClick(bar); }); });
  }
  imageList.insert(imageList.begin(), icons.begin(), icons.end());
  // The pictures are looked up by position once the list is complete.
  for (QToolButton* button : Buttons(toolBar)) {
    bool ok = false;
    int index = button->property(kImageIndexProperty).toInt(&ok);
    button->setIcon(ok && index >= 0 && index < static_cast<int>(imageList.size()) ? imageList[index] : QIcon());
  }
}

void TForm1::BuildFolderBar(const TLineList& lines, QToolBar* toolBar) {
  QAction* front = toolBar->actions().isEmpty() ? nullptr : toolBar->actions().front();
  for (int k = 0; k < lines.Count(); ++k) {
    const std::string& path = lines[k];
    // A root has no last name, so its button shows only the picture.
    std::string name = path == "/" ? std::string() : BaseName(path);
    QToolButton* button = AddBarButton(toolBar, front, CaptionText(name), path);
    button->setIcon(ImageList2);
    auto* bar = static_cast<BarButton*>(button);
    connect(bar, &QToolButton::clicked, this, [this, bar] { Guarded([&] { FolderButtonClick(bar); }); });
    bar->OnMouseDown = [this, bar](Qt::MouseButton pressed, const QPoint& globalPos) {
      Guarded([&] { FolderButtonMouseDown(bar, pressed, globalPos); });
    };
  }
}

void TForm1::ClearToolBar(QToolBar* toolBar, std::vector<QIcon>* imageList) {
  for (QAction* action : toolBar->actions()) {
    toolBar->removeAction(action);
    // Later: the button may be the one whose handler is running.
    action->deleteLater();
  }
  if (imageList) imageList->clear();
}

std::vector<QToolButton*> TForm1::Buttons(QToolBar* toolBar) const {
  std::vector<QToolButton*> buttons;
  for (QAction* action : toolBar->actions())
    if (auto* widgetAction = qobject_cast<QWidgetAction*>(action))
      if (auto* button = qobject_cast<QToolButton*>(widgetAction->defaultWidget())) buttons.push_back(button);
  return buttons;
}

std::string TForm1::HintOf(QToolButton* button) {
  if (!button) return {};
  return button->property(kHintProperty).toByteArray().toStdString();
}

void TForm1::LauncherClick(QToolButton* button) { ShellOpen(HintOf(button)); }

void TForm1::FolderButtonClick(QToolButton* button) {
  std::string path = HintOf(button);
  // A mouse click leaves the focus where it was, so the pane last used follows.
  if (TPane* pane = CurrentPane()) pane->List->SetPathName(path);
}

void TForm1::FolderButtonMouseDown(QToolButton* button, Qt::MouseButton button2, const QPoint& globalPos) {
  if (button2 != Qt::RightButton) return;
  QWidget* focus = QApplication::focusWidget();
  TPane* target = nullptr;
  for (TPane* pane : {&Left, &Right})
    if (!target && pane->HasFocus(focus)) target = pane;
  if (!target) {
    Hooks.ShowMessage(QStringLiteral("どちらに展開すべきかわかりません"));
    return;
  }
  PopupMenu2Tag = target->Index();
  PopupMenu2Root = QString::fromStdString(HintOf(button));
  Hooks.ExecPopup(PopupMenu2, globalPos);
}

std::string TForm1::SelectedFolderPath(TShellListView* list) {
  if (!list) return {};
  TShellFileItem* item = list->FileList()->Items(list->NextSelectedRow(-1));
  if (!item) return {};
  std::string path = item->GetItemPath();
  if (path.empty() || HasExtension(path)) return {};
  return item->GetItemAttributes() & kDirectoryBit ? path : std::string();
}
