#include "platform/ui/FileOperationDialogs.h"

#include "platform/namespace/PathText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/fileops/ErrorText.h"
#include "platform/system/SyncCall.h"
#include "platform/system/TrailingSlash.h"

namespace {

QString ForDisplay(const std::string& bytes) { return QString::fromUtf8(bytes.data(), bytes.size()); }

std::string ParentFolder(std::string path) {
  path = WithoutTrailingSlash(std::move(path));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

QString Quoted(const std::string& path) { return QStringLiteral("「%1」").arg(ForDisplay(BaseName(path))); }

// Widgets need a QApplication; a console program gets the cautious answers.
bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// The progress window: Esc and closing it ask to cancel; the window itself
// stays until the engine has stopped.
class ProgressWindow : public QDialog {
 public:
  ProgressWindow(QWidget* parent, std::function<void()> onCancel) : QDialog(parent), onCancel_(std::move(onCancel)) {}
  void reject() override { onCancel_(); }

 private:
  std::function<void()> onCancel_;
};

QString ProgressTitle(uint32_t function) {
  switch (function) {
    case FO_COPY:
      return QStringLiteral("コピー中...");
    case FO_MOVE:
      return QStringLiteral("移動中...");
    case FO_DELETE:
      return QStringLiteral("削除中...");
    case FO_RENAME:
      return QStringLiteral("名前を変更しています...");
    case FO_EMPTYRECYCLEBIN:
      return QStringLiteral("ごみ箱を空にしています...");
    default:
      return QString();
  }
}

QString FactsText(const FileFacts& facts) {
  QString text;
  if (!facts.folder) text += QStringLiteral("    %1\n").arg(FormatByteCount(facts.size));
  text += QStringLiteral("    更新日時: %1").arg(FormatFileTime(facts.mtime));
  return text;
}

}  // namespace

// --- Display forms -----------------------------------------------------------------

QString FormatByteCount(uint64_t bytes) {
  QString digits = QString::number(bytes);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  QString text = digits + QStringLiteral(" バイト");
  if (bytes >= 1024) text += QStringLiteral(" (%1)").arg(FormatByteSize(bytes));
  return text;
}

QString FormatByteSize(uint64_t bytes) {
  if (bytes < 1024) return QStringLiteral("%1 バイト").arg(bytes);
  static const char* const units[] = {"KB", "MB", "GB", "TB", "PB"};
  double value = bytes / 1024.0;
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  // Three significant digits, cut rather than rounded, as the desktop shows them.
  int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
  double scale = std::pow(10.0, decimals);
  value = std::floor(value * scale) / scale;
  return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString FormatFileTime(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (!localtime_r(&t, &local)) return QString();
  char text[64];
  strftime(text, sizeof text, "%Y/%m/%d %H:%M", &local);
  return QString::fromLatin1(text);
}

QString FormatTimeLeft(double seconds) {
  if (seconds < 0 || !std::isfinite(seconds)) return QStringLiteral("計算中...");
  auto whole = static_cast<uint64_t>(std::ceil(seconds));
  if (whole < 1) whole = 1;
  if (whole < 60) return QStringLiteral("約 %1 秒").arg(whole);
  if (whole < 3600) return QStringLiteral("約 %1 分").arg((whole + 59) / 60);
  uint64_t minutes = (whole + 59) / 60;
  return QStringLiteral("約 %1 時間 %2 分").arg(minutes / 60).arg(minutes % 60);
}

// --- Questions -------------------------------------------------------------------

FileOperationDialogs::FileOperationDialogs(QWidget* owner) : owner_(owner) {}

FileOperationDialogs::~FileOperationDialogs() {
  if (progress_) progress_->deleteLater();
}

QWidget* FileOperationDialogs::DialogParent() const {
  // Over the progress window while it is shown, so a question is never hidden behind it.
  if (progress_ && progress_->isVisible()) return progress_;
  return owner_;
}

int FileOperationDialogs::Ask(const Question& question) {
  int answer = -1;
  bool ran = SyncCall([&] { answer = ShowQuestion(question); }, nullptr);
  return ran && answer >= 0 ? answer : question.escapeButton;
}

int FileOperationDialogs::ShowQuestion(const Question& q) {
  if (!HaveWidgets()) return -1;
  // On the heap: the parent may go away while the dialog is open.
  QPointer<QDialog> dialog = new QDialog(DialogParent());
  dialog->setObjectName(QLatin1String(q.name));
  dialog->setWindowTitle(q.title);
  dialog->setModal(true);

  auto* layout = new QVBoxLayout(dialog);
  auto* top = new QHBoxLayout;
  layout->addLayout(top);
  auto* icon = new QLabel;
  int size = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
  icon->setPixmap(dialog->style()->standardIcon(QStyle::StandardPixmap(q.icon), nullptr, dialog).pixmap(size, size));
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* text = new QLabel(q.text);
  text->setObjectName(QStringLiteral("messageLabel"));
  // File names are never markup.
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setMinimumWidth(360);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(text, 1);

  auto* row = new QHBoxLayout;
  layout->addLayout(row);
  row->addStretch(1);
  for (size_t i = 0; i < q.buttons.size(); ++i) {
    auto* button = new QPushButton(q.buttons[i].text);
    button->setObjectName(QLatin1String(q.buttons[i].name));
    button->setAutoDefault(true);
    // Result 0 is a rejection (Esc, the window's close button); buttons count from 1.
    int result = static_cast<int>(i) + 1;
    QObject::connect(button, &QPushButton::clicked, dialog, [d = dialog.data(), result] { d->done(result); });
    row->addWidget(button);
    if (static_cast<int>(i) == q.defaultButton) {
      button->setDefault(true);
      button->setFocus();
    }
  }

  int result = dialog->exec();
  delete dialog.data();
  return result >= 1 && result <= static_cast<int>(q.buttons.size()) ? result - 1 : q.escapeButton;
}

bool FileOperationDialogs::ConfirmDelete(const std::vector<std::string>& paths, bool permanent) {
  if (paths.empty()) return false;
  QString text;
  if (paths.size() == 1)
    text = permanent ? QStringLiteral("%1を完全に削除しますか?\nこの操作は元に戻せません。").arg(Quoted(paths[0]))
                     : QStringLiteral("%1をごみ箱に移動しますか?").arg(Quoted(paths[0]));
  else
    text =
        permanent
            ? QStringLiteral("これらの %1 個の項目を完全に削除しますか?\nこの操作は元に戻せません。").arg(paths.size())
            : QStringLiteral("これらの %1 個の項目をごみ箱に移動しますか?").arg(paths.size());
  Question q{"deleteDialog",
             int(permanent ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxQuestion),
             QStringLiteral("ファイルの削除"),
             text,
             {{QStringLiteral("はい"), "yesButton"}, {QStringLiteral("いいえ"), "noButton"}},
             permanent ? 1 : 0,
             1};
  return Ask(q) == 0;
}

bool FileOperationDialogs::ConfirmPermanentDelete(const std::string& path) {
  return ConfirmPermanentDeleteBecause(path, {});
}

bool FileOperationDialogs::ConfirmPermanentDeleteBecause(const std::string& path, const std::string& why) {
  QString reason = why.empty() ? QString() : QString::fromStdString(why) + QLatin1Char('\n');
  Question q{"permanentDeleteDialog",
             QStyle::SP_MessageBoxWarning,
             QStringLiteral("ファイルの削除"),
             QStringLiteral("%1はごみ箱に移動できません。%2完全に削除しますか?").arg(Quoted(path), reason),
             {{QStringLiteral("はい"), "yesButton"}, {QStringLiteral("いいえ"), "noButton"}},
             1,
             1};
  return Ask(q) == 0;
}

ConflictAnswer FileOperationDialogs::AskReplace(const FileFacts& existing, const FileFacts& incoming) {
  QString kind = existing.folder ? QStringLiteral("フォルダー") : QStringLiteral("ファイル");
  QString incomingKind = incoming.folder ? QStringLiteral("フォルダー") : QStringLiteral("ファイル");
  QString text =
      QStringLiteral(
          "このフォルダーには既に%1という名前の%2があります。\n\n現在の%2\n%3\n\n次の%4で置き換えますか?\n%5")
          .arg(Quoted(existing.path), kind, FactsText(existing), incomingKind, FactsText(incoming));
  Question q{"replaceDialog",
             QStyle::SP_MessageBoxQuestion,
             QStringLiteral("ファイルの置き換え"),
             text,
             {{QStringLiteral("はい"), "yesButton"},
              {QStringLiteral("すべてはい"), "yesToAllButton"},
              {QStringLiteral("いいえ"), "noButton"},
              {QStringLiteral("すべていいえ"), "noToAllButton"},
              {QStringLiteral("キャンセル"), "cancelButton"}},
             0,
             4};
  static const ConflictAnswer answers[] = {ConflictAnswer::Yes, ConflictAnswer::YesToAll, ConflictAnswer::No,
                                           ConflictAnswer::NoToAll, ConflictAnswer::Cancel};
  return answers[Ask(q)];
}

ErrorAnswer FileOperationDialogs::AskError(const std::string& path, const std::string& action, int error) {
  QString text = QStringLiteral("%1できません: %2").arg(ForDisplay(action), Quoted(path));
  std::string folder = ParentFolder(path);
  if (!folder.empty()) text += QStringLiteral("\n場所: %1").arg(ForDisplay(folder));
  text += QStringLiteral("\n\n%1").arg(ForDisplay(SystemErrorText(error)));
  Question q{"errorDialog",
             QStyle::SP_MessageBoxCritical,
             QStringLiteral("エラー"),
             text,
             {{QStringLiteral("再試行"), "retryButton"},
              {QStringLiteral("スキップ"), "skipButton"},
              {QStringLiteral("キャンセル"), "cancelButton"}},
             0,
             2};
  static const ErrorAnswer answers[] = {ErrorAnswer::Retry, ErrorAnswer::Skip, ErrorAnswer::Cancel};
  return answers[Ask(q)];
}

void FileOperationDialogs::ShowMessage(const std::string& text) {
  QString title = QGuiApplication::applicationDisplayName();
  Question q{"messageDialog",
             QStyle::SP_MessageBoxInformation,
             title.isEmpty() ? QStringLiteral("Tolvane") : title,
             ForDisplay(text),
             {{QStringLiteral("OK"), "okButton"}},
             0,
             0};
  Ask(q);
}

bool FileOperationDialogs::ConfirmEmptyTrash(uint64_t items) {
  Question q{"emptyTrashDialog",
             QStyle::SP_MessageBoxWarning,
             QStringLiteral("ごみ箱を空にする"),
             QStringLiteral("ごみ箱を空にしますか?\n%1 個の項目を完全に削除します。").arg(items),
             {{QStringLiteral("はい"), "yesButton"}, {QStringLiteral("いいえ"), "noButton"}},
             1,
             1};
  return Ask(q) == 0;
}

// --- Progress --------------------------------------------------------------------

void FileOperationDialogs::ProgressStarted(const FileOperationProgress& progress) {
  cancel_ = false;
  if (!HaveWidgets()) return;
  if (!progress_) {
    auto* window = new ProgressWindow(owner_, [this] {
      cancel_ = true;
      if (cancelButton_) cancelButton_->setEnabled(false);
      if (timeLabel_) timeLabel_->setText(QStringLiteral("キャンセルしています..."));
    });
    window->setObjectName(QStringLiteral("progressDialog"));
    window->setModal(false);
    auto* layout = new QVBoxLayout(window);
    auto makeLabel = [&](const char* name) {
      auto* label = new QLabel;
      label->setObjectName(QLatin1String(name));
      label->setTextFormat(Qt::PlainText);
      layout->addWidget(label);
      return label;
    };
    fileLabel_ = makeLabel("fileLabel");
    fileLabel_->setMinimumWidth(380);
    // A long name must not widen the window past the screen.
    fileLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    itemsLabel_ = makeLabel("itemsLabel");
    bytesLabel_ = makeLabel("bytesLabel");
    timeLabel_ = makeLabel("timeLabel");
    bar_ = new QProgressBar;
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, 1000);
    layout->addWidget(bar_);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    cancelButton_ = new QPushButton(QStringLiteral("キャンセル"));
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(cancelButton_, &QPushButton::clicked, window, &QDialog::reject);
    row->addWidget(cancelButton_);
    layout->addLayout(row);
    progress_ = window;
  }
  cancelButton_->setEnabled(true);
  progress_->setWindowTitle(ProgressTitle(progress.function));
  ShowProgress(progress);
  progress_->show();
}

void FileOperationDialogs::ProgressChanged(const FileOperationProgress& progress) {
  if (progress_) ShowProgress(progress);
}

void FileOperationDialogs::ShowProgress(const FileOperationProgress& p) {
  fileLabel_->setText(ForDisplay(BaseName(p.currentFile)));
  fileLabel_->setToolTip(ForDisplay(p.currentFile));
  if (p.preparing) {
    // Each source is looked up before anything is counted or copied.
    itemsLabel_->setText(QStringLiteral("準備しています: %1 / %2 個の項目").arg(p.sourcesChecked).arg(p.sourcesTotal));
    bytesLabel_->hide();
    if (!cancel_) timeLabel_->setText(QStringLiteral("残り時間: %1").arg(FormatTimeLeft(-1)));
    bar_->setValue(p.sourcesTotal > 0 ? static_cast<int>(p.sourcesChecked * 1000 / p.sourcesTotal) : 0);
    return;
  }
  itemsLabel_->setText(QStringLiteral("%1 / %2 個の項目").arg(p.itemsDone).arg(p.itemsTotal));
  if (p.bytesTotal > 0) {
    bytesLabel_->setText(QStringLiteral("%1 / %2").arg(FormatByteSize(p.bytesDone), FormatByteSize(p.bytesTotal)));
    bytesLabel_->show();
  } else {
    bytesLabel_->hide();  // deleting and emptying count items, not bytes
  }
  if (!cancel_) timeLabel_->setText(QStringLiteral("残り時間: %1").arg(FormatTimeLeft(p.secondsLeft)));
  double fraction = 0;
  if (p.bytesTotal > 0)
    fraction = static_cast<double>(p.bytesDone) / p.bytesTotal;
  else if (p.itemsTotal > 0)
    fraction = static_cast<double>(p.itemsDone) / p.itemsTotal;
  bar_->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000));
}

void FileOperationDialogs::ProgressFinished() {
  if (!progress_) return;
  // hide(), not close(): closing counts as a cancel.
  progress_->hide();
  progress_->deleteLater();
  progress_ = nullptr;
}

bool FileOperationDialogs::CancelRequested() { return cancel_.exchange(false); }

// --- The process's dialogs ---------------------------------------------------------

namespace {

struct OwnerDialogs {
  QWidget* key;
  std::unique_ptr<FileOperationDialogs> dialogs;
};

}  // namespace

IFileOperationUI* FileOperationDialogsFor(QWidget* owner) {
  // One set per owner window, so two windows' operations keep their own
  // progress. Kept for the process's life: a running job may hold one.
  static std::mutex lock;
  static auto* all = new std::vector<OwnerDialogs>;
  std::lock_guard<std::mutex> guard(lock);
  for (OwnerDialogs& entry : *all) {
    if (entry.key != owner) continue;
    // The owner went away and a new widget took its address.
    if (owner && !entry.dialogs->Owner()) entry.dialogs->SetOwner(owner);
    return entry.dialogs.get();
  }
  all->push_back({owner, std::make_unique<FileOperationDialogs>(owner)});
  return all->back().dialogs.get();
}
