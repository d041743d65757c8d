#pragma once
// The framework's bitmap: a QImage with a pixel format. 24-bit rows are
// Format_BGR888 (blue, green, red bytes, as in a Windows DIB), 32-bit ones
// Format_RGB32/ARGB32, 1-bit Format_Mono; 4- and 8-bit pictures are
// Format_Indexed8 (one byte per pixel; pf4bit only marks that the colours
// come from a 16-entry table). Loads and saves BMP files.
#include <QImage>

#include "platform/graphics/Graphic.h"

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// No picture is made or read with more pixels than this: a hostile header
// must not make us allocate without bound.
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 28;

class TBitmap : public TGraphic {
 public:
  TGRAPHIC_CLASS_DECLARE()
  TBitmap() = default;

  // A TBitmap source is copied (pixels are shared until written); null
  // empties this bitmap; other graphics are asked to assign themselves.
  void Assign(const TGraphic* source) override;

  void Draw(QPainter& canvas, const QRect& rect) override;

  // Reads one BMP file from the stream's current position. Throws
  // EInvalidGraphic "ビットマップ イメージは有効ではありません" for anything
  // that is no readable BMP.
  void LoadFromStream(QIODevice& stream) override;
  // Writes a BMP file: BITMAPFILEHEADER, BITMAPINFOHEADER, colour table,
  // bottom-up rows padded to 4 bytes. An empty bitmap writes nothing.
  void SaveToStream(QIODevice& stream) override;

  TPixelFormat PixelFormat() const;
  // Converts the pixels (an empty bitmap just remembers the format).
  void SetPixelFormat(TPixelFormat value);
  // Width and height at once; the old pixels stay top-left, new ones are 0.
  void SetSize(int width, int height);

  // Row y, top row 0. Throws EInvalidGraphicOperation when y is out of range.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // Bytes from one row to the next.
  int BytesPerLine() const { return FImage.isNull() ? 0 : int(FImage.bytesPerLine()); }

  // For indexed formats the colour table; for others a palette kept only for
  // display (empty unless set). An empty palette drops it.
  void SetPalette(const TPalette& palette);

  const QImage& Image() const { return FImage; }
  // Takes the picture over (premultiplied and other formats are kept as
  // they are and read as pfCustom). fourBit marks an Indexed8 picture as pf4bit.
  void SetImage(const QImage& image, bool fourBit = false);

 protected:
  bool GetEmpty() const override { return FWidth <= 0 || FHeight <= 0; }
  int GetHeight() const override { return FHeight; }
  int GetWidth() const override { return FWidth; }
  TPalette GetPalette() const override;
  void SetHeightImpl(int value) override { SetSize(FWidth, value); }
  void SetWidthImpl(int value) override { SetSize(value, FHeight); }

 private:
  QImage::Format ImageFormat() const;

  QImage FImage;  // null while empty
  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pfDevice;
  TPalette FPalette;  // non-indexed formats only
};

// Reads a BMP file from raw bytes into image (Indexed8 for 4-bit with *is4Bit
// set). False for anything unreadable, truncated or over kMaxBitmapPixels.
bool ReadBmp(const uint8_t* data, size_t size, QImage& image, bool* is4Bit);
// The same for a DIB in two blocks: the BITMAPINFO (header and colour table)
// and the rows. Compressed DIBs are refused.
bool ReadDib(const void* info, size_t infoSize, const void* bits, size_t bitsSize, QImage& image, bool* is4Bit);
// Takes over a malloc'ed block of DIB rows (8, 24 or 32 bits, uncompressed)
// as the pixels of image, turning them top-down in place; the image frees
// the block with free(). False, with the block untouched and still the
// caller's, for anything else. A 32-bit DIB whose alpha bytes are all 0 is taken as
// having none, unless alphaKnown says they are alpha (then it is fully transparent).
bool AdoptDib(const void* info, size_t infoSize, void* bits, size_t bitsSize, QImage& image, bool alphaKnown = false);
// Writes image as a BMP file (4 bits per pixel when as4Bit and the colour
// table has at most 16 entries).
QByteArray WriteBmp(const QImage& image, bool as4Bit);
