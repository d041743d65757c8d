#pragma once
// Renaming the selection at once by a pattern: the rule's fields above, a
// live preview of every old and new name below, conflicts marked and OK
// disabled while any stands. The patterns used are kept in the state folder.
//   object names: renameManyDialog, renameNamePattern, renameExtPattern,
//   renameFind, renameReplace, renameRegex, renameIgnoreCase, renameCase,
//   renameStart, renameStep, renameWidth, renamePreview, renameStatus
#include <QDialog>
#include <string>
#include <vector>

#include "platform/fileops/RenamePattern.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

class TRenameManyDialog : public QDialog {
 public:
  TRenameManyDialog(QWidget* parent, std::vector<RenameSource> sources);

  RenameRule Rule() const;
  // Recomputes the preview now (otherwise it follows the typing shortly).
  void UpdatePreview();
  const std::vector<RenamePreviewRow>& Rows() const { return rows_; }
  // Renames as previewed, as one job; says why when it fails. True when done.
  bool Execute();

  QComboBox* NamePattern;
  QLineEdit *ExtPattern, *Find, *Replace;
  QCheckBox *Regex, *IgnoreCase;
  QComboBox* LetterCase;
  QSpinBox *Start, *Step, *Width;
  QTableWidget* Preview;
  QLabel* Status;
  QPushButton *OkButton, *CancelButton;

  // The file of the pattern history.
  static std::string HistoryFile();

 protected:
  void accept() override;

 private:
  void SaveHistory();

  std::vector<RenameSource> sources_;
  std::vector<RenamePreviewRow> rows_;
  QTimer* delay_;
};

// The command: the dialog over the selected names of one folder.
void RenameMany(QWidget* owner, const std::string& folder, const std::vector<std::string>& names);
