#include "app/Form3.h"

#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>

#include "shell/ShellListView.h"

// --- TRadioGroup ---------------------------------------------------------------

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 2, 8, 4);
  layout->setSpacing(2);
  for (const QString& text : items) {
    auto* button = new QRadioButton(text, this);
    group_->addButton(button, static_cast<int>(buttons_.size()));
    buttons_.push_back(button);
    layout->addWidget(button);
  }
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < Count()) {
    buttons_[static_cast<size_t>(index)]->setChecked(true);
    return;
  }
  // An exclusive group will not uncheck its last button.
  group_->setExclusive(false);
  for (QRadioButton* button : buttons_) button->setChecked(false);
  group_->setExclusive(true);
}

QWidget* TRadioGroup::FocusButton() const {
  int index = ItemIndex();
  if (index >= 0) return buttons_[static_cast<size_t>(index)];
  return buttons_.empty() ? nullptr : buttons_.front();
}

// --- TForm3 --------------------------------------------------------------------

TForm3::TForm3(TShellListView* lv1, TShellListView* lv2, QWidget* parent) : QDialog(parent), lv1_(lv1), lv2_(lv2) {
  setObjectName("Form3");
  setWindowTitle("Form3");
  QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
  font.setPixelSize(12);
  setFont(font);

  RadioGroup1 = new TRadioGroup(QStringLiteral("表示"),
                                {QStringLiteral("大きいアイコン"), QStringLiteral("小さいアイコン"),
                                 QStringLiteral("一覧"), QStringLiteral("詳細")},
                                this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup2 = new TRadioGroup(
      QStringLiteral("アイコンの整列"),
      {QStringLiteral("名前順"), QStringLiteral("種類順"), QStringLiteral("サイズ順"), QStringLiteral("日付順")}, this);
  RadioGroup2->setObjectName("RadioGroup2");
  RadioGroup3 = new TRadioGroup(QStringLiteral("並び順"), {QStringLiteral("昇順"), QStringLiteral("降順")}, this);
  RadioGroup3->setObjectName("RadioGroup3");
  CheckBox1 = new QCheckBox(QStringLiteral("隠しフォルダを表示"), this);
  CheckBox1->setObjectName("CheckBox1");
  Button1 = new QPushButton(QStringLiteral("OK(&O)"), this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
  Button2->setObjectName("Button2");
  RadioGroup4 =
      new TRadioGroup(QStringLiteral("RadioGroup4"), {QStringLiteral("Form1"), QStringLiteral("Form2")}, this);
  RadioGroup4->setObjectName("RadioGroup4");
  RadioGroup4->hide();

  auto* groups = new QHBoxLayout;
  groups->addWidget(RadioGroup1);
  groups->addWidget(RadioGroup2);
  groups->addWidget(RadioGroup3, 0, Qt::AlignTop);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(CheckBox1);
  bottom->addStretch();
  bottom->addWidget(Button1);
  bottom->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(6);
  layout->addLayout(groups);
  layout->addLayout(bottom);

  // The arrow keys are seen before the control with the focus takes them.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
  setGeometry(192, 107, 460, 182);
}

int TForm3::SortColumnOfItem(int item) {
  static const int columns[] = {0, 2, 1, 3};
  return item >= 0 && item < 4 ? columns[item] : -1;
}

TShellListView* TForm3::TargetList() const {
  switch (RadioGroup4->ItemIndex()) {
    case 0:
      return lv1_;
    case 1:
      return lv2_;
    default:
      return nullptr;
  }
}

void TForm3::FormShow() {
  if (RadioGroup4->ItemIndex() < 0) RadioGroup4->SetItemIndex(0);
  if (TShellListView* list = TargetList()) {
    RadioGroup1->SetItemIndex(static_cast<int>(list->ViewStyle()));
    CheckBox1->setChecked(list->IncludeHidden());
  }
  if (RadioGroup2->ItemIndex() < 0) RadioGroup2->SetItemIndex(0);
  if (RadioGroup3->ItemIndex() < 0) RadioGroup3->SetItemIndex(0);
  if (QWidget* first = RadioGroup1->FocusButton()) first->setFocus(Qt::OtherFocusReason);
}

void TForm3::Button1Click() {
  if (TShellListView* list = TargetList()) {
    int style = RadioGroup1->ItemIndex();
    if (style >= 0) list->SetViewStyleProperty(static_cast<TViewStyle>(style));
    int column = SortColumnOfItem(RadioGroup2->ItemIndex());
    if (column >= 0) list->SortColumn(column, RadioGroup3->ItemIndex() != 1);
    list->SetIncludeHidden(CheckBox1->isChecked());
  }
  done(QDialog::Accepted);
}

void TForm3::Button2Click() { done(QDialog::Rejected); }

bool TForm3::FormShortCut(QKeyEvent* event) {
  if (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right) return false;
  // The stops in focus order; a group counts as one stop, as a dialog's tab
  // order visits only a group's chosen button.
  const std::vector<QWidget*> stops = {RadioGroup1, RadioGroup2, RadioGroup3, CheckBox1, Button1, Button2};
  QWidget* focused = QApplication::focusWidget();
  if (!focused || focused->window() != this) focused = focusWidget();
  int count = static_cast<int>(stops.size());
  int at = -1;
  for (int i = 0; i < count; ++i)
    if (focused && (focused == stops[i] || stops[i]->isAncestorOf(focused))) at = i;
  int step = event->key() == Qt::Key_Left ? -1 : 1;
  if (at < 0) at = step > 0 ? count - 1 : 0;
  for (int n = 0; n < count; ++n) {
    at = (at + step + count) % count;
    QWidget* stop = stops[static_cast<size_t>(at)];
    if (!stop->isVisibleTo(this) || !stop->isEnabled()) continue;
    auto* group = qobject_cast<TRadioGroup*>(stop);
    QWidget* target = group ? group->FocusButton() : stop;
    if (!target) continue;
    target->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    break;
  }
  event->accept();
  return true;
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  if (!FormShortCut(event)) QDialog::keyPressEvent(event);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this)
    return FormShortCut(static_cast<QKeyEvent*>(event));
  return QDialog::eventFilter(watched, event);
}
