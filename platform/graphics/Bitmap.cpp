#include "platform/graphics/Bitmap.h"

#include <QBuffer>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/graphics/StreamBytes.h"

TGRAPHIC_CLASS_DEFINE(TBitmap, TGraphic)

namespace {

// Headers, a full colour table and at most 4 bytes per pixel (a 1-pixel-wide
// row of any depth is padded to 4).
constexpr qint64 kMaxBmpFileBytes = 14 + 1024 + 1024 + 4 * kMaxBitmapPixels;

const char* const kInvalidBitmap = "ビットマップ イメージは有効ではありません";
const char* const kOutOfMemory = "ビットマップを作成できません (メモリ不足)";

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(QByteArray& b, uint16_t v) { b.append(char(v & 0xff)).append(char(v >> 8)); }
void Put32(QByteArray& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xff));
}

// The 16 colours a 4-bit conversion maps onto.
TPalette Vga16() {
  static const QRgb c[16] = {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                             0xff008080, 0xff808080, 0xffc0c0c0, 0xffff0000, 0xff00ff00, 0xffffff00,
                             0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
  return TPalette(c, c + 16);
}

int MaskShift(uint32_t mask) { return mask ? __builtin_ctz(mask) : 0; }
int MaskBits(uint32_t mask) { return mask ? __builtin_popcount(mask >> MaskShift(mask)) : 0; }
// A channel under a bit mask, scaled to 0..255.
uint8_t Channel(uint32_t v, uint32_t mask, int shift, int bits) {
  if (!mask) return 0;
  uint32_t c = (v & mask) >> shift;
  uint32_t max = bits >= 32 ? 0xffffffffu : (1u << bits) - 1;
  return uint8_t((uint64_t(c) * 255 + max / 2) / max);
}

}  // namespace

namespace {

enum class ReadResult { Ok, Bad, Compressed };

// The header h (hAvail bytes readable), its colour table behind it, and the
// rows at pixels (null: right behind the colour table).
ReadResult ReadCore(const uint8_t* h, size_t hAvail, const uint8_t* pixels, size_t pixelsAvail, QImage& image,
                    bool* is4Bit, int* bitCount) {
  if (is4Bit) *is4Bit = false;
  if (hAvail < 12) return ReadResult::Bad;
  const uint32_t headerSize = Get32(h);
  int64_t width, height;
  int bits;
  uint32_t compression = 0, clrUsed = 0;
  int paletteEntrySize = 4;
  uint32_t masks[4] = {0, 0, 0, 0};
  size_t paletteAt;
  if (headerSize == 12) {  // the old OS/2 core header
    width = Get16(h + 4);
    height = int16_t(Get16(h + 6));
    bits = Get16(h + 10);
    paletteEntrySize = 3;
    paletteAt = 12;
  } else if (headerSize >= 40 && headerSize <= 1024 && hAvail >= size_t(headerSize)) {
    width = int32_t(Get32(h + 4));
    height = int32_t(Get32(h + 8));
    bits = Get16(h + 14);
    compression = Get32(h + 16);
    clrUsed = Get32(h + 32);
    paletteAt = headerSize;
    if (compression == 3 || compression == 6) {  // BI_BITFIELDS, BI_ALPHABITFIELDS
      size_t maskCount = compression == 6 ? 4 : 3;
      const uint8_t* m = h + 40;
      if (headerSize == 40) {
        if (hAvail < paletteAt + 4 * maskCount) return ReadResult::Bad;
        paletteAt += 4 * maskCount;
      } else if (headerSize >= 52) {
        maskCount = headerSize >= 56 ? 4 : 3;
      } else {
        return ReadResult::Bad;
      }
      for (size_t i = 0; i < maskCount; ++i) masks[i] = Get32(m + 4 * i);
    }
  } else {
    return ReadResult::Bad;
  }
  if (bitCount) *bitCount = bits;
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width * height > kMaxBitmapPixels) return ReadResult::Bad;
  if (compression != 0 && !((compression == 3 || compression == 6) && (bits == 16 || bits == 32)))
    return ReadResult::Compressed;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return ReadResult::Bad;

