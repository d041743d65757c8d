// Reading and fitting a preview picture: the class registered for the file's
// extension reads it (the bitmap class for .bmp, the plug-in bitmap for the
// plug-ins' extensions), and a picture larger than the area is resampled
// smoothly to fit.
#include "app/PreviewPicture.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "image/InSPIAbleData.h"
#include "image/StretchBitmap.h"
#include "platform/fileops/ErrorText.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/system/TextFiles.h"

QSize FittedPictureSize(QSize picture, QSize area) {
  const double w = picture.width(), h = picture.height(), W = area.width(), H = area.height();
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return picture;
  // Halves round to even; a thin picture keeps at least one pixel a side.
  auto side = [](double v) { return std::max(1, static_cast<int>(std::nearbyint(v))); };
  if (W / H >= w / h) {
    if (H < h) return QSize(side(w / (h / H)), static_cast<int>(H));
  } else if (W < w) {
    return QSize(static_cast<int>(W), side(h / (w / W)));
  }
  return picture;
}

std::string PictureTooLargeText(int width, int height, uint64_t limit) {
  const uint64_t need = WholeDecodeBytes(width, height) >> 20, mb = limit >> 20;
  if (width <= 0 || height <= 0) return "画像が大きすぎるため表示しません (上限 " + std::to_string(mb) + " MB)";
  return "画像が大きすぎるため表示しません\n" + std::to_string(width) + " × " + std::to_string(height) +
         " ピクセル (展開に " + std::to_string(need) + " MB、上限 " + std::to_string(mb) + " MB)";
}

TPreviewPicture DecodePreviewPicture(const std::string& path, QSize area, uint64_t memoryLimit,
                                     const std::function<bool()>& stop) {
  TPreviewPicture result;
  auto stopped = [&] { return stop && stop(); };
  // A file we may not read says so, rather than that no plug-in could decode it.
  TReadOnlyFile file;
  if (const int error = file.Open(path); error > 0) {
    const size_t slash = path.rfind('/');
    result.Error = (slash == std::string::npos ? path : path.substr(slash + 1)) + ": " + SystemErrorText(error);
    return result;
  }
  TSPIFitRequest fit;
  fit.MaxWidth = std::max(1, area.width());
  fit.MaxHeight = std::max(1, area.height());
  fit.MemoryLimit = memoryLimit;
  TSPIFitScope scope(fit);
  TPicture picture;
  picture.OnProgress = [&](TGraphic*, TProgressStage, uint8_t, bool, const QRect&, const std::string&) {
    if (stopped()) throw EAbort();
  };
  try {
    picture.LoadFromFile(path);
    if (stopped()) throw EAbort();
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
    result.Image = bitmap->Image();
  } catch (const std::exception& e) {
    if (stopped())
      result.Stopped = true;
    else if (fit.Refused)
      result.Message = PictureTooLargeText(fit.RefusedWidth, fit.RefusedHeight, memoryLimit);
    else
      result.Error = e.what();
  }
  return result;
}

TPictureLoader::TPictureLoader() : FThread([this] { Run(); }) {}

TPictureLoader::~TPictureLoader() {
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
    FPending.reset();
    FWanted = 0;
  }
  FWake.notify_all();
  FThread.join();
}

void TPictureLoader::Load(const std::string& path, QSize area, uint64_t memoryLimit, TDone done) {
  const uint64_t id = ++FLastId;
  {
    std::lock_guard lock(FMutex);
    FWanted = id;
    FPending = TJob{id, path, area, memoryLimit, std::move(done)};
  }
  FActive = id;
  FWake.notify_all();
}

void TPictureLoader::Stop() {
  {
    std::lock_guard lock(FMutex);
    FWanted = 0;
    FPending.reset();
  }
  FActive = 0;
}

void TPictureLoader::Run() {
  for (;;) {
    TJob job;
    {
      std::unique_lock lock(FMutex);
      FWake.wait(lock, [this] { return FQuit || FPending; });
      if (FQuit) return;
      job = std::move(*FPending);
      FPending.reset();
    }
    TPreviewPicture picture =
        DecodePreviewPicture(job.Path, job.Area, job.MemoryLimit, [this, id = job.Id] { return FWanted.load() != id; });
    if (picture.Stopped || FWanted.load() != job.Id) {
      if (picture.Stopped) ++FStoppedCount;
      continue;
    }
    // Answered on the owner's thread, and only while it is still the newest request.
    QMetaObject::invokeMethod(
        this,
        [this, id = job.Id, done = std::move(job.Done), picture = std::move(picture)] {
          if (id != FActive) return;
          FActive = 0;
          if (done) done(picture);
        },
        Qt::QueuedConnection);
  }
}
