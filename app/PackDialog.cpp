#include "app/PackDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/namespace/ShellFolderBase.h"

namespace {

constexpr PackFormat kFormats[] = {PackFormat::Zip, PackFormat::SevenZip, PackFormat::TarGz, PackFormat::TarXz};

}  // namespace

TPackDialog::TPackDialog(QWidget* parent, const std::string& stem, const std::string& folder, int count)
    : QDialog(parent), folder_(folder) {
  setObjectName(QStringLiteral("packDialog"));
  setWindowTitle(QStringLiteral("圧縮 (%1 項目)").arg(count));
  auto* form = new QFormLayout;
  auto* place = new QLabel(QString::fromStdString(folder), this);
  place->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(QStringLiteral("作成先:"), place);
  NameEdit = new QLineEdit(this);
  NameEdit->setObjectName(QStringLiteral("packName"));
  form->addRow(QStringLiteral("書庫の名前(&N):"), NameEdit);
  FormatBox = new QComboBox(this);
  FormatBox->setObjectName(QStringLiteral("packFormat"));
  FormatBox->addItems(
      {QStringLiteral("ZIP"), QStringLiteral("7z"), QStringLiteral("tar.gz"), QStringLiteral("tar.xz")});
  form->addRow(QStringLiteral("形式(&F):"), FormatBox);
  LevelBox = new QSpinBox(this);
  LevelBox->setObjectName(QStringLiteral("packLevel"));
  LevelBox->setRange(0, 9);
  LevelBox->setValue(6);
  LevelBox->setToolTip(QStringLiteral("0 は無圧縮、9 は最も小さく (時間がかかります)"));
  form->addRow(QStringLiteral("圧縮レベル(&L):"), LevelBox);
  PasswordEdit = new QLineEdit(this);
  PasswordEdit->setObjectName(QStringLiteral("packPassword"));
  PasswordEdit->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("パスワード(&P):"), PasswordEdit);
  ConfirmEdit = new QLineEdit(this);
  ConfirmEdit->setObjectName(QStringLiteral("packPasswordAgain"));
  ConfirmEdit->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("パスワードの確認:"), ConfirmEdit);
  ErrorLabel = new QLabel(this);
  ErrorLabel->setObjectName(QStringLiteral("packError"));
  ErrorLabel->setStyleSheet(QStringLiteral("color: #b00020"));
  ErrorLabel->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &TPackDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(ErrorLabel);
  layout->addWidget(buttons);
  setMinimumWidth(440);

  extension_ = QString::fromLatin1(PackExtension(PackFormat::Zip));
  NameEdit->setText(QString::fromStdString(stem) + extension_);
  // The stem selected, so typing renames without touching the extension.
  NameEdit->setSelection(0, static_cast<int>(QString::fromStdString(stem).size()));
  connect(FormatBox, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
  FormatChanged();
}

void TPackDialog::FormatChanged() {
  const PackFormat format = kFormats[std::max(0, FormatBox->currentIndex())];
  const QString next = QString::fromLatin1(PackExtension(format));
  QString name = NameEdit->text();
  if (name.endsWith(extension_, Qt::CaseInsensitive)) name.chop(extension_.size());
  NameEdit->setText(name + next);
  extension_ = next;
  // The libraries encrypt ZIP entries only; a 7z or tar would go out unprotected.
  const bool takes = PackTakesPassword(format);
  PasswordEdit->setEnabled(takes);
  ConfirmEdit->setEnabled(takes);
  if (!takes) {
    PasswordEdit->clear();
    ConfirmEdit->clear();
  }
  PasswordEdit->setPlaceholderText(takes ? QString() : QStringLiteral("この形式では使えません"));
}

QString TPackDialog::Problem() const {
  const QString name = NameEdit->text().trimmed();
  if (name.isEmpty()) return QStringLiteral("書庫の名前を入力してください。");
  if (name.contains('/') || name == "." || name == "..")
    return QStringLiteral("書庫の名前に「/」や「.」「..」は使えません。");
  if (name.toUtf8().size() > 255) return QStringLiteral("書庫の名前が長すぎます。");
  if (PasswordEdit->text() != ConfirmEdit->text()) return QStringLiteral("パスワードが確認と一致しません。");
  return {};
}

void TPackDialog::accept() {
  const QString problem = Problem();
  ErrorLabel->setText(problem);
  if (problem.isEmpty()) QDialog::accept();
}

PackRequest TPackDialog::Choice() const {
  PackRequest request;
  request.format = kFormats[std::max(0, FormatBox->currentIndex())];
  request.target = JoinPath(folder_, NameEdit->text().trimmed().toStdString());
  request.level = LevelBox->value();
  request.password = PasswordEdit->isEnabled() ? PasswordEdit->text().toStdString() : std::string();
  return request;
}
