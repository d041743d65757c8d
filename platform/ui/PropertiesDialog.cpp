#include "platform/ui/PropertiesDialog.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>
#include <utility>

#include "platform/ui/FileOperationDialogs.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/namespace/SystemImageList.h"
#include "platform/system/UniqueFd.h"

namespace {

QString Display(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString TimeText(int64_t seconds, uint32_t nanoseconds) {
  QDateTime time = QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000);
  return time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QString UserText(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{}, *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(found->pw_name)).arg(uid);
  return QString::number(uid);
}

QString GroupText(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{}, *found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(found->gr_name)).arg(gid);
  return QString::number(gid);
}

QString CountsText(uint64_t files, uint64_t folders) {
  return QStringLiteral("ファイル %1 個、フォルダー %2 個").arg(files).arg(folders);
}

}  // namespace

// --- Totals ----------------------------------------------------------------------

void TotalSizes(const std::vector<std::string>& roots, SizeTotals& totals) {
  std::set<std::pair<dev_t, ino_t>> linked;  // files with several names, counted once
  std::vector<std::string> pending;
  auto countFile = [&](const struct stat& st) {
    if (st.st_nlink > 1 && !S_ISDIR(st.st_mode) && !linked.insert({st.st_dev, st.st_ino}).second) return;
    totals.bytes += static_cast<uint64_t>(st.st_size);
    ++totals.files;
  };
  for (const std::string& root : roots) {
    struct stat st;
    if (root.empty() || lstat(root.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      pending.push_back(root);
    else
      countFile(st);
  }
  while (!pending.empty() && !totals.cancel) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    DirPtr stream = OpenDirStream(UniqueFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (!stream) continue;
    while (dirent* entry = readdir(stream.get())) {
      if (totals.cancel) break;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      struct stat st;
      if (fstatat(dirfd(stream.get()), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        ++totals.folders;
        pending.push_back(JoinPath(dir, name));
      } else {
        countFile(st);
      }
    }
  }
  totals.done = true;
}

QString PermissionText(uint32_t mode) {
  char text[10];
  const char letters[] = "rwx";
  for (int i = 0; i < 9; ++i) text[i] = (mode & (0400u >> i)) ? letters[i % 3] : '-';
  if (mode & S_ISUID) text[2] = (mode & S_IXUSR) ? 's' : 'S';
  if (mode & S_ISGID) text[5] = (mode & S_IXGRP) ? 's' : 'S';
  if (mode & S_ISVTX) text[8] = (mode & S_IXOTH) ? 't' : 'T';
  text[9] = 0;
  return QString::fromLatin1(text);
}

QString OctalModeText(uint32_t mode) { return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0')); }

// --- The dialog ------------------------------------------------------------------

namespace {

// Wide enough for the value on one line (a path, say), within most of the
// screen: a wrapping label alone keeps the dialog narrow. Never narrower
// than it was, so the dialog does not jump while the totals count.
void WidenToText(QLabel* label) {
  const QScreen* shownOn = label->screen();
  const int most = shownOn ? shownOn->availableGeometry().width() * 3 / 5 : 900;
  const int wanted = std::min(label->fontMetrics().horizontalAdvance(label->text()) + 4, most);
  if (wanted > label->minimumWidth()) label->setMinimumWidth(wanted);
}

}  // namespace

PropertiesDialog::PropertiesDialog(QWidget* parent, std::vector<PropertyItem> items)
    : QDialog(parent), items_(std::move(items)), totals_(std::make_unique<SizeTotals>()) {
  setObjectName(QStringLiteral("propertiesDialog"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  if (items_.size() == 1 && items_[0].iconIndex >= 0) {
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("iconLabel"));
    icon->setPixmap(SystemImageList::Instance().Pixmap(items_[0].iconIndex, 32));
    layout->addWidget(icon);
  }
  form_ = new QFormLayout;
  layout->addLayout(form_);
  if (items_.size() == 1) {
    setWindowTitle(QStringLiteral("%1 のプロパティ").arg(Display(items_[0].name)));
    FillSingle(items_[0]);
  } else {
    setWindowTitle(QStringLiteral("プロパティ"));
    FillSeveral();
  }
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::AcceptRole);
  close->setObjectName(QStringLiteral("closeButton"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

PropertiesDialog::~PropertiesDialog() {
  totals_->cancel = true;
  if (worker_.joinable()) worker_.join();
}

QLabel* PropertiesDialog::Value(const char* objectName) const {
  return findChild<QLabel*>(QString::fromLatin1(objectName));
}

void PropertiesDialog::AddRow(const QString& caption, const char* objectName, const QString& value) {
  auto* label = new QLabel(value, this);
  label->setObjectName(QString::fromLatin1(objectName));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  WidenToText(label);
  form_->addRow(caption, label);
}

void PropertiesDialog::FillSingle(const PropertyItem& item) {
  AddRow(QStringLiteral("名前:"), "nameValue", Display(item.name));
  AddRow(QStringLiteral("種類:"), "typeValue", Display(item.typeName));
  if (item.path.empty()) {
    if (!item.contentPath.empty()) {
      AddRow(QStringLiteral("サイズ:"), "sizeValue", QStringLiteral("計算中..."));
      AddRow(QStringLiteral("内容:"), "contentsValue", QStringLiteral("計算中..."));
      StartTotal({item.contentPath});
    }
    return;
  }
  AddRow(QStringLiteral("場所:"), "locationValue", Display(DirName(item.path)));
  struct statx sx {};
  if (statx(AT_FDCWD, item.path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    AddRow(QStringLiteral("サイズ:"), "sizeValue", QStringLiteral("(項目が見つかりません)"));
    return;
  }
  uint32_t mode = sx.stx_mode;
  if (S_ISLNK(mode)) {
    std::string target(4096, '\0');
    ssize_t n = readlink(item.path.c_str(), target.data(), target.size());
    target.resize(n > 0 ? static_cast<size_t>(n) : 0);
    AddRow(QStringLiteral("リンク先:"), "linkTargetValue", Display(target));
  }
  if (S_ISDIR(mode)) {
    AddRow(QStringLiteral("サイズ:"), "sizeValue", QStringLiteral("計算中..."));
    AddRow(QStringLiteral("内容:"), "contentsValue", QStringLiteral("計算中..."));
    StartTotal({item.path});
  } else {
    AddRow(QStringLiteral("サイズ:"), "sizeValue", FormatByteCount(sx.stx_size));
  }
  bool born = sx.stx_mask & STATX_BTIME;
  AddRow(QStringLiteral("作成日時:"), "createdValue",
         born ? TimeText(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : QStringLiteral("不明"));
  AddRow(QStringLiteral("更新日時:"), "modifiedValue", TimeText(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec));
  AddRow(QStringLiteral("アクセス日時:"), "accessedValue", TimeText(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec));
  AddRow(QStringLiteral("所有者:"), "ownerValue", UserText(sx.stx_uid));
  AddRow(QStringLiteral("グループ:"), "groupValue", GroupText(sx.stx_gid));
  AddRow(QStringLiteral("アクセス許可:"), "permissionsValue",
         QStringLiteral("%1 (%2)").arg(PermissionText(mode), OctalModeText(mode)));
}

void PropertiesDialog::FillSeveral() {
  AddRow(QStringLiteral("名前:"), "nameValue", QStringLiteral("%1 個の項目").arg(items_.size()));
  bool sameType = true, sameFolder = true;
  for (const PropertyItem& item : items_) {
    sameType = sameType && item.typeName == items_[0].typeName;
    sameFolder = sameFolder && !item.path.empty() && DirName(item.path) == DirName(items_[0].path);
  }
  AddRow(QStringLiteral("種類:"), "typeValue",
         sameType ? QStringLiteral("すべて %1").arg(Display(items_[0].typeName)) : QStringLiteral("複数の種類"));
  if (sameFolder) AddRow(QStringLiteral("場所:"), "locationValue", Display(DirName(items_[0].path)));
  std::vector<std::string> roots;
  for (const PropertyItem& item : items_)
    if (!item.path.empty() || !item.contentPath.empty())
      roots.push_back(item.path.empty() ? item.contentPath : item.path);
  AddRow(QStringLiteral("サイズ:"), "sizeValue", QStringLiteral("計算中..."));
  AddRow(QStringLiteral("内容:"), "contentsValue", QStringLiteral("計算中..."));
  StartTotal(std::move(roots));
}

void PropertiesDialog::StartTotal(std::vector<std::string> roots) {
  SizeTotals* totals = totals_.get();
  worker_ = std::thread([totals, roots = std::move(roots)] { TotalSizes(roots, *totals); });
  timer_ = new QTimer(this);
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, &PropertiesDialog::ShowTotals);
  timer_->start();
}

void PropertiesDialog::ShowTotals() {
  bool done = totals_->done;  // read first: the counters are final once it is set
  uint64_t bytes = totals_->bytes, files = totals_->files, folders = totals_->folders;
  QLabel* size = Value("sizeValue");
  QLabel* contents = Value("contentsValue");
  if (done) {
    timer_->stop();
    if (size) size->setText(FormatByteCount(bytes));
    if (contents) contents->setText(CountsText(files, folders));
  } else {
    if (size) size->setText(QStringLiteral("計算中... %1").arg(FormatByteSize(bytes)));
    if (contents) contents->setText(CountsText(files, folders));
  }
  for (QLabel* label : {size, contents})
    if (label) WidenToText(label);
}
