#pragma once
// The view dialog of a pane: view style, sort column and direction, and
// whether hidden items show. It works on one of the two folder lists, chosen
// by RadioGroup4 (0 the left, 1 the right); OK applies the choices to that
// list only and stores nothing. Left and Right move the focus between the
// controls; Up and Down pick within a group.
#include <QDialog>
#include <QGroupBox>
#include <QPointer>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QKeyEvent;
class QPushButton;
class QRadioButton;
class TShellListView;

// A titled group of exclusive choices; ItemIndex -1 means none is chosen.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int ItemIndex() const;
  // -1 (or any index out of range) clears the choice.
  void SetItemIndex(int index);
  int Count() const { return static_cast<int>(buttons_.size()); }
  QRadioButton* Button(int index) const { return buttons_.at(static_cast<size_t>(index)); }
  // The button that takes the focus: the chosen one, else the first.
  QWidget* FocusButton() const;

 private:
  QButtonGroup* group_;
  std::vector<QRadioButton*> buttons_;
};

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  // The two lists are not owned; either may be null (nothing is applied to it).
  TForm3(TShellListView* lv1, TShellListView* lv2, QWidget* parent = nullptr);

  TRadioGroup* RadioGroup1;  // view style, in TViewStyle order
  TRadioGroup* RadioGroup2;  // sort by name, type, size, date
  TRadioGroup* RadioGroup3;  // ascending, descending
  QCheckBox* CheckBox1;      // show hidden items
  QPushButton* Button1;      // OK
  QPushButton* Button2;      // cancel
  TRadioGroup* RadioGroup4;  // hidden: the target list

  // The list column that RadioGroup2's item sorts by: name 0, type 2, size 1, date 3.
  static int SortColumnOfItem(int item);
  // The list RadioGroup4 names; null when none.
  TShellListView* TargetList() const;

  void FormShow();
  void Button1Click();
  void Button2Click();
  // Left and Right move the focus; true when the key was taken.
  bool FormShortCut(QKeyEvent* event);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<TShellListView> lv1_;
  QPointer<TShellListView> lv2_;
};
