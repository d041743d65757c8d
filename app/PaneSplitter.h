#pragma once
// The splitter of the main window's panes: when the window is resized the two
// folder panes keep their proportion and the trees beside them their width.
#include <QPointer>
#include <QSplitter>

class TPaneSplitter : public QSplitter {
 public:
  explicit TPaneSplitter(QWidget* parent);
  // The two panes that share what the other widgets leave.
  void SetPanes(QWidget* left, QWidget* right);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointer<QWidget> left_, right_;
};
