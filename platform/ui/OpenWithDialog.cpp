#include "platform/ui/OpenWithDialog.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/namespace/PathText.h"

namespace {

QString FromBytes(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

OpenWithDialog::OpenWithDialog(QWidget* parent, const QString& what, std::vector<DesktopApplication> applications,
                               const QString& reason)
    : QDialog(parent), applications_(std::move(applications)) {
  setObjectName(QStringLiteral("openWithDialog"));
  setWindowTitle(QStringLiteral("プログラムから開く"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(this);
  label->setObjectName(QStringLiteral("messageLabel"));
  label->setWordWrap(true);
  QString text = applications_.empty() ? QStringLiteral("「%1」を開くプログラムが見つかりません。").arg(what)
                                       : QStringLiteral("「%1」を開くプログラムを選んでください。").arg(what);
  if (!reason.isEmpty())
    text = reason.arg(what) + "\n" +
           (applications_.empty() ? QStringLiteral("開けるプログラムがありません。")
                                  : QStringLiteral("開くプログラムを選んでください。"));
  label->setText(text);
  // Wide enough for a file name and its reason on a line or two.
  setMinimumWidth(440);
  layout->addWidget(label);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("applicationList"));
  for (const DesktopApplication& app : applications_) {
    QString icon = FromBytes(app.icon);
    QIcon image = icon.startsWith(QLatin1Char('/')) ? QIcon(icon) : QIcon::fromTheme(icon);
    list_->addItem(new QListWidgetItem(image, app.name));
  }
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("開く"), QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("okButton"));
  QPushButton* cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemActivated, this, &QDialog::accept);
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { ok_->setEnabled(row >= 0); });
  if (!applications_.empty()) list_->setCurrentRow(0);
  ok_->setEnabled(!applications_.empty());
}

const DesktopApplication* OpenWithDialog::Chosen() const {
  int row = list_->currentRow();
  return row >= 0 && row < static_cast<int>(applications_.size()) ? &applications_[row] : nullptr;
}

bool ChooseAndOpenWith(QWidget* parent, const std::vector<std::string>& paths, const QString& reason) {
  if (paths.empty()) return false;
  QString what = paths.size() == 1 ? FromBytes(BaseName(paths[0])) : QStringLiteral("%1 個の項目").arg(paths.size());
  std::vector<DesktopApplication> applications = ApplicationsForPaths(paths);
  if (applications.empty()) applications = ApplicationsTakingFiles();
  OpenWithDialog dialog(parent, what, std::move(applications), reason);
  if (dialog.exec() != QDialog::Accepted || !dialog.Chosen()) return false;
  return LaunchApplication(*dialog.Chosen(), paths);
}