  TPalette palette;
  if (bits <= 8) {
    uint32_t count = clrUsed ? std::min<uint32_t>(clrUsed, 1u << bits) : 1u << bits;
    for (uint32_t i = 0; i < count; ++i) {
      size_t at = paletteAt + size_t(i) * paletteEntrySize;
      if (at + 3 > hAvail) break;
      palette.push_back(qRgb(h[at + 2], h[at + 1], h[at]));
    }
    if (palette.empty()) return ReadResult::Bad;
  }

  const size_t rowBytes = ((size_t(width) * bits + 31) / 32) * 4;
  if (!pixels) {
    size_t at = paletteAt + palette.size() * paletteEntrySize;
    if (at > hAvail) return ReadResult::Bad;
    pixels = h + at;
    pixelsAvail = hAvail - at;
  }
  if (pixelsAvail / rowBytes < size_t(height)) return ReadResult::Bad;

  // The fourth byte of a 32-bit pixel is unused by the format, but writers
  // keep alpha there: it counts when any pixel has a non-zero one.
  bool alphaBytes = false;
  if (bits == 32 && compression == 0)
    for (int64_t y = 0; y < height && !alphaBytes; ++y) {
      const uint8_t* src = pixels + rowBytes * size_t(y);
      for (int64_t x = 0; x < width; ++x)
        if (src[4 * x + 3]) {
          alphaBytes = true;
          break;
        }
    }
  QImage::Format format = bits == 1                        ? QImage::Format_Mono
                          : bits <= 8                      ? QImage::Format_Indexed8
                          : bits == 32 && compression == 0 ? (alphaBytes ? QImage::Format_ARGB32 : QImage::Format_RGB32)
                          : bits == 32 && masks[3]         ? QImage::Format_ARGB32
                                                           : QImage::Format_BGR888;
  QImage out(int(width), int(height), format);
  if (out.isNull()) return ReadResult::Bad;
  const int w = int(width);
  int maxIndex = 0;
  for (int y = 0; y < int(height); ++y) {
    const uint8_t* src = pixels + rowBytes * size_t(topDown ? y : int(height) - 1 - y);
    uint8_t* dst = out.scanLine(y);
    switch (bits) {
      case 1:
        std::memcpy(dst, src, (size_t(w) + 7) / 8);
        break;
      case 4:
        for (int x = 0; x < w; ++x) {
          uint8_t v = (x & 1) ? (src[x >> 1] & 0x0f) : (src[x >> 1] >> 4);
          dst[x] = v;
          maxIndex = std::max<int>(maxIndex, v);
        }
        break;
      case 8:
        std::memcpy(dst, src, size_t(w));
        for (int x = 0; x < w; ++x) maxIndex = std::max<int>(maxIndex, src[x]);
        break;
      case 24:
        std::memcpy(dst, src, size_t(w) * 3);
        break;
      case 32:
        if (compression == 0) {
          std::memcpy(dst, src, size_t(w) * 4);
          if (!alphaBytes)
            for (int x = 0; x < w; ++x) dst[4 * x + 3] = 0xff;
          break;
        }
        [[fallthrough]];
      case 16: {
        if (compression == 0) {  // 5-5-5
          masks[0] = 0x7c00;
          masks[1] = 0x03e0;
          masks[2] = 0x001f;
        }
        const int s0 = MaskShift(masks[0]), s1 = MaskShift(masks[1]), s2 = MaskShift(masks[2]),
                  s3 = MaskShift(masks[3]);
        const int b0 = MaskBits(masks[0]), b1 = MaskBits(masks[1]), b2 = MaskBits(masks[2]), b3 = MaskBits(masks[3]);
        for (int x = 0; x < w; ++x) {
          uint32_t v = bits == 16 ? Get16(src + 2 * x) : Get32(src + 4 * x);
          uint8_t r = Channel(v, masks[0], s0, b0), g = Channel(v, masks[1], s1, b1), b = Channel(v, masks[2], s2, b2);
          if (format == QImage::Format_ARGB32) {
            reinterpret_cast<QRgb*>(dst)[x] = qRgba(r, g, b, Channel(v, masks[3], s3, b3));
          } else {
            dst[3 * x] = b;
            dst[3 * x + 1] = g;
            dst[3 * x + 2] = r;
          }
        }
        break;
      }
    }
  }
  if (bits <= 8) {
    // Indexes past the table would read outside it: such pixels are black.
    int need = bits == 1 ? 2 : maxIndex + 1;
    while (int(palette.size()) < need) palette.push_back(qRgb(0, 0, 0));
    out.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
  }
  if (headerSize >= 40) {
    out.setDotsPerMeterX(int32_t(Get32(h + 24)) > 0 ? int32_t(Get32(h + 24)) : out.dotsPerMeterX());
    out.setDotsPerMeterY(int32_t(Get32(h + 28)) > 0 ? int32_t(Get32(h + 28)) : out.dotsPerMeterY());
  }
  image = out;
  if (is4Bit) *is4Bit = bits == 4;
  return ReadResult::Ok;
}

}  // namespace

