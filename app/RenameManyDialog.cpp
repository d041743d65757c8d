#include "app/RenameManyDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/WorkerRun.h"
#include "platform/fileops/BatchRename.h"
#include "platform/state/LineList.h"
#include "platform/state/StateFolder.h"

namespace {

constexpr int kHistoryMax = 20;
constexpr int kPreviewDelayMs = 150;

QString Q(const std::string& s) { return QString::fromUtf8(s); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

// Pattern history lines: name pattern, TAB, extension pattern.
std::vector<std::pair<std::string, std::string>> ReadHistory() {
  TLineList lines;
  lines.LoadFromFile(TRenameManyDialog::HistoryFile());
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& line : lines.Lines) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos) out.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return out;
}

}  // namespace

std::string TRenameManyDialog::HistoryFile() { return LogFolder() + "/RenamePatterns.txt"; }

TRenameManyDialog::TRenameManyDialog(QWidget* parent, std::vector<RenameSource> sources)
    : QDialog(parent), sources_(std::move(sources)) {
  setObjectName("renameManyDialog");
  setWindowTitle(QStringLiteral("名前の一括変更 (%1 項目)").arg(sources_.size()));
  auto* grid = new QGridLayout;
  auto label = [&](const char* text, QWidget* buddy, int row, int column) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setBuddy(buddy);
    grid->addWidget(l, row, column);
  };
  NamePattern = new QComboBox(this);
  NamePattern->setObjectName("renameNamePattern");
  NamePattern->setEditable(true);
  NamePattern->setInsertPolicy(QComboBox::NoInsert);
  NamePattern->setMinimumWidth(260);
  ExtPattern = new QLineEdit(QStringLiteral("[E]"), this);
  ExtPattern->setObjectName("renameExtPattern");
  Find = new QLineEdit(this);
  Find->setObjectName("renameFind");
  Replace = new QLineEdit(this);
  Replace->setObjectName("renameReplace");
  Regex = new QCheckBox(QStringLiteral("正規表現(&X)"), this);
  Regex->setObjectName("renameRegex");
  IgnoreCase = new QCheckBox(QStringLiteral("大文字と小文字を区別しない(&I)"), this);
  IgnoreCase->setObjectName("renameIgnoreCase");
  LetterCase = new QComboBox(this);
  LetterCase->setObjectName("renameCase");
  LetterCase->addItems({QStringLiteral("そのまま"), QStringLiteral("すべて小文字"), QStringLiteral("すべて大文字"),
                        QStringLiteral("先頭だけ大文字")});
  auto spin = [&](const char* name, int min, int max, int value) {
    auto* box = new QSpinBox(this);
    box->setObjectName(name);
    box->setRange(min, max);
    box->setValue(value);
    return box;
  };
  Start = spin("renameStart", -999999, 999999999, 1);
  Step = spin("renameStep", -9999, 9999, 1);
  Width = spin("renameWidth", 1, 12, 1);

  label("名前(&N)：", NamePattern, 0, 0);
  grid->addWidget(NamePattern, 0, 1);
  label("拡張子(&E)：", ExtPattern, 0, 2);
  grid->addWidget(ExtPattern, 0, 3);
  label("検索(&F)：", Find, 1, 0);
  grid->addWidget(Find, 1, 1);
  label("置換(&R)：", Replace, 1, 2);
  grid->addWidget(Replace, 1, 3);
  auto* options = new QHBoxLayout;
  options->addWidget(Regex);
  options->addWidget(IgnoreCase);
  options->addStretch();
  grid->addLayout(options, 2, 1, 1, 3);
  label("大文字・小文字(&A)：", LetterCase, 3, 0);
  grid->addWidget(LetterCase, 3, 1);
  auto* counter = new QHBoxLayout;
  for (auto [text, box] : {std::pair{"開始", Start}, std::pair{"増分", Step}, std::pair{"桁数", Width}}) {
    counter->addWidget(new QLabel(QString::fromUtf8(text), this));
    counter->addWidget(box);
  }
  label("連番 [C]：", Start, 3, 2);
  grid->addLayout(counter, 3, 3);
  auto* help = new QLabel(
      QStringLiteral("[N] 元の名前  [N2-5] 2〜5 文字目  [E] 拡張子  [C] 連番 ([C:3] 3 桁、[C10+5] 10 から 5 ずつ)  "
                     "[Y][M][D][h][m][s] 更新日時  [P] フォルダ名"),
      this);
  help->setWordWrap(true);
  grid->addWidget(help, 4, 0, 1, 4);

  Preview = new QTableWidget(0, 3, this);
  Preview->setObjectName("renamePreview");
  Preview->setHorizontalHeaderLabels(
      {QStringLiteral("元の名前"), QStringLiteral("新しい名前"), QStringLiteral("問題")});
  Preview->verticalHeader()->hide();
  Preview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  Preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Preview->setSelectionBehavior(QAbstractItemView::SelectRows);
  Preview->horizontalHeader()->setStretchLastSection(true);
  Status = new QLabel(this);
  Status->setObjectName("renameStatus");
  OkButton = new QPushButton(QStringLiteral("OK"), this);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  CancelButton->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Status, 1);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(Preview, 1);
  layout->addLayout(buttons);
  resize(760, 560);

  for (const auto& [name, ext] : ReadHistory()) NamePattern->addItem(Q(name), Q(ext));
  NamePattern->setEditText(QStringLiteral("[N]"));
  // Typing replaces the pattern at once.
  NamePattern->lineEdit()->selectAll();
  NamePattern->setFocus();
  delay_ = new QTimer(this);
  delay_->setSingleShot(true);
  delay_->setInterval(kPreviewDelayMs);
  connect(delay_, &QTimer::timeout, this, &TRenameManyDialog::UpdatePreview);
  auto later = [this] { delay_->start(); };
  connect(NamePattern, &QComboBox::editTextChanged, this, later);
  connect(NamePattern, &QComboBox::activated, this, [this](int index) {
    ExtPattern->setText(NamePattern->itemData(index).toString());
    UpdatePreview();
  });
  for (QLineEdit* edit : {ExtPattern, Find, Replace}) connect(edit, &QLineEdit::textChanged, this, later);
  for (QCheckBox* box : {Regex, IgnoreCase}) connect(box, &QCheckBox::toggled, this, later);
  connect(LetterCase, &QComboBox::currentIndexChanged, this, later);
  for (QSpinBox* box : {Start, Step, Width}) connect(box, &QSpinBox::valueChanged, this, later);
  connect(OkButton, &QPushButton::clicked, this, &TRenameManyDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  UpdatePreview();
}

