#include "platform/graphics/Graphic.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/graphics/StreamBytes.h"

bool ClassInheritsFrom(TGraphicClass cls, TGraphicClass base) {
  for (; cls; cls = cls->Parent)
    if (cls == base) return true;
  return false;
}

TGraphicClass TGraphic::StaticClass() {
  static const TGraphicClassInfo info{"TGraphic", nullptr, nullptr};
  return &info;
}

TGraphicClass TGraphic::ClassType() const { return StaticClass(); }

void TGraphic::Assign(const TGraphic* source) {
  if (!source) throw EConvertError(std::string("(nil) を ") + ClassType()->ClassName + " に代入できません");
  source->AssignTo(this);
}

void TGraphic::AssignTo(TGraphic* dest) const {
  throw EConvertError(std::string(ClassType()->ClassName) + " を " + (dest ? dest->ClassType()->ClassName : "(nil)") +
                      " に代入できません");
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  std::unique_ptr<QIODevice> stream = OpenFileStream(fileName);
  LoadFromStream(*stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  std::unique_ptr<QIODevice> stream = OpenFileStream(fileName, true);
  SaveToStream(*stream);
}

void TGraphic::Changed() {
  Modified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::Progress(TGraphic* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const QRect& R,
                        const std::string& Msg) {
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

namespace {

// A QFile over a descriptor it owns, so that paths stay bytes.
class OwnedFdFile : public QFile {
 public:
  explicit OwnedFdFile(int fd) : fd_(fd) {}
  ~OwnedFdFile() override {
    close();
    ::close(fd_);
  }
  int fd_;
};

}  // namespace

std::unique_ptr<QIODevice> OpenFileStream(const std::string& fileName, bool forWriting) {
  int fd = forWriting ? ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                      : ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EFOpenError("ファイル " + fileName + " を開けません。" + std::strerror(errno));
  // Only regular files: a pipe or a device would block or never end.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EFOpenError("ファイル " + fileName + " を開けません。");
  }
  if (!forWriting) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto file = std::make_unique<OwnedFdFile>(fd);
  if (!file->open(fd, forWriting ? QIODevice::WriteOnly : QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
    throw EFOpenError("ファイル " + fileName + " を開けません。");
  return file;
}

QByteArray ReadAtMost(QIODevice& stream, qint64 limit) {
  const qint64 left = stream.isSequential() ? 0 : stream.size() - stream.pos();
  if (left > 0) return stream.read(std::min(left, limit));
  // A pipe, or a file that does not tell its size: in pieces.
  constexpr qint64 kPiece = qint64(1) << 16;
  QByteArray bytes;
  while (bytes.size() < limit) {
    const QByteArray piece = stream.read(std::min(kPiece, limit - bytes.size()));
    if (piece.isEmpty()) break;
    bytes += piece;
  }
  return bytes;
}
