#pragma once
// The run dialog: starts a file with the parameters typed in Edit2, in the
// file's own folder. A program runs with the parameters split as a shell
// would split them (quotes group, nothing is expanded); any other file opens
// in its default application. Failures to start are not reported. Escape does
// not close the dialog; the close box closes it with Rejected.
#include <QDialog>
#include <string>

class QEvent;
class QKeyEvent;
class QLineEdit;
class QPushButton;

class TForm4 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);

  // The file to run, its full path as bytes; shown in the disabled Edit1.
  void SetFileName(const std::string& path);
  const std::string& FileName() const { return fileName_; }

  QLineEdit* Edit1;  // the file (read only)
  QLineEdit* Edit2;  // the parameters
  QPushButton* Button1;
  QPushButton* Button2;

  void Button1Click();
  void Button2Click();

  // Starts the file with the parameters in its folder; false when it did not start.
  static bool RunWithParameters(const std::string& path, const QString& parameters);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string fileName_;
};
