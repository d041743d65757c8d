#include "app/CompareDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "app/WorkerRun.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s); }

QString Facts(const CompareSide& side) {
  if (!side.present) return QStringLiteral("-");
  QString when = QDateTime::fromMSecsSinceEpoch(side.mtimeNs / 1000000).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
  return side.folder ? QStringLiteral("<フォルダ> ") + when : QStringLiteral("%1  %2").arg(side.size).arg(when);
}

}  // namespace

TCompareOptionsDialog::TCompareOptionsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("compareOptionsDialog");
  setWindowTitle(QStringLiteral("フォルダの比較"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("左右のフォルダを名前、サイズ、更新日時で比べます。"), this));
  Content = new QCheckBox(QStringLiteral("内容も比較する(&C)"), this);
  Content->setObjectName("compareContent");
  Subfolders = new QCheckBox(QStringLiteral("サブフォルダも比較する(&S)"), this);
  Subfolders->setObjectName("compareSubfolders");
  layout->addWidget(Content);
  layout->addWidget(Subfolders);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

CompareOptions TCompareOptionsDialog::Options() const {
  CompareOptions options;
  options.content = Content->isChecked();
  options.subfolders = Subfolders->isChecked();
  return options;
}

TSyncDialog::TSyncDialog(QWidget* parent, std::string left, std::string right, std::vector<SyncLine> lines)
    : QDialog(parent), left_(std::move(left)), right_(std::move(right)), lines_(std::move(lines)) {
  setObjectName("syncDialog");
  setWindowTitle(QStringLiteral("フォルダの同期"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("左: %1\n右: %2").arg(Q(left_), Q(right_)), this));
  Table = new QTableWidget(int(lines_.size()), 5, this);
  Table->setObjectName("syncPlan");
  Table->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("状態"), QStringLiteral("左"),
                                    QStringLiteral("右"), QStringLiteral("処理")});
  Table->verticalHeader()->hide();
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int i = 0; i < int(lines_.size()); ++i) {
    const SyncLine& line = lines_[size_t(i)];
    Table->setItem(i, 0, new QTableWidgetItem(Q(line.path)));
    Table->setItem(i, 1, new QTableWidgetItem(QString::fromUtf8(CompareStateText(line.state))));
    Table->setItem(i, 2, new QTableWidgetItem(Facts(line.left)));
    Table->setItem(i, 3, new QTableWidgetItem(Facts(line.right)));
    auto* choice = new QComboBox(Table);
    for (SyncAction action : SyncChoices(line)) {
      choice->addItem(QString::fromUtf8(SyncActionText(action)), int(action));
      if (action == line.action) choice->setCurrentIndex(choice->count() - 1);
    }
    connect(choice, &QComboBox::currentIndexChanged, this, &TSyncDialog::Count);
    Table->setCellWidget(i, 4, choice);
  }
  Table->resizeColumnsToContents();
  Table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(Table, 1);
  Status = new QLabel(this);
  Status->setObjectName("syncStatus");
  layout->addWidget(Status);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("同期する"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
  connect(buttons, &QDialogButtonBox::accepted, this, &TSyncDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(820, 560);
  Count();
}

std::vector<SyncLine> TSyncDialog::Plan() const {
  std::vector<SyncLine> plan = lines_;
  for (int i = 0; i < int(plan.size()); ++i)
    if (auto* choice = qobject_cast<QComboBox*>(Table->cellWidget(i, 4)))
      plan[size_t(i)].action = SyncAction(choice->currentData().toInt());
  return plan;
}

bool TSyncDialog::SetAction(const std::string& path, SyncAction action) {
  for (int i = 0; i < int(lines_.size()); ++i) {
    if (lines_[size_t(i)].path != path) continue;
    auto* choice = qobject_cast<QComboBox*>(Table->cellWidget(i, 4));
    int at = choice ? choice->findData(int(action)) : -1;
    if (at < 0) return false;
    choice->setCurrentIndex(at);
    return true;
  }
  return false;
}

void TSyncDialog::Count() {
  size_t copies = 0, deletions = 0;
  for (const SyncLine& line : Plan()) {
    copies += line.action == SyncAction::ToLeft || line.action == SyncAction::ToRight;
    deletions += line.action == SyncAction::DeleteLeft || line.action == SyncAction::DeleteRight;
  }
  QString text = QStringLiteral("コピー %1 項目").arg(copies);
  if (deletions) text += QStringLiteral("、削除 (ごみ箱へ) %1 項目").arg(deletions);
  Status->setText(text + QStringLiteral("。置き換えられるファイルはごみ箱へ移し、元に戻せます。"));
}

void TSyncDialog::accept() {
  SyncOutcome outcome = RunSync(left_, right_, Plan(), nullptr, this);
  if (outcome.code == 0 || outcome.copied + outcome.trashed > 0) QDialog::accept();
}

bool CompareFolders(QWidget* owner, const std::string& left, const std::string& right, const CompareOptions& options,
                    CompareResult& result) {
  FolderCompare compare(left, right, options);
  RunOnWorker(
      owner, QStringLiteral("フォルダを比較しています..."), [&] { result = compare.Run(); },
      [&] {
        uint64_t total = compare.BytesTotal();
        return total ? int(100 * compare.BytesDone() / total) : 0;
      },
      [&] { compare.Cancel(); });
  if (!result.error.empty()) {
    QMessageBox::warning(owner, QStringLiteral("フォルダの比較"), Q(result.error));
    return false;
  }
  return !result.cancelled;
}

void SelectNewer(const CompareResult& result, TShellListView* left, TShellListView* right) {
  std::set<std::string> newLeft, newRight;
  for (const CompareEntry& e : result.entries) {
    if (e.path.find('/') != std::string::npos) continue;
    if (e.state == CompareState::OnlyLeft || e.state == CompareState::NewerLeft) newLeft.insert(e.path);
    if (e.state == CompareState::OnlyRight || e.state == CompareState::NewerRight) newRight.insert(e.path);
  }
  for (auto [list, names] : {std::pair{left, &newLeft}, std::pair{right, &newRight}}) {
    if (!list) continue;
    list->SelectAllRows(false);
    TShellFileList* files = list->FileList();
    for (int row = 0; row < files->Count(); ++row) {
      TShellFileItem* item = files->Items(row);
      std::string path = item ? item->GetItemPath() : std::string();
      size_t slash = path.rfind('/');
      if (slash != std::string::npos && names->count(path.substr(slash + 1))) list->SetRowSelected(row, true);
    }
  }
}

QString CompareSummary(const CompareCounts& c) {
  QString text = QStringLiteral("左だけ: %1\n右だけ: %2\n左が新しい: %3\n右が新しい: %4\n同じ: %5\n内容が違う: %6")
                     .arg(c.onlyLeft)
                     .arg(c.onlyRight)
                     .arg(c.newerLeft)
                     .arg(c.newerRight)
                     .arg(c.equal)
                     .arg(c.different);
  if (c.changed) text += QStringLiteral("\n比較中に変更された: %1").arg(c.changed);
  if (c.unreadable) text += QStringLiteral("\n読めない: %1").arg(c.unreadable);
  return text;
}

namespace {

bool PanePaths(QWidget* owner, TShellListView* left, TShellListView* right, std::string& l, std::string& r) {
  l = left ? left->GetPathName() : std::string();
  r = right ? right->GetPathName() : std::string();
  if (l.empty() || r.empty()) {
    QMessageBox::information(owner, QStringLiteral("フォルダの比較"),
                             QStringLiteral("左右のペインにフォルダを表示してから比較してください。"));
    return false;
  }
  return true;
}

void ShowSync(QWidget* owner, const std::string& l, const std::string& r, const CompareResult& result) {
  TSyncDialog dialog(owner, l, r, PlanSync(result));
  dialog.exec();
}

}  // namespace

void CompareCommand(QWidget* owner, TShellListView* left, TShellListView* right) {
  std::string l, r;
  if (!PanePaths(owner, left, right, l, r)) return;
  TCompareOptionsDialog options(owner);
  if (options.exec() != QDialog::Accepted) return;
  CompareResult result;
  if (!CompareFolders(owner, l, r, options.Options(), result)) return;
  SelectNewer(result, left, right);
  QMessageBox box(QMessageBox::Information, QStringLiteral("フォルダの比較"), CompareSummary(result.Counts()),
                  QMessageBox::NoButton, owner);
  box.setObjectName("compareSummary");
  QPushButton* sync = box.addButton(QStringLiteral("同期(&S)..."), QMessageBox::AcceptRole);
  box.addButton(QStringLiteral("閉じる"), QMessageBox::RejectRole);
  box.exec();
  if (box.clickedButton() == sync) ShowSync(owner, l, r, result);
}

void SyncCommand(QWidget* owner, TShellListView* left, TShellListView* right) {
  std::string l, r;
  if (!PanePaths(owner, left, right, l, r)) return;
  TCompareOptionsDialog options(owner);
  options.setWindowTitle(QStringLiteral("フォルダの同期"));
  if (options.exec() != QDialog::Accepted) return;
  CompareResult result;
  if (CompareFolders(owner, l, r, options.Options(), result)) ShowSync(owner, l, r, result);
}