bool ReadBmp(const uint8_t* data, size_t size, QImage& image, bool* is4Bit) {
  if (is4Bit) *is4Bit = false;
  if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t offBits = Get32(data + 10);
  if (offBits > size) return false;
  int bits = 0;
  switch (ReadCore(data + 14, size - 14, offBits ? data + offBits : nullptr, offBits ? size - offBits : 0, image,
                   is4Bit, &bits)) {
    case ReadResult::Ok:
      return true;
    case ReadResult::Bad:
      return false;
    case ReadResult::Compressed:
      break;
  }
  // RLE and embedded formats: Qt's reader, after the size check above.
  QImage qt = QImage::fromData(data, int(std::min<size_t>(size, INT32_MAX)), "BMP");
  if (qt.isNull()) return false;
  if (qt.format() == QImage::Format_RGB32 || qt.format() == QImage::Format_ARGB32)
    qt = qt.convertToFormat(QImage::Format_BGR888);
  image = qt;
  if (is4Bit) *is4Bit = bits == 4;
  return true;
}

bool ReadDib(const void* info, size_t infoSize, const void* bits, size_t bitsSize, QImage& image, bool* is4Bit) {
  return ReadCore(static_cast<const uint8_t*>(info), infoSize, static_cast<const uint8_t*>(bits), bitsSize, image,
                  is4Bit, nullptr) == ReadResult::Ok;
}

