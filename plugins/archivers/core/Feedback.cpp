#include "Feedback.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifndef TOLVANE_ARC_NO_QT
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#endif

namespace arc {

namespace {
std::mutex ownerMutex;
ArcHWND ownerWnd = nullptr;
ArcArchiverProc ownerProc = nullptr;
const uint32_t kMessage = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
constexpr int64_t kShowAfterMs = 700;
constexpr int64_t kProgressStep = 1 << 20;

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void CopyName(char* dst, const std::string& src) {
  size_t n = std::min(src.size(), static_cast<size_t>(ARC_FNAME_MAX32));
  memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

#ifndef TOLVANE_ARC_NO_QT
bool GuiAvailable() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QThread::currentThread() == app->thread();
}
QWidget* Parent(ArcHWND wnd) { return static_cast<QWidget*>(ArcWindowWidget(wnd)); }
#endif
}  // namespace

void SetOwner(ArcHWND wnd, ArcArchiverProc proc) {
  std::lock_guard<std::mutex> lock(ownerMutex);
  ownerWnd = wnd;
  ownerProc = proc;
}

bool KillOwner(ArcHWND wnd) {
  std::lock_guard<std::mutex> lock(ownerMutex);
  if (ownerWnd != wnd) return false;
  ownerWnd = nullptr;
  ownerProc = nullptr;
  return true;
}

Feedback::Feedback(ArcHWND wnd, bool quiet, const std::string& archiveName)
    : wnd_(wnd), quiet_(quiet), archiveName_(archiveName) {
  startMs_ = NowMs();
}

Feedback::~Feedback() {
#ifndef TOLVANE_ARC_NO_QT
  delete static_cast<QProgressDialog*>(dialog_);
#endif
}

bool Feedback::Send(uint32_t state) {
  ArcHWND wnd;
  ArcArchiverProc proc;
  {
    std::lock_guard<std::mutex> lock(ownerMutex);
    wnd = ownerWnd;
    proc = ownerProc;
  }
  bool go = true;
  if (ArcIsWindow(wnd) && wnd->send_message)
    go = wnd->send_message(wnd->context, kMessage, state, reinterpret_cast<intptr_t>(&eis_)) == 0;
  if (go && proc) go = proc(wnd, kMessage, state, &eis_) != 0;
  return go && Pump();
}

// Keeps the program's window alive while the command runs on its thread, shows the
// progress dialog once the work lasts, and reads its cancel button.
bool Feedback::Pump() {
#ifndef TOLVANE_ARC_NO_QT
  if (quiet_ || !ArcIsWindow(wnd_) || !GuiAvailable()) return !cancelled_;
  int64_t now = NowMs();
  if (now - lastPumpMs_ < 50) return !cancelled_;
  lastPumpMs_ = now;
  auto* dlg = static_cast<QProgressDialog*>(dialog_);
  if (!dlg && now - startMs_ >= kShowAfterMs) {
    dlg = new QProgressDialog(Parent(wnd_));
    const std::string base = archiveName_.substr(archiveName_.rfind('/') + 1);
    dlg->setWindowTitle(QStringLiteral("展開 - %1").arg(QString::fromUtf8(base.c_str())));
    dlg->setMinimumWidth(460);  // the numbers change width as they grow; the window does not
    dlg->setCancelButtonText(QStringLiteral("中止"));
    dlg->setMinimumDuration(0);
    dlg->setRange(0, 1000);
    dlg->setAutoClose(false);
    dlg->setAutoReset(false);
    dlg->setWindowModality(Qt::WindowModal);
    dlg->show();
    dialog_ = dlg;
  }
  if (dlg) {
    dlg->setLabelText(QString::fromUtf8(eis_.exinfo.szSourceFileName) + QString::fromUtf8(SizeText().c_str()));
    // The whole archive's share when its total is known, else the entry's.
    const uint64_t written = static_cast<uint64_t>(totalBefore_) + eis_.exinfo.dwWriteSize;
    const uint64_t total = declaredTotal_ > 0 ? static_cast<uint64_t>(declaredTotal_) : 0;
    const uint64_t done = total ? written : eis_.exinfo.dwWriteSize;
    const uint64_t whole = total ? total : eis_.exinfo.dwFileSize;
    dlg->setValue(
        whole ? static_cast<int>(std::min(1000.0, 1000.0 * static_cast<double>(done) / static_cast<double>(whole)))
              : 0);
    if (dlg->wasCanceled()) cancelled_ = true;
  }
  QCoreApplication::processEvents();
#endif
  return !cancelled_;
}

std::string Feedback::SizeText() const {
  if (archiveSize_ <= 0) return std::string();
  auto line = [&](const char* what, int64_t n) {
    char buf[128];
    snprintf(buf, sizeof buf, "\n%s %.1f MB (書庫の %.1f 倍)", what, static_cast<double>(n) / (1 << 20),
             static_cast<double>(n) / static_cast<double>(archiveSize_));
    return std::string(buf);
  };
  std::string text = line("展開済み", totalBefore_ + eis_.exinfo.dwWriteSize);
  if (declaredTotal_ >= 0) text += line("全体", declaredTotal_);
  return text;
}

bool Feedback::Open() {
  CopyName(eis_.exinfo.szSourceFileName, archiveName_);
  return Send(ARCEXTRACT_OPEN);
}

bool Feedback::Begin(const std::string& entryName, const std::string& destPath, int64_t size) {
  CopyName(eis_.exinfo.szSourceFileName, entryName);
  CopyName(eis_.exinfo.szDestFileName, destPath);
  eis_.exinfo.dwFileSize = static_cast<uint32_t>(std::min<int64_t>(size, 0xFFFFFFFF));
  totalBefore_ += eis_.exinfo.dwWriteSize;
  eis_.exinfo.dwWriteSize = 0;
  lastSent_ = 0;
  ++entriesDone_;
  return Send(ARCEXTRACT_BEGIN);
}

bool Feedback::Progress(int64_t written) {
  eis_.exinfo.dwWriteSize = static_cast<uint32_t>(std::min<int64_t>(written, 0xFFFFFFFF));
  if (written - lastSent_ < kProgressStep && written != eis_.exinfo.dwFileSize) return !cancelled_;
  lastSent_ = written;
  return Send(ARCEXTRACT_INPROCESS);
}

void Feedback::End() {
  Send(ARCEXTRACT_END);
#ifndef TOLVANE_ARC_NO_QT
  delete static_cast<QProgressDialog*>(dialog_);
  dialog_ = nullptr;
#endif
}

bool Feedback::CanAsk() const {
#ifndef TOLVANE_ARC_NO_QT
  return ArcIsWindow(wnd_) && GuiAvailable();
#else
  return false;
#endif
}

Answer Feedback::AskOverwrite(const std::string& path, const std::string& detail) {
#ifndef TOLVANE_ARC_NO_QT
  if (!CanAsk()) return Answer::No;
  QString text = QStringLiteral("%1 は既にあります。\n置き換えますか?").arg(QString::fromUtf8(path.c_str()));
  if (!detail.empty()) text += QStringLiteral("\n\n") + QString::fromUtf8(detail.c_str());
  QMessageBox box(QMessageBox::Question, QStringLiteral("上書きの確認"), text, QMessageBox::NoButton, Parent(wnd_));
  QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* yesAll = box.addButton(QStringLiteral("すべてはい"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  QPushButton* noAll = box.addButton(QStringLiteral("すべていいえ"), QMessageBox::NoRole);
  QPushButton* cancel = box.addButton(QStringLiteral("中止"), QMessageBox::RejectRole);
  box.setDefaultButton(no);
  box.setEscapeButton(cancel);
  box.exec();
  QAbstractButton* b = box.clickedButton();
  if (b == yes) return Answer::Yes;
  if (b == yesAll) return Answer::YesToAll;
  if (b == noAll) return Answer::NoToAll;
  if (b == no) return Answer::No;
  return Answer::Cancel;
#else
  (void)path;
  (void)detail;
  return Answer::No;
#endif
}

bool Feedback::AskPassword(const std::string& entryName, bool again, std::string& password) {
#ifndef TOLVANE_ARC_NO_QT
  if (!CanAsk()) return false;
  QInputDialog dlg(Parent(wnd_));
  dlg.setWindowTitle(QStringLiteral("パスワード"));
  QString text = again ? QStringLiteral("パスワードが違います。\n") : QString();
  text += QStringLiteral("%1 は暗号化されています。\nパスワードを入力してください:")
              .arg(QString::fromUtf8(entryName.c_str()));
  dlg.setLabelText(text);
  dlg.setTextEchoMode(QLineEdit::Password);
  dlg.setOkButtonText(QStringLiteral("OK"));
  dlg.setCancelButtonText(QStringLiteral("キャンセル"));
  if (dlg.exec() != QDialog::Accepted) return false;
  password = dlg.textValue().toStdString();
  return true;
#elif defined(TOLVANE_ARC_FUZZ_PASSWORD)
  // The fuzzer's encrypted seeds use this password, so the decryption is fuzzed too.
  (void)entryName;
  password = TOLVANE_ARC_FUZZ_PASSWORD;
  return !again;
#else
  (void)entryName;
  (void)again;
  (void)password;
  return false;
#endif
}

bool Feedback::AskYesNo(const std::string& title, const std::string& text) {
#ifndef TOLVANE_ARC_NO_QT
  if (!CanAsk()) return false;
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(title.c_str()), QString::fromUtf8(text.c_str()),
                  QMessageBox::NoButton, Parent(wnd_));
  QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
#else
  (void)title;
  (void)text;
  return false;
#endif
}

void Feedback::ShowError(const std::string& text) {
#ifndef TOLVANE_ARC_NO_QT
  if (quiet_ || !CanAsk()) return;
  QMessageBox::warning(Parent(wnd_), QStringLiteral("書庫"), QString::fromUtf8(text.c_str()));
#else
  (void)text;
#endif
}

}  // namespace arc
