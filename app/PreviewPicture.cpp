// Reading and fitting a preview picture.
#include "app/PreviewPicture.h"

#include <QBuffer>
#include <QImageReader>
#include <fstream>
#include <iterator>
#include <cmath>

#include "platform/system/Exception.h"

QSize FittedPictureSize(QSize picture, QSize area) {
  const double w = picture.width(), h = picture.height(), W = area.width(), H = area.height();
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return picture;
  // Halves round to even.
  if (W / H >= w / h) {
    if (H < h) return QSize(static_cast<int>(std::nearbyint(w / (h / H))), static_cast<int>(H));
  } else if (W < w) {
    return QSize(static_cast<int>(W), static_cast<int>(std::nearbyint(h / (w / W))));
  }
  return picture;
}

QImage LoadFittedPicture(const std::string& path, QSize area) {
  // The name's bytes need not be UTF-8: the file is read here, not by Qt.
  std::ifstream in(path, std::ios::binary);
  QByteArray bytes;
  if (in) bytes = QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  std::string ext = path.substr(path.find_last_of("./") == std::string::npos ? path.size() : path.find_last_of("./") + 1);
  QImageReader reader(&buffer, QByteArray::fromStdString(ext).toLower());
  QImage image = reader.read();
  if (image.isNull()) throw Exception("画像を読み込めません: " + path + " (" + reader.errorString().toStdString() + ")");
  QSize fitted = FittedPictureSize(image.size(), area);
  if (fitted != image.size()) image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return image;
}
