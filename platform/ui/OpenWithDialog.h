#pragma once
// The chooser of "open with": the applications for the files, the first
// selected; what is chosen starts detached.
//
//   object names: openWithDialog, applicationList, okButton, cancelButton
#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "platform/desktop/OpenWith.h"

class QListWidget;
class QPushButton;

class OpenWithDialog : public QDialog {
  Q_OBJECT
 public:
  OpenWithDialog(QWidget* parent, const QString& what, std::vector<DesktopApplication> applications,
                 const QString& reason = {});
  // The chosen application; null when none is selected.
  const DesktopApplication* Chosen() const;

 private:
  std::vector<DesktopApplication> applications_;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// Shows the chooser for the paths and starts what was chosen; false when
// nothing was chosen or it did not start. reason, when given, heads the
// chooser instead of its usual line ("%1" is the file's name); with no
// application for the type, every application that takes files is offered.
bool ChooseAndOpenWith(QWidget* parent, const std::vector<std::string>& paths, const QString& reason = {});
