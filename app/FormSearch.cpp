#include "app/FormSearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimeZone>
#include <QVBoxLayout>

namespace {

QString Shown(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QComboBox* EditableCombo(QWidget* parent, const char* name) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setMinimumWidth(360);
  return combo;
}

void AddDistinct(QComboBox* combo, const QString& text) {
  if (!text.isEmpty() && combo->findText(text) < 0) combo->addItem(text);
}

QCheckBox* Check(QWidget* parent, const QString& text, const char* name) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

// KB as typed ("", "120", "1,024") into bytes; -1 for empty, -2 for rubbish.
int64_t SizeOf(const QString& text) {
  QString digits = text.trimmed().remove(',');
  if (digits.isEmpty()) return -1;
  bool ok = false;
  qlonglong kb = digits.toLongLong(&ok);
  if (!ok || kb < 0 || kb > (INT64_MAX >> 10)) return -2;
  return kb * 1024;
}

int64_t StartOfDay(const QDate& date) { return date.startOfDay().toSecsSinceEpoch(); }

}  // namespace

TFormSearch::TFormSearch(QWidget* parent, const std::string& folder, const std::vector<std::string>& folders,
                         const std::vector<SearchQuery>& history)
    : QDialog(parent) {
  setObjectName("searchDialog");
  setWindowTitle(QStringLiteral("ファイルの検索"));
  auto* grid = new QGridLayout;
  int row = 0;
  auto label = [&](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    l->setBuddy(buddy);
    grid->addWidget(l, row, 0);
  };

  Folder = EditableCombo(this, "searchFolder");
  auto* browse = new QPushButton(QStringLiteral("参照(&B)..."), this);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(Folder, 1);
  folderRow->addWidget(browse);
  label(QStringLiteral("探す場所(&L):"), Folder);
  grid->addLayout(folderRow, row++, 1);

  Masks = EditableCombo(this, "searchMasks");
  label(QStringLiteral("ファイル名(&N):"), Masks);
  grid->addWidget(Masks, row++, 1);
  auto* hint = new QLabel(QStringLiteral("例: *.jpg *.png | thumb*.*　（| の後ろは除外する名前）"), this);
  hint->setEnabled(false);
  grid->addWidget(hint, row++, 1);

  Text = EditableCombo(this, "searchText");
  label(QStringLiteral("含む文字列(&T):"), Text);
  grid->addWidget(Text, row++, 1);
  Regex = Check(this, QStringLiteral("正規表現(&R)"), "searchRegex");
  MatchCase = Check(this, QStringLiteral("大文字と小文字を区別(&A)"), "searchCase");
  Encoding = new QComboBox(this);
  Encoding->setObjectName("searchEncoding");
  Encoding->addItems({QStringLiteral("自動"), QStringLiteral("UTF-8"), QStringLiteral("シフトJIS (CP932)"),
                      QStringLiteral("EUC-JP"), QStringLiteral("UTF-16")});
  auto* textRow = new QHBoxLayout;
  textRow->addWidget(Regex);
  textRow->addWidget(MatchCase);
  textRow->addWidget(new QLabel(QStringLiteral("文字コード:"), this));
  textRow->addWidget(Encoding);
  textRow->addStretch();
  grid->addLayout(textRow, row++, 1);

  MinSize = new QLineEdit(this);
  MinSize->setObjectName("searchMinSize");
  MaxSize = new QLineEdit(this);
  MaxSize->setObjectName("searchMaxSize");
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(MinSize);
  sizeRow->addWidget(new QLabel(QStringLiteral("KB 以上　"), this));
  sizeRow->addWidget(MaxSize);
  sizeRow->addWidget(new QLabel(QStringLiteral("KB 以下"), this));
  label(QStringLiteral("サイズ(&S):"), MinSize);
  grid->addLayout(sizeRow, row++, 1);

  FromOn = Check(this, QString(), "searchFromOn");
  From = new QDateEdit(QDate::currentDate().addMonths(-1), this);
  From->setObjectName("searchFrom");
  ToOn = Check(this, QString(), "searchToOn");
  To = new QDateEdit(QDate::currentDate(), this);
  To->setObjectName("searchTo");
  for (QDateEdit* edit : {From, To}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  }
  auto* dateRow = new QHBoxLayout;
  dateRow->addWidget(FromOn);
  dateRow->addWidget(From);
  dateRow->addWidget(new QLabel(QStringLiteral("から　"), this));
  dateRow->addWidget(ToOn);
  dateRow->addWidget(To);
  dateRow->addWidget(new QLabel(QStringLiteral("まで"), this));
  dateRow->addStretch();
  label(QStringLiteral("更新日時(&D):"), FromOn);
  grid->addLayout(dateRow, row++, 1);

  Hidden = Check(this, QStringLiteral("隠しファイルも探す(&H)"), "searchHidden");
  Links = Check(this, QStringLiteral("リンクをたどる(&K)"), "searchLinks");
  Mounts = Check(this, QStringLiteral("他のファイルシステムにも入る(&M)"), "searchMounts");
  Binary = Check(this, QStringLiteral("バイナリファイルの中も探す(&Y)"), "searchBinary");
  auto* options = new QGridLayout;
  options->addWidget(Hidden, 0, 0);
  options->addWidget(Links, 0, 1);
  options->addWidget(Mounts, 1, 0);
  options->addWidget(Binary, 1, 1);
  grid->addLayout(options, row++, 1);

  Start = new QPushButton(QStringLiteral("検索(&F)"), this);
  Start->setObjectName("searchStart");
  Start->setDefault(true);
  Cancel = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Start);
  buttons->addWidget(Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);

  connect(Start, &QPushButton::clicked, this, &TFormSearch::Accept);
  connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("探す場所"), Folder->currentText());
    if (!chosen.isEmpty()) Folder->setEditText(chosen);
  });

  for (const std::string& f : folders) AddDistinct(Folder, Shown(f));
  for (const SearchQuery& q : history) {
    AddDistinct(Masks, Shown(q.masks));
    AddDistinct(Text, Shown(q.text));
  }
  SearchQuery start = history.empty() ? SearchQuery{} : history.front();
  start.folder = folder;
  SetQuery(start);
  Masks->setFocus();
  Masks->lineEdit()->selectAll();
}

