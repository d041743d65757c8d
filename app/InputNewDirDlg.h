#pragma once
// Asks for the name of a new folder inside a given one. OK is enabled exactly
// while a name is typed; the name may hold '/' and then names a chain of
// folders. The caller creates what GetNewDirPath answers, with every missing
// folder above it.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TInputNewDirDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TInputNewDirDlg(QWidget* parent = nullptr);

  // The folder to create in, as bytes; shown without a trailing '/' ("/" stays).
  void SetInitialDir(const std::string& folder);
  const std::string& InitialDir() const { return initialDir_; }
  // The folder, '/', the typed name, '/'; empty when no folder was given.
  std::string GetNewDirPath() const;

  QLabel* lblInitialDir;
  QLineEdit* txtInitialDir;
  QLabel* lblDirName;
  QLineEdit* edtDirName;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  void FormShow();
  // Keeps btnOK enabled exactly while a name is typed.
  void ApplicationEventsIdle();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::string initialDir_;
};