RenameRule TRenameManyDialog::Rule() const {
  RenameRule rule;
  rule.namePattern = S(NamePattern->currentText());
  rule.extPattern = S(ExtPattern->text());
  rule.find = S(Find->text());
  rule.replace = S(Replace->text());
  rule.regex = Regex->isChecked();
  rule.ignoreCase = IgnoreCase->isChecked();
  rule.letterCase = RenameRule::Case(LetterCase->currentIndex());
  rule.counterStart = Start->value();
  rule.counterStep = Step->value();
  rule.counterWidth = Width->value();
  return rule;
}

void TRenameManyDialog::UpdatePreview() {
  delay_->stop();
  rows_ = PreviewRename(Rule(), sources_);
  Preview->setUpdatesEnabled(false);
  Preview->setRowCount(int(rows_.size()));
  int conflicts = 0, changes = 0;
  for (int i = 0; i < int(rows_.size()); ++i) {
    const RenamePreviewRow& row = rows_[size_t(i)];
    bool bad = row.conflict != RenameConflict::None;
    conflicts += bad;
    changes += row.changes();
    QString why = QString::fromUtf8(RenameConflictText(row.conflict));
    const QString cells[] = {Q(row.oldName), Q(row.newName), why};
    for (int c = 0; c < 3; ++c) {
      QTableWidgetItem* item = Preview->item(i, c);
      if (!item) Preview->setItem(i, c, item = new QTableWidgetItem);
      item->setText(cells[c]);
      item->setBackground(bad ? QColor(255, 210, 210) : QBrush());
      item->setForeground(bad ? QColor(160, 0, 0) : QBrush());
    }
  }
  Preview->setUpdatesEnabled(true);
  if (Preview->columnWidth(0) < 200) Preview->setColumnWidth(0, 240), Preview->setColumnWidth(1, 240);
  OkButton->setEnabled(conflicts == 0 && changes > 0);
  if (conflicts)
    Status->setText(QStringLiteral("%1 件の問題があります。直すまで実行できません。").arg(conflicts));
  else
    Status->setText(QStringLiteral("%1 項目の名前が変わります。").arg(changes));
}

void TRenameManyDialog::accept() {
  UpdatePreview();  // the names as they are now, not as they were a moment ago
  if (!OkButton->isEnabled()) return;
  SaveHistory();
  if (Execute()) QDialog::accept();
}

bool TRenameManyDialog::Execute() {
  std::vector<BatchRenameItem> items;
  for (size_t i = 0; i < rows_.size(); ++i)
    items.push_back({sources_[i].folder, rows_[i].oldName, rows_[i].newName, sources_[i].dev, sources_[i].ino});
  BatchRename job(std::move(items));
  BatchRenameResult result;
  RunOnWorker(
      this, QStringLiteral("名前を変更しています..."), [&] { result = job.Run(true); },
      [&] { return job.ItemsTotal() ? int(100 * job.StepsDone() / job.ItemsTotal()) : 0; }, [&] { job.Cancel(); });
  if (!result.ok) {
    QMessageBox::warning(this, windowTitle(), Q(result.message));
    UpdatePreview();
  }
  return result.ok;
}

void TRenameManyDialog::SaveHistory() {
  std::string entry = S(NamePattern->currentText()) + "\t" + S(ExtPattern->text());
  if (entry.find_first_of("\r\n") != std::string::npos) return;
  TLineList lines;
  lines.LoadFromFile(HistoryFile());
  if (int at = lines.IndexOf(entry); at >= 0) lines.Delete(at);
  lines.Insert(0, entry);
  while (lines.Count() > kHistoryMax) lines.Delete(lines.Count() - 1);
  lines.SaveToFile(HistoryFile());
}

void RenameMany(QWidget* owner, const std::string& folder, const std::vector<std::string>& names) {
  std::vector<RenameSource> sources;
  for (const std::string& name : names) {
    RenameSource source;
    if (LookUpRenameSource(folder, name, source)) sources.push_back(source);
  }
  if (sources.empty()) return;
  TRenameManyDialog dialog(owner, std::move(sources));
  dialog.exec();
}
