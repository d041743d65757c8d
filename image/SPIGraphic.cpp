#include "image/SPIGraphic.h"

#include <QPainter>
#include <cstring>

#include "platform/system/ScopeGuard.h"

const char* const kSPICouldNotDecode = "Susie Plugins could not decode";

TGRAPHIC_CLASS_DEFINE(TSPIGraphic, TGraphic)

TSPIGraphic::~TSPIGraphic() = default;

void TSPIGraphic::FreeImage() {
  FData.reset();
  FPalette.clear();
  FInfoReady = false;
}

void TSPIGraphic::UpdateInfo() const {
  if (FInfoReady) return;
  FHeight = FWidth = FColors = 0;
  FInfoSize = FImageSize = 0;
  FIs4Bit = false;
  FPalette.clear();
  if (!GetEmpty()) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, FData->InfoPtr(), sizeof header);
    TDibLayout layout;
    if (DibLayoutOf(header, layout)) {  // the engine keeps no other kind
      FWidth = layout.Width;
      FHeight = layout.Height;
      FColors = layout.Colors;
      FInfoSize = layout.InfoSize;
      FImageSize = layout.ImageSize;
      FIs4Bit = layout.Is4Bit;
      const RGBQUAD* table = FData->InfoPtr()->bmiColors;
      for (int i = 0; i < FColors; ++i) FPalette.push_back(qRgb(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue));
    }
  }
  FInfoReady = true;
}

int TSPIGraphic::GetHeight() const {
  UpdateInfo();
  return FHeight;
}

int TSPIGraphic::GetWidth() const {
  UpdateInfo();
  return FWidth;
}

TPalette TSPIGraphic::GetPalette() const {
  UpdateInfo();
  return FPalette;
}

int TSPIGraphic::Colors() const {
  UpdateInfo();
  return FColors;
}

size_t TSPIGraphic::InfoSize() const {
  UpdateInfo();
  return FInfoSize;
}

size_t TSPIGraphic::ImageSize() const {
  UpdateInfo();
  return FImageSize;
}

bool TSPIGraphic::Is4Bit() const {
  UpdateInfo();
  return FIs4Bit;
}

void TSPIGraphic::LoadWith(std::unique_ptr<TInSPIAbleData> data) {
  FData = std::move(data);
  ScopeGuard freeOnFailure([this] { FreeImage(); });
  FData->OnProgress = OnProgress;
  FData->Load();
  if (FData->Empty()) throw EInvalidGraphic(kSPICouldNotDecode);
  freeOnFailure.Dismiss();
  Changed();
}

void TSPIGraphic::LoadFromFile(const std::string& FileName) {
  FreeImage();
  LoadWith(std::make_unique<TInSPIAbleFromFile>(this, FileName));
}

void TSPIGraphic::LoadFromStreamWithName(QIODevice& Stream, const std::string& FileName) {
  FreeImage();
  LoadWith(std::make_unique<TInSPIAbleFromStream>(this, FileName, Stream));
}

void TSPIGraphic::SaveToStream(QIODevice& Stream) {
  if (GetEmpty()) return;
  UpdateInfo();
  const uint32_t offset = uint32_t(14 + FInfoSize);
  const uint32_t size = uint32_t(14 + FInfoSize + FImageSize);
  uint8_t header[14] = {'B', 'M'};
  for (int i = 0; i < 4; ++i) {
    header[2 + i] = uint8_t(size >> (8 * i));
    header[10 + i] = uint8_t(offset >> (8 * i));
  }
  if (Stream.write(reinterpret_cast<const char*>(header), 14) != 14 ||
      Stream.write(static_cast<const char*>(FData->HBInfo), qint64(FInfoSize)) != qint64(FInfoSize) ||
      Stream.write(static_cast<const char*>(FData->HBm), qint64(FImageSize)) != qint64(FImageSize))
    throw EFOpenError("ビットマップを書き込めません");
}

std::unique_ptr<TBitmap> TSPIGraphic::ToBitmap(bool releaseData) {
  // Straight from the plug-in's blocks: the rows are copied once, and the
  // bitmap reads exactly what SaveToStream would have written.
  QImage image;
  bool is4Bit = false;
  if (GetEmpty()) throw EInvalidGraphic(kSPICouldNotDecode);
  const bool alphaKnown = FData->AlphaKnown;
  if (releaseData && AdoptDib(FData->HBInfo, InfoSize(), FData->HBm, ImageSize(), image, alphaKnown)) {
    // The bitmap keeps the plug-in's rows: no second block of fresh memory to fill.
    FData->HBm = nullptr;
  } else if (!ReadDib(FData->HBInfo, InfoSize(), FData->HBm, ImageSize(), image, &is4Bit)) {
    throw EInvalidGraphic(kSPICouldNotDecode);
  } else if (alphaKnown && image.format() == QImage::Format_RGB32) {
    // Read as having no alpha because every alpha byte is 0: fully transparent.
    image = image.convertToFormat(QImage::Format_ARGB32);
    image.fill(Qt::transparent);
  }
  if (releaseData) FreeImage();
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetImage(image, is4Bit);
  return bitmap;
}

void TSPIGraphic::Draw(QPainter& canvas, const QRect& rect) {
  if (GetEmpty()) return;
  QImage image;
  if (!ReadDib(FData->HBInfo, InfoSize(), FData->HBm, ImageSize(), image, nullptr)) return;
  // Colour on colour: whole pixels, no smoothing.
  const bool smooth = canvas.testRenderHint(QPainter::SmoothPixmapTransform);
  canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
  canvas.drawImage(rect, image, QRect(0, 0, GetWidth(), std::abs(GetHeight())));
  canvas.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}
