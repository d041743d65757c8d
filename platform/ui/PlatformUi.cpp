#include "platform/ui/PlatformUi.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <set>

#include "platform/desktop/DropTarget.h"
#include "platform/fileops/CopyFile.h"
#include "platform/fileops/FileLinks.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/GioFolder.h"
#include "platform/network/Location.h"
#include "platform/system/Exception.h"
#include "platform/ui/ContextMenu.h"
#include "platform/ui/FileOperationDialogs.h"

namespace {

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// While a job runs, the windows that were open before it take no input: the
// user cannot start a second operation on the files the first is working on.
// Windows opened meanwhile (the progress, the questions) work as usual.
class InputBlocker : public QObject {
 public:
  InputBlocker() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) blocked_.insert(w);
    if (!blocked_.empty()) qApp->installEventFilter(this);
  }
  ~InputBlocker() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Close:
        if (!event->spontaneous()) return false;
        [[fallthrough]];
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::Drop:
        if (!Blocked(object)) return false;
        if (event->type() == QEvent::Close) event->ignore();
        // An accepted override keeps the key from reaching a shortcut.
        if (event->type() == QEvent::ShortcutOverride) event->accept();
        return true;
      default:
        return false;
    }
  }

 private:
  bool Blocked(QObject* object) const {
    for (QObject* o = object; o; o = o->parent()) {
      if (auto* w = qobject_cast<QWidget*>(o)) return blocked_.count(w->window()) > 0;
    }
    return false;
  }
  std::set<QWidget*> blocked_;
};

void ShowErrorBox(const std::string& message) {
  if (!HaveWidgets()) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return;
  }
  QString title = QCoreApplication::applicationName();
  if (title.isEmpty()) title = QStringLiteral("Tolvane");
  QMessageBox::critical(QApplication::activeWindow(), title, QString::fromUtf8(message));
}

}  // namespace

void InstallPlatformUi() {
  network::InstallFolderLister();
  network::RegisterGioFolders();
  SetForeignCopier(network::CopyThroughGio);
  SetContextMenuProvider(CreateItemsContextMenu);
  SetFileOperationUIProvider(FileOperationDialogsFor);
  SetFileOperationInputBlocker([]() -> std::shared_ptr<void> {
    if (!HaveWidgets()) return nullptr;
    return std::make_shared<InputBlocker>();
  });
  SetDefaultExceptionDisplay(ShowErrorBox);
}

void InstallFileOperationDropHandler() {
  SetDropHandler([](const std::vector<std::string>& sources, const std::string& folder, uint32_t effect) {
    QWidget* owner = QApplication::activeWindow();
    IFileOperationUI* ui = DefaultFileOperationUI(owner);
    if (effect == DROPEFFECT_LINK) return CreateLinksInFolder(sources, folder, ui);
    if (effect != DROPEFFECT_COPY && effect != DROPEFFECT_MOVE) return false;
    FileOperationRequest request;
    request.function = effect == DROPEFFECT_MOVE ? FO_MOVE : FO_COPY;
    request.sources = sources;
    request.destination = folder;
    request.flags = FOF_ALLOWUNDO;
    request.owner = owner;
    return RunFileOperation(request, ui).code == 0;
  });
}
