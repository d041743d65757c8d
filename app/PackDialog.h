#pragma once
// The pack dialog: the new archive's name, its format, the compression level
// and, where the format takes one, a password.
#include <QDialog>
#include <string>

#include "archive/ArchiveUpdate.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class TPackDialog : public QDialog {
 public:
  // stem: the name without an extension; folder: where the archive goes.
  TPackDialog(QWidget* parent, const std::string& stem, const std::string& folder, int count);

  // The choice once accepted: target (in the folder), format, level, password.
  PackRequest Choice() const;

  QLineEdit* NameEdit;
  QComboBox* FormatBox;
  QSpinBox* LevelBox;
  QLineEdit* PasswordEdit;
  QLineEdit* ConfirmEdit;
  QLabel* ErrorLabel;

  void accept() override;

 private:
  void FormatChanged();
  // Why the fields cannot be used; empty when they can.
  QString Problem() const;

  std::string folder_;
  QString extension_;
};
