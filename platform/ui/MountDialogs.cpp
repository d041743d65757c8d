#include "platform/ui/MountDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/system/SyncCall.h"

namespace {

QLabel* MessageLabel(QDialog* dialog, const QString& text) {
  auto* label = new QLabel(text, dialog);
  label->setObjectName(QStringLiteral("messageLabel"));
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QPushButton* NamedButton(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role,
                         const char* name) {
  QPushButton* button = box->addButton(text, role);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

MountDialogs::MountDialogs(QWidget* owner, TEvent* stopEvent) : owner_(owner), stopEvent_(stopEvent) {}

bool MountDialogs::AskPassword(const network::PasswordRequest& request, network::PasswordAnswer& answer) {
  bool ok = false;
  const bool askedBefore = passwordsAsked_++ > 0;
  SyncCall([&] { ok = ShowPasswordDialog(owner_, request, askedBefore, answer); }, stopEvent_);
  return ok;
}

int MountDialogs::AskChoice(const std::string& message, const std::vector<std::string>& choices) {
  int choice = -1;
  SyncCall([&] { choice = ShowChoiceDialog(owner_, message, choices); }, stopEvent_);
  return choice;
}

bool MountDialogs::AcceptHostKey(const std::string& uri, const std::string& fingerprint, const std::string& message) {
  bool accepted = false;
  SyncCall([&] { accepted = ShowHostKeyDialog(owner_, uri, fingerprint, message); }, stopEvent_);
  return accepted;
}

bool MountDialogs::ShowPasswordDialog(QWidget* owner, const network::PasswordRequest& request, bool askedBefore,
                                      network::PasswordAnswer& answer) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("mountPasswordDialog"));
  dialog.setWindowTitle(QStringLiteral("ネットワークの場所にログイン"));
  auto* layout = new QVBoxLayout(&dialog);
  // The backend's own words follow ours, in the desktop's language.
  QString text = askedBefore ? QStringLiteral("受け付けられませんでした。もう一度入力してください。")
                             : QStringLiteral("ネットワークの場所にログインします。");
  text += QStringLiteral("\n\n") + QString::fromStdString(request.message);
  layout->addWidget(MessageLabel(&dialog, text));

  auto* form = new QFormLayout;
  auto edit = [&](const char* name, const QString& label, const std::string& value, bool shown) {
    auto* line = new QLineEdit(QString::fromStdString(value), &dialog);
    line->setObjectName(QString::fromLatin1(name));
    if (shown) form->addRow(label, line);
    line->setVisible(shown);
    return line;
  };
  QLineEdit* user = edit("userEdit", QStringLiteral("ユーザー名(&U):"), answer.user, request.needUser);
  QLineEdit* domain = edit("domainEdit", QStringLiteral("ドメイン(&D):"), answer.domain, request.needDomain);
  QLineEdit* password = edit("passwordEdit", QStringLiteral("パスワード(&P):"), {}, request.needPassword);
  password->setEchoMode(QLineEdit::Password);
  layout->addLayout(form);

  auto* anonymous = new QCheckBox(QStringLiteral("匿名で接続する(&A)"), &dialog);
  anonymous->setObjectName(QStringLiteral("anonymousBox"));
  anonymous->setVisible(request.anonymousAllowed);
  layout->addWidget(anonymous);
  auto* remember = new QCheckBox(QStringLiteral("パスワードをキーリングに記憶する(&R)"), &dialog);
  remember->setObjectName(QStringLiteral("rememberBox"));
  remember->setVisible(request.canRemember);
  layout->addWidget(remember);
  QObject::connect(anonymous, &QCheckBox::toggled, &dialog, [=](bool on) {
    for (QWidget* w : {static_cast<QWidget*>(user), static_cast<QWidget*>(domain), static_cast<QWidget*>(password),
                       static_cast<QWidget*>(remember)})
      w->setEnabled(!on);
  });

  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* okButton = NamedButton(buttons, QStringLiteral("接続"), QDialogButtonBox::AcceptRole, "okButton");
  NamedButton(buttons, QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole, "cancelButton");
  okButton->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (request.needPassword && (!request.needUser || !answer.user.empty())) password->setFocus();

  if (dialog.exec() != QDialog::Accepted) return false;
  answer.user = user->text().toStdString();
  answer.domain = domain->text().toStdString();
  answer.password = password->text().toStdString();
  answer.remember = remember->isChecked();
  answer.anonymous = anonymous->isChecked();
  return true;
}

int MountDialogs::ShowChoiceDialog(QWidget* owner, const std::string& message,
                                   const std::vector<std::string>& choices) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("mountChoiceDialog"));
  dialog.setWindowTitle(QStringLiteral("ネットワークの場所の確認"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(MessageLabel(&dialog, QString::fromStdString(message)));
  auto* buttons = new QDialogButtonBox(&dialog);
  int chosen = -1;
  for (size_t i = 0; i < choices.size(); ++i) {
    const std::string name = "choiceButton" + std::to_string(i);
    QPushButton* button =
        NamedButton(buttons, QString::fromStdString(choices[i]), QDialogButtonBox::ActionRole, name.c_str());
    QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &chosen, i] {
      chosen = static_cast<int>(i);
      dialog.accept();
    });
  }
  NamedButton(buttons, QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole, "cancelButton");
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return dialog.exec() == QDialog::Accepted ? chosen : -1;
}

bool MountDialogs::ShowHostKeyDialog(QWidget* owner, const std::string& uri, const std::string& fingerprint,
                                     const std::string& message) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("mountHostKeyDialog"));
  dialog.setWindowTitle(QStringLiteral("サーバーの確認"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(MessageLabel(
      &dialog, QStringLiteral("「%1」のサーバーには初めて接続します。サーバーが示した鍵の指紋は次のとおりです。")
                   .arg(QString::fromStdString(uri))));
  auto* print = new QLabel(QString::fromStdString(fingerprint), &dialog);
  print->setObjectName(QStringLiteral("fingerprintLabel"));
  print->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont mono = print->font();
  mono.setFamily(QStringLiteral("monospace"));
  print->setFont(mono);
  layout->addWidget(print);
  auto* advice = new QLabel(QStringLiteral("サーバーの管理者から知らされた指紋と同じときだけ接続してください。"
                                           "接続すると鍵が記憶され、次からは確かめません。"),
                            &dialog);
  advice->setWordWrap(true);
  layout->addWidget(advice);
  // The backend's own words, for whoever wants them.
  print->setToolTip(QString::fromStdString(message));

  auto* buttons = new QDialogButtonBox(&dialog);
  NamedButton(buttons, QStringLiteral("接続する(&C)"), QDialogButtonBox::AcceptRole, "connectButton");
  QPushButton* cancel = NamedButton(buttons, QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole, "cancelButton");
  // An Enter pressed out of habit does not trust an unknown server.
  cancel->setDefault(true);
  cancel->setFocus();
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return dialog.exec() == QDialog::Accepted;
}
