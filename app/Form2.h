#pragma once
// The rename dialog: one file at a time, the new name typed over the old one.
// The caller sets the full path and shows the dialog modally; OK renames the
// file in its folder and closes with Accepted, the close box with Rejected.
// Escape does not close it. Renaming never replaces an existing file: a name
// that is taken (or not a valid name) leaves the file as it was, and the
// dialog shows why in Label2 and stays open for another name.
#include <QDialog>
#include <string>

class QEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  // The file to rename, its full path as bytes; shown in the hidden Label1.
  void SetFileName(const std::string& path);
  const std::string& FileName() const { return fileName_; }

  QLabel* Label1;  // hidden: the full path
  QLabel* Label2;
  QLineEdit* Edit1;
  QPushButton* OK;
  QPushButton* Button1;

  void FormShow();
  void OKClick();
  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Grows the dialog so that Label2's reason shows whole.
  void FitMessage();

  std::string fileName_;
  std::string shownName_;  // the name bytes Edit1 was filled with
};
