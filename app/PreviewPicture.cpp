// Reading and fitting a preview picture: the class registered for the file's
// extension reads it (the bitmap class for .bmp, the plug-in bitmap for the
// plug-ins' extensions), and a picture larger than the area is resampled
// smoothly to fit.
#include "app/PreviewPicture.h"

#include <cmath>
#include <memory>

#include "image/StretchBitmap.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PictureFormats.h"

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
  TPicture picture;
  picture.LoadFromFile(path);
  TGraphic* graphic = picture.Graphic();
  auto* bitmap = dynamic_cast<TBitmap*>(graphic);
  // Another kind of picture is drawn into a bitmap first: only bitmaps resample.
  std::unique_ptr<TBitmap> converted;
  if (!bitmap) {
    converted = std::make_unique<TBitmap>();
    converted->Assign(graphic);
    bitmap = converted.get();
  }
  const QSize size(bitmap->Width(), bitmap->Height());
  const QSize fitted = FittedPictureSize(size, area);
  if (fitted != size) StretchBitmap(bitmap, fitted.width(), fitted.height());
  return bitmap->Image();
}
