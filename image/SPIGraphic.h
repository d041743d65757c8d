#pragma once
// A picture decoded by a Susie plug-in, kept as the DIB the plug-in handed
// back. It draws that DIB and writes it out as a BMP file; it cannot be
// resized. Loading fails with EInvalidGraphic "Susie Plugins could not
// decode" when no plug-in reads the picture.
#include <memory>
#include <string>

#include "image/InSPIAbleData.h"
#include "platform/graphics/Bitmap.h"

extern const char* const kSPICouldNotDecode;  // "Susie Plugins could not decode"

class TSPIGraphic : public TGraphic {
 public:
  TGRAPHIC_CLASS_DECLARE()
  TSPIGraphic() = default;
  ~TSPIGraphic() override;

  // Nearest-neighbour stretch of the whole picture into rect; nothing when empty.
  void Draw(QPainter& canvas, const QRect& rect) override;
  void LoadFromFile(const std::string& FileName) override;
  void LoadFromStream(QIODevice& Stream) override { LoadFromStreamWithName(Stream, ""); }
  // The name's extension steers which plug-ins try first.
  virtual void LoadFromStreamWithName(QIODevice& Stream, const std::string& FileName);
  // A BMP file of the DIB; an empty graphic writes nothing.
  void SaveToStream(QIODevice& Stream) override;

  // Frees the plug-in data and the palette.
  void FreeImage();
  // A plain bitmap of the picture, read as the BMP file SaveToStream writes
  // would be (but from the blocks themselves, without that file). With
  // releaseData the plug-in blocks are freed as soon as they are copied.
  std::unique_ptr<TBitmap> ToBitmap(bool releaseData);

  TInSPIAbleData* Data() const { return FData.get(); }
  int Colors() const;
  size_t InfoSize() const;
  size_t ImageSize() const;
  bool Is4Bit() const;

 protected:
  bool GetEmpty() const override { return !FData || FData->Empty(); }
  int GetHeight() const override;
  int GetWidth() const override;
  TPalette GetPalette() const override;
  void SetHeightImpl(int) override {}
  void SetWidthImpl(int) override {}

 private:
  void LoadWith(std::unique_ptr<TInSPIAbleData> data);
  void UpdateInfo() const;

  std::unique_ptr<TInSPIAbleData> FData;
  // Derived from the DIB header on first use after a load.
  mutable int FHeight = 0;
  mutable int FWidth = 0;
  mutable TPalette FPalette;
  mutable size_t FInfoSize = 0;
  mutable size_t FImageSize = 0;
  mutable int FColors = 0;
  mutable bool FIs4Bit = false;
  mutable bool FInfoReady = false;
};
