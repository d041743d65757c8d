#include "app/Form4.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/desktop/OpenWith.h"
#include "platform/namespace/PathText.h"

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
  setObjectName("Form4");
  setWindowTitle("Form4");
  QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
  font.setPixelSize(12);
  setFont(font);

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setEnabled(false);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Edit2->installEventFilter(this);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
  Button2->setObjectName("Button2");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);
  layout->addWidget(Edit1);
  layout->addWidget(Edit2);
  layout->addLayout(buttons);

  connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
  setGeometry(192, 107, 363, 133);
}

void TForm4::SetFileName(const std::string& path) {
  fileName_ = path;
  Edit1->setText(QString::fromStdString(path));
}

bool TForm4::RunWithParameters(const std::string& path, const QString& parameters) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
    std::vector<std::string> argv{path};
    for (const QString& argument : QProcess::splitCommand(parameters)) argv.push_back(argument.toStdString());
    return StartDetachedProgram(argv, DirName(path));
  }
  // A document (or a folder) has no parameters of its own to take.
  return OpenWithDefaultApplication(path);
}

void TForm4::Button1Click() {
  RunWithParameters(fileName_, Edit2->text());
  done(QDialog::Accepted);
}

void TForm4::Button2Click() { done(QDialog::Rejected); }

void TForm4::keyPressEvent(QKeyEvent* event) {
  // There is no cancel button: Escape does not close the dialog.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit2 && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      Button1->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
