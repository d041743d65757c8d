#include "image/SPIBitmap.h"

#include "image/SPIs.h"
#include "platform/graphics/PictureFormats.h"

TGRAPHIC_CLASS_DEFINE(TSPIBitmap, TBitmap)

TSPIBitmapUnit::TSPIBitmapUnit() { TSPIs::SetGraphicClass(TSPIBitmap::StaticClass()); }

TSPIBitmapUnit::~TSPIBitmapUnit() { UnregisterGraphicClass(TSPIBitmap::StaticClass()); }

namespace {

bool IsBmpName(const std::string& FileName) {
  std::string ext = ExtractFileExt(FileName);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return ext == ".BMP";
}

}  // namespace

TProgressEvent TSPIBitmap::Forwarder() {
  return [this](TGraphic*, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const QRect& R,
                const std::string& Msg) {
    if (Stage == psEnding) return;
    Progress(this, Stage, PercentDone, RedrawNow, R, Msg);
  };
}

void TSPIBitmap::ProgressEnd() {
  Progress(this, psEnding, 100, true, QRect(0, 0, Width(), Height()), "Loaded Graphic");
}

void TSPIBitmap::LoadFromFile(const std::string& FileName) {
  try {
    const bool isBmp = IsBmpName(FileName);
    std::unique_ptr<TGraphic> result;
    for (int pass = 0; pass < 2 && !result; ++pass) {
      const bool bitmapReader = (pass == 0) == isBmp;
      std::unique_ptr<TGraphic> reader;
      if (bitmapReader)
        reader = std::make_unique<TBitmap>();
      else
        reader = std::make_unique<TSPIGraphic>();
      reader->OnProgress = Forwarder();
      try {
        reader->LoadFromFile(FileName);
        result = std::move(reader);
      } catch (const std::exception&) {
        // this reader cannot; the other may
      }
    }
    AssignLoaded(std::move(result));
  } catch (...) {
    ProgressEnd();
    throw;
  }
  ProgressEnd();
}

void TSPIBitmap::LoadFromStreamWithName(QIODevice& Stream, const std::string& FileName) {
  try {
    const bool isBmp = IsBmpName(FileName);
    const qint64 position = Stream.pos();
    std::unique_ptr<TGraphic> result;
    for (int pass = 0; pass < 2 && !result; ++pass) {
      if (pass == 1 && !Stream.isSequential()) Stream.seek(position);
      const bool bitmapReader = (pass == 0) == isBmp;
      try {
        if (bitmapReader) {
          auto reader = std::make_unique<TBitmap>();
          reader->OnProgress = Forwarder();
          reader->LoadFromStream(Stream);
          result = std::move(reader);
        } else {
          auto reader = std::make_unique<TSPIGraphic>();
          reader->OnProgress = Forwarder();
          reader->LoadFromStreamWithName(Stream, FileName);
          result = std::move(reader);
        }
      } catch (const std::exception&) {
      }
    }
    AssignLoaded(std::move(result));
  } catch (...) {
    ProgressEnd();
    throw;
  }
  ProgressEnd();
}

void TSPIBitmap::AssignConverted(std::unique_ptr<TBitmap> bitmap, bool is4Bit, const TPalette& palette) {
  TBitmap::Assign(bitmap.get());
  bitmap.reset();
  if (is4Bit) SetPalette(palette);
}

void TSPIBitmap::AssignLoaded(std::unique_ptr<TGraphic> Graphic) {
  if (!Graphic) throw EInvalidGraphic(kSPICouldNotDecode);
  if (auto* spi = dynamic_cast<TSPIGraphic*>(Graphic.get())) {
    const bool is4Bit = spi->Is4Bit();
    TPalette palette;
    if (is4Bit) palette = spi->Palette();
    AssignConverted(spi->ToBitmap(true), is4Bit, palette);
    return;
  }
  TBitmap::Assign(Graphic.get());
}

void TSPIBitmap::Assign(const TGraphic* Source) {
  if (auto* spi = dynamic_cast<const TSPIGraphic*>(Source)) {
    const bool is4Bit = spi->Is4Bit();
    TPalette palette;
    if (is4Bit) palette = spi->Palette();
    AssignConverted(const_cast<TSPIGraphic*>(spi)->ToBitmap(false), is4Bit, palette);
    return;
  }
  TBitmap::Assign(Source);
}