bool AdoptDib(const void* info, size_t infoSize, void* bits, size_t bitsSize, QImage& image, bool alphaKnown) {
  const auto* h = static_cast<const uint8_t*>(info);
  if (!h || !bits || infoSize < 40 || Get32(h) != 40 || Get32(h + 16) != 0) return false;
  const int64_t width = int32_t(Get32(h + 4));
  int64_t height = int32_t(Get32(h + 8));
  const int bitCount = Get16(h + 14);
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width * height > kMaxBitmapPixels) return false;
  if (bitCount != 8 && bitCount != 24 && bitCount != 32) return false;
  const size_t rowBytes = ((size_t(width) * bitCount + 31) / 32) * 4;
  if (bitsSize / rowBytes < size_t(height)) return false;

  auto* rows = static_cast<uint8_t*>(bits);
  TPalette palette;
  if (bitCount == 8) {
    uint32_t clrUsed = Get32(h + 32);
    uint32_t count = clrUsed ? std::min<uint32_t>(clrUsed, 256) : 256;
    for (uint32_t i = 0; i < count && 40 + 4 * size_t(i) + 3 <= infoSize; ++i) {
      const uint8_t* c = h + 40 + 4 * size_t(i);
      palette.push_back(qRgb(c[2], c[1], c[0]));
    }
    if (palette.empty()) return false;
  }
  if (!topDown) {  // top row first, in place
    std::vector<uint8_t> swap(rowBytes);
    for (int64_t y = 0; y < height / 2; ++y) {
      uint8_t* a = rows + rowBytes * size_t(y);
      uint8_t* b = rows + rowBytes * size_t(height - 1 - y);
      std::memcpy(swap.data(), a, rowBytes);
      std::memcpy(a, b, rowBytes);
      std::memcpy(b, swap.data(), rowBytes);
    }
  }
  QImage::Format format = bitCount == 8    ? QImage::Format_Indexed8
                          : bitCount == 24 ? QImage::Format_BGR888
                                           : QImage::Format_RGB32;
  if (bitCount == 32 && alphaKnown) {
    format = QImage::Format_ARGB32;
  } else if (bitCount == 32) {
    bool alphaBytes = false;
    for (int64_t y = 0; y < height && !alphaBytes; ++y)
      for (int64_t x = 0; x < width; ++x)
        if (rows[rowBytes * size_t(y) + 4 * size_t(x) + 3]) {
          alphaBytes = true;
          break;
        }
    if (alphaBytes)
      format = QImage::Format_ARGB32;
    else
      for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) rows[rowBytes * size_t(y) + 4 * size_t(x) + 3] = 0xff;
  }
  if (bitCount == 8) {
    int maxIndex = 0;
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* row = rows + rowBytes * size_t(y);
      for (int64_t x = 0; x < width; ++x) maxIndex = std::max<int>(maxIndex, row[x]);
    }
    while (int(palette.size()) <= maxIndex) palette.push_back(qRgb(0, 0, 0));
  }
  QImage adopted(
      rows, int(width), int(height), qsizetype(rowBytes), format, [](void* p) { std::free(p); }, rows);
  if (adopted.isNull()) return false;
  if (bitCount == 8) adopted.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
  if (int32_t(Get32(h + 24)) > 0) adopted.setDotsPerMeterX(int32_t(Get32(h + 24)));
  if (int32_t(Get32(h + 28)) > 0) adopted.setDotsPerMeterY(int32_t(Get32(h + 28)));
  image = adopted;
  return true;
}

QByteArray WriteBmp(const QImage& source, bool as4Bit) {
  QImage image = source;
  int bits;
  switch (image.format()) {
    case QImage::Format_Mono:
      bits = 1;
      break;
    case QImage::Format_MonoLSB:
      image = image.convertToFormat(QImage::Format_Mono);
      bits = 1;
      break;
    case QImage::Format_Indexed8:
      bits = as4Bit && image.colorCount() <= 16 ? 4 : 8;
      break;
    case QImage::Format_BGR888:
      bits = 24;
      break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
      bits = 32;
      break;
    default:
      if (image.hasAlphaChannel()) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        bits = 32;
      } else {
        image = image.convertToFormat(QImage::Format_BGR888);
        bits = 24;
      }
  }
  const int w = image.width(), h = image.height();
  const uint32_t colors = bits <= 8 ? uint32_t(image.colorCount()) : 0;
  const size_t rowBytes = ((size_t(w) * bits + 31) / 32) * 4;
  const size_t infoSize = 40 + 4 * size_t(colors);
  const size_t total = 14 + infoSize + rowBytes * size_t(h);
  QByteArray out;
  out.reserve(qsizetype(total));
  out.append("BM", 2);
  Put32(out, uint32_t(total));
  Put32(out, 0);
  Put32(out, uint32_t(14 + infoSize));
  Put32(out, 40);
  Put32(out, uint32_t(w));
  Put32(out, uint32_t(h));
  Put16(out, 1);
  Put16(out, uint16_t(bits));
  Put32(out, 0);
  Put32(out, uint32_t(rowBytes * size_t(h)));
  Put32(out, uint32_t(std::max(0, image.dotsPerMeterX())));
  Put32(out, uint32_t(std::max(0, image.dotsPerMeterY())));
  Put32(out, colors);
  Put32(out, 0);
  for (uint32_t i = 0; i < colors; ++i) {
    QRgb c = image.color(int(i));
    out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(0));
  }
  const qsizetype start = out.size();
  out.resize(qsizetype(total));
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data()) + start + rowBytes * size_t(h - 1 - y);
    std::memset(dst, 0, rowBytes);
    const uint8_t* src = image.constScanLine(y);
    if (bits == 4) {
      for (int x = 0; x < w; ++x) dst[x >> 1] |= (x & 1) ? (src[x] & 0x0f) : uint8_t(src[x] << 4);
    } else {
      std::memcpy(dst, src, (size_t(w) * bits + 7) / 8);
    }
  }
  return out;
}

