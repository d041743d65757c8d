#include "app/Form2.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include <cerrno>

#include "platform/fileops/ErrorText.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/PathText.h"

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("Form2");
  QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
  font.setPixelSize(12);
  setFont(font);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->hide();
  Label2 = new QLabel(QStringLiteral("名前を変えてください"), this);
  Label2->setObjectName("Label2");
  Label2->setWordWrap(true);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->installEventFilter(this);
  OK = new QPushButton(QStringLiteral("OK"), this);
  OK->setObjectName("OK");
  Button1 = new QPushButton(QStringLiteral("キャンセル"), this);
  Button1->setObjectName("Button1");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OK);
  buttons->addWidget(Button1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(4);
  layout->addWidget(Label2);
  layout->addWidget(Edit1);
  layout->addLayout(buttons);

  connect(OK, &QPushButton::clicked, this, &TForm2::OKClick);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  setGeometry(353, 98, 212, 104);
}

void TForm2::SetFileName(const std::string& path) {
  fileName_ = path;
  Label1->setText(QString::fromStdString(path));
}

void TForm2::FormShow() {
  Label2->setText(QStringLiteral("名前を変えてください"));
  Edit1->setFocus();
  shownName_ = BaseName(fileName_);
  Edit1->setText(QString::fromStdString(shownName_));
}

void TForm2::OKClick() {
  // An untouched name keeps its bytes: a name that is not UTF-8 would not
  // survive the trip through the edit and the file would be renamed by OK.
  std::string newName = Edit1->text() == QString::fromStdString(shownName_) ? shownName_ : Edit1->text().toStdString();
  std::string oldName = BaseName(fileName_);
  if (!fileName_.empty() && oldName != "/") {
    // A name that is taken or no name at all leaves the file as it was; the
    // dialog says why and stays open for a corrected name.
    errno = 0;
    if (!RenameNoReplace(DirName(fileName_), oldName, newName)) {
      int error = errno;
      Label2->setText(QString::fromStdString(RenameErrorText(newName, error)));
      FitMessage();
      Edit1->setFocus();
      Edit1->selectAll();
      return;
    }
  }
  done(QDialog::Accepted);
}

void TForm2::FitMessage() {
  // As wide as the longest line of the reason (within most of the screen),
  // as tall as it then needs: the small design size would clip it.
  const QFontMetrics metrics(Label2->font());
  int widest = 0;
  for (const QString& line : Label2->text().split('\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
  const QScreen* shownOn = screen();
  const int most = shownOn ? shownOn->availableGeometry().width() * 3 / 4 : 800;
  Label2->setMinimumWidth(std::min(widest + 4, most));
  layout()->activate();
  const int w = std::max(width(), minimumSizeHint().width());
  const int h = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(w) : sizeHint().height();
  resize(w, std::max(height(), h));
}

void TForm2::Button1Click() { done(QDialog::Rejected); }

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  // There is no cancel button: Escape does not close the dialog.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      OK->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