void TFormSearch::SetQuery(const SearchQuery& q) {
  Folder->setEditText(Shown(q.folder));
  Masks->setEditText(Shown(q.masks.empty() ? std::string("*.*") : q.masks));
  Text->setEditText(Shown(q.text));
  Regex->setChecked(q.regex);
  MatchCase->setChecked(q.matchCase);
  Encoding->setCurrentIndex(static_cast<int>(q.encoding));
  MinSize->setText(q.minSize >= 0 ? QString::number(q.minSize / 1024) : QString());
  MaxSize->setText(q.maxSize >= 0 ? QString::number(q.maxSize / 1024) : QString());
  FromOn->setChecked(q.modifiedFrom != 0);
  if (q.modifiedFrom) From->setDate(QDateTime::fromSecsSinceEpoch(q.modifiedFrom).date());
  ToOn->setChecked(q.modifiedTo != 0);
  if (q.modifiedTo) To->setDate(QDateTime::fromSecsSinceEpoch(q.modifiedTo).date().addDays(-1));
  Hidden->setChecked(q.hidden);
  Links->setChecked(q.followLinks);
  Mounts->setChecked(q.crossFileSystems);
  Binary->setChecked(q.binary);
}

bool TFormSearch::Query(SearchQuery& q, QString& message) const {
  q = SearchQuery{};
  std::string folder = Folder->currentText().trimmed().toStdString();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder[0] != '/') {
    message = QStringLiteral("探す場所をフォルダのフルパスで入力してください。");
    return false;
  }
  q.folder = folder;
  q.masks = Masks->currentText().trimmed().toStdString();
  if (q.masks == "*.*" || q.masks == "*") q.masks.clear();
  q.text = Text->currentText().toStdString();
  q.regex = Regex->isChecked();
  q.matchCase = MatchCase->isChecked();
  q.encoding = static_cast<TextEncoding>(std::clamp(Encoding->currentIndex(), 0, 4));
  q.minSize = SizeOf(MinSize->text());
  q.maxSize = SizeOf(MaxSize->text());
  if (q.minSize == -2 || q.maxSize == -2) {
    message = QStringLiteral("サイズは KB 単位の数で入力してください。");
    return false;
  }
  // "At most 2 KB" takes a file of 2,047 bytes too.
  if (q.maxSize >= 0) q.maxSize += 1023;
  if (FromOn->isChecked()) q.modifiedFrom = StartOfDay(From->date());
  if (ToOn->isChecked()) q.modifiedTo = StartOfDay(To->date().addDays(1));
  if (q.modifiedFrom && q.modifiedTo && q.modifiedFrom >= q.modifiedTo) {
    message = QStringLiteral("更新日時の範囲が逆になっています。");
    return false;
  }
  q.hidden = Hidden->isChecked();
  q.followLinks = Links->isChecked();
  q.crossFileSystems = Mounts->isChecked();
  q.binary = Binary->isChecked();
  return true;
}

void TFormSearch::Accept() {
  SearchQuery q;
  QString message;
  if (!Query(q, message)) {
    QMessageBox::warning(this, windowTitle(), message);
    return;
  }
  accept();
}