void TBitmap::Assign(const TGraphic* source) {
  if (!source) {
    FImage = QImage();
    FWidth = FHeight = 0;
    FPalette.clear();
    Changed();
    return;
  }
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    if (bitmap == this) return;
    FImage = bitmap->FImage;
    FWidth = bitmap->FWidth;
    FHeight = bitmap->FHeight;
    FPixelFormat = bitmap->FPixelFormat;
    FPalette = bitmap->FPalette;
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

void TBitmap::Draw(QPainter& canvas, const QRect& rect) {
  if (!FImage.isNull()) canvas.drawImage(rect, FImage);
}

void TBitmap::LoadFromStream(QIODevice& stream) {
  // A memory stream is read in place; anything else is read into memory.
  QByteArray copy;
  const uint8_t* data = nullptr;
  size_t size = 0;
  qint64 start = stream.pos();
  if (auto* buffer = dynamic_cast<QBuffer*>(&stream); buffer && !stream.isSequential()) {
    const QByteArray& all = buffer->data();
    if (start < all.size()) {
      data = reinterpret_cast<const uint8_t*>(all.constData()) + start;
      size = size_t(all.size() - start);
    }
  } else {
    // Nothing we read is larger than the biggest picture we accept.
    copy = ReadAtMost(stream, kMaxBmpFileBytes);
    data = reinterpret_cast<const uint8_t*>(copy.constData());
    size = size_t(copy.size());
  }
  QImage image;
  bool is4Bit = false;
  if (!data || !ReadBmp(data, size, image, &is4Bit)) throw EInvalidGraphic(kInvalidBitmap);
  // Leave the stream just behind the file when its header tells the size.
  uint32_t fileSize = Get32(data + 2);
  if (!stream.isSequential()) stream.seek(start + (fileSize >= 14 && fileSize <= size ? fileSize : qint64(size)));
  SetImage(image, is4Bit);
}

void TBitmap::SaveToStream(QIODevice& stream) {
  if (FImage.isNull()) return;
  QByteArray bytes = WriteBmp(FImage, FPixelFormat == pf4bit);
  if (stream.write(bytes) != bytes.size()) throw EFOpenError("ビットマップを書き込めません");
}

TPixelFormat TBitmap::PixelFormat() const {
  if (FImage.isNull()) return FPixelFormat;
  switch (FImage.format()) {
    case QImage::Format_Mono:
      return pf1bit;
    case QImage::Format_Indexed8:
      return FPixelFormat == pf4bit ? pf4bit : pf8bit;
    case QImage::Format_RGB555:
      return pf15bit;
    case QImage::Format_RGB16:
      return pf16bit;
    case QImage::Format_BGR888:
      return pf24bit;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
      return FPixelFormat == pfDevice ? pfDevice : pf32bit;
    default:
      return pfCustom;
  }
}

QImage::Format TBitmap::ImageFormat() const {
  switch (FPixelFormat) {
    case pf1bit:
      return QImage::Format_Mono;
    case pf4bit:
    case pf8bit:
      return QImage::Format_Indexed8;
    case pf15bit:
      return QImage::Format_RGB555;
    case pf16bit:
      return QImage::Format_RGB16;
    case pf24bit:
      return QImage::Format_BGR888;
    case pfCustom:
      return FImage.isNull() ? QImage::Format_RGB32 : FImage.format();
    default:
      return QImage::Format_RGB32;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == PixelFormat()) return;
  const TPixelFormat old = PixelFormat();
  FPixelFormat = value;
  if (!FImage.isNull() && value != pfCustom) {
    QImage::Format format = ImageFormat();
    if (value == pf4bit && old != pf4bit) {
      TPalette vga = Vga16();
      FImage = FImage.convertToFormat(format, QList<QRgb>(vga.begin(), vga.end()));
    } else if (FImage.format() != format) {
      FImage = FImage.convertToFormat(format);
    }
    if (FImage.isNull()) {
      FWidth = FHeight = 0;
      throw EInvalidGraphicOperation(kOutOfMemory);
    }
  }
  Changed();
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width == FWidth && height == FHeight) return;
  if (int64_t(width) * height > kMaxBitmapPixels) throw EInvalidGraphicOperation(kOutOfMemory);
  if (width == 0 || height == 0) {
    FImage = QImage();
  } else if (FImage.isNull()) {
    QImage::Format format = ImageFormat();
    FImage = QImage(width, height, format);
    if (FImage.isNull()) throw EInvalidGraphicOperation(kOutOfMemory);
    FImage.fill(0);
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono) {
      TPalette p = FPixelFormat == pf1bit   ? TPalette{qRgb(0, 0, 0), qRgb(255, 255, 255)}
                   : FPixelFormat == pf4bit ? Vga16()
                                            : TPalette(256, qRgb(0, 0, 0));
      if (FPixelFormat == pf8bit)
        for (int i = 0; i < 256; ++i) p[size_t(i)] = qRgb(i, i, i);
      FImage.setColorTable(QList<QRgb>(p.begin(), p.end()));
    }
  } else {
    QImage resized = FImage.copy(0, 0, width, height);  // outside the old picture: zeros
    if (resized.isNull()) throw EInvalidGraphicOperation(kOutOfMemory);
    FImage = resized;
  }
  FWidth = width;
  FHeight = height;
  Changed();
}

