#include "app/InputNewDirDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/system/TrailingSlash.h"

TInputNewDirDlg::TInputNewDirDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("InputNewDirDlg");
  setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞの新規作成"));
  QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
  font.setPixelSize(12);
  setFont(font);

  lblInitialDir = new QLabel(QStringLiteral("作成する場所(&I)："), this);
  lblInitialDir->setObjectName("lblInitialDir");
  txtInitialDir = new QLineEdit(QStringLiteral("InitialDir"), this);
  txtInitialDir->setObjectName("txtInitialDir");
  txtInitialDir->setReadOnly(true);
  lblInitialDir->setBuddy(txtInitialDir);
  lblDirName = new QLabel(QStringLiteral("ﾌｫﾙﾀﾞ名(&N)："), this);
  lblDirName->setObjectName("lblDirName");
  edtDirName = new QLineEdit(this);
  edtDirName->setObjectName("edtDirName");
  lblDirName->setBuddy(edtDirName);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setAutoDefault(false);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setHorizontalSpacing(6);
  layout->setVerticalSpacing(6);
  layout->addWidget(lblInitialDir, 0, 0);
  layout->addWidget(txtInitialDir, 0, 1);
  layout->addWidget(lblDirName, 1, 0);
  layout->addWidget(edtDirName, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons, 2, 0, 1, 2);

  // Escape reaches QDialog::reject as well: the cancel button's own key.
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(edtDirName, &QLineEdit::textChanged, this, &TInputNewDirDlg::ApplicationEventsIdle);
  setFixedSize(394, 101);
  ApplicationEventsIdle();
}

void TInputNewDirDlg::SetInitialDir(const std::string& folder) {
  const std::string dir = WithoutTrailingSlash(folder);
  initialDir_ = dir;
  txtInitialDir->setText(QString::fromStdString(dir));
}

std::string TInputNewDirDlg::GetNewDirPath() const {
  // Without a folder the name would land below "/": answer nothing instead.
  if (initialDir_.empty()) return {};
  std::string path = initialDir_;
  if (path.back() != '/') path += '/';
  return path + edtDirName->text().toStdString() + '/';
}

void TInputNewDirDlg::FormShow() {
  edtDirName->clear();
  edtDirName->setFocus();
  ApplicationEventsIdle();
  if (QScreen* where = screen()) move(where->availableGeometry().center() - rect().center());
}

void TInputNewDirDlg::ApplicationEventsIdle() { btnOK->setEnabled(!edtDirName->text().isEmpty()); }

void TInputNewDirDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}