uint8_t* TBitmap::ScanLine(int y) {
  if (FImage.isNull() || y < 0 || y >= FHeight)
    throw EInvalidGraphicOperation("スキャンラインのインデックスが範囲外です");
  return FImage.scanLine(y);
}

const uint8_t* TBitmap::ScanLine(int y) const {
  if (FImage.isNull() || y < 0 || y >= FHeight)
    throw EInvalidGraphicOperation("スキャンラインのインデックスが範囲外です");
  return FImage.constScanLine(y);
}

TPalette TBitmap::GetPalette() const {
  if (!FImage.isNull() && (FImage.format() == QImage::Format_Indexed8 || FImage.format() == QImage::Format_Mono)) {
    QList<QRgb> table = FImage.colorTable();
    return TPalette(table.begin(), table.end());
  }
  return FPalette;
}

void TBitmap::SetPalette(const TPalette& palette) {
  if (!FImage.isNull() && (FImage.format() == QImage::Format_Indexed8 || FImage.format() == QImage::Format_Mono)) {
    if (palette.empty()) return;  // an indexed picture cannot lose its colours
    TPalette p = palette;
    // Keep every index that the old table covered addressable.
    while (p.size() < size_t(FImage.colorCount())) p.push_back(qRgb(0, 0, 0));
    FImage.setColorTable(QList<QRgb>(p.begin(), p.end()));
  } else {
    FPalette = palette;
  }
  Changed();
}

void TBitmap::SetImage(const QImage& image, bool fourBit) {
  FImage = image;
  FWidth = image.width();
  FHeight = image.height();
  FPalette.clear();
  switch (image.format()) {
    case QImage::Format_Mono:
      FPixelFormat = pf1bit;
      break;
    case QImage::Format_Indexed8:
      FPixelFormat = fourBit ? pf4bit : pf8bit;
      break;
    case QImage::Format_RGB555:
      FPixelFormat = pf15bit;
      break;
    case QImage::Format_RGB16:
      FPixelFormat = pf16bit;
      break;
    case QImage::Format_BGR888:
      FPixelFormat = pf24bit;
      break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
      FPixelFormat = pf32bit;
      break;
    default:
      FPixelFormat = image.isNull() ? pfDevice : pfCustom;
  }
  if (image.isNull()) FWidth = FHeight = 0;
  Changed();
}
