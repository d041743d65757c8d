// The bitmap class, its BMP reader and writer, and the picture-format registry.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QProcess>

#include "TempDir.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/StreamBytes.h"

namespace {

QImage Sample(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 40 % 256, y * 70 % 256, (x + y) * 13 % 256));
  return image;
}

void ExpectSamePixels(const QImage& a, const QImage& b) {
  ASSERT_EQ(a.size(), b.size());
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      ASSERT_EQ(a.pixel(x, y) | 0xff000000, b.pixel(x, y) | 0xff000000) << x << "," << y;
}

// Writes the bitmap as BMP and reads it back through a new bitmap.
std::unique_ptr<TBitmap> RoundTrip(TBitmap& b) {
  QBuffer buffer;
  buffer.open(QIODevice::ReadWrite);
  b.SaveToStream(buffer);
  buffer.seek(0);
  auto back = std::make_unique<TBitmap>();
  back->LoadFromStream(buffer);
  EXPECT_EQ(buffer.pos(), buffer.size());
  return back;
}

}  // namespace

TEST(Bitmap, ReadsWhatQtWritesAndWritesWhatQtReads) {
  QImage sample = Sample(7, 5);  // odd width: padded rows
  QByteArray bytes;
  QBuffer qtOut(&bytes);
  qtOut.open(QIODevice::WriteOnly);
  ASSERT_TRUE(sample.save(&qtOut, "BMP"));
  QBuffer in(&bytes);
  in.open(QIODevice::ReadOnly);
  TBitmap bitmap;
  bitmap.LoadFromStream(in);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(bitmap.Image().format(), QImage::Format_BGR888);
  ExpectSamePixels(bitmap.Image(), sample);
  // Row 1 is blue, green, red bytes.
  const uint8_t* row = bitmap.ScanLine(1);
  EXPECT_EQ(row[3 * 2 + 2], qRed(sample.pixel(2, 1)));
  EXPECT_EQ(row[3 * 2 + 0], qBlue(sample.pixel(2, 1)));

  QBuffer ours;
  ours.open(QIODevice::WriteOnly);
  bitmap.SaveToStream(ours);
  ExpectSamePixels(QImage::fromData(ours.data(), "BMP"), sample);
}

TEST(Bitmap, EveryDepthSurvivesARoundTrip) {
  QImage sample = Sample(9, 4);
  for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit}) {
    TBitmap bitmap;
    bitmap.SetImage(sample);
    bitmap.SetPixelFormat(format);
    ASSERT_EQ(bitmap.PixelFormat(), format);
    std::unique_ptr<TBitmap> back = RoundTrip(bitmap);
    EXPECT_EQ(back->PixelFormat(), format) << format;
    EXPECT_EQ(back->Palette(), bitmap.Palette()) << format;
    ExpectSamePixels(back->Image(), bitmap.Image());
  }
}

TEST(Bitmap, SizeScanLinesAndPalette) {
  TBitmap bitmap;
  EXPECT_TRUE(bitmap.Empty());
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(3);
  EXPECT_TRUE(bitmap.Empty());
  bitmap.SetHeight(2);
  ASSERT_FALSE(bitmap.Empty());
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  bitmap.ScanLine(1)[0] = 200;
  // Growing keeps the old pixels top-left and zeroes the new ones.
  bitmap.SetSize(5, 3);
  EXPECT_EQ(bitmap.ScanLine(1)[0], 200);
  EXPECT_EQ(bitmap.ScanLine(2)[0], 0);
  EXPECT_EQ(bitmap.ScanLine(1)[3 * 4], 0);
  EXPECT_THROW(bitmap.ScanLine(3), EInvalidGraphicOperation);
  EXPECT_THROW(bitmap.ScanLine(-1), EInvalidGraphicOperation);
  EXPECT_THROW(bitmap.SetSize(1 << 15, 1 << 14), EInvalidGraphicOperation);

  TBitmap copy;
  copy.Assign(&bitmap);
  copy.ScanLine(1)[0] = 1;  // the copy's pixels are its own
  EXPECT_EQ(bitmap.ScanLine(1)[0], 200);
  EXPECT_EQ(copy.Width(), 5);

  bitmap.SetPalette({qRgb(1, 2, 3)});
  EXPECT_EQ(bitmap.Palette(), TPalette{qRgb(1, 2, 3)});
  bitmap.SetPalette({});
  EXPECT_TRUE(bitmap.Palette().empty());
}

TEST(Bitmap, BrokenFilesAreRefused) {
  QByteArray good;
  QBuffer out(&good);
  out.open(QIODevice::WriteOnly);
  ASSERT_TRUE(Sample(16, 16).save(&out, "BMP"));

  std::vector<QByteArray> bad = {QByteArray(), QByteArray("BM"), good.left(60), good.left(good.size() - 1)};
  QByteArray huge = good;  // 2^15 x 2^15 pixels claimed
  huge[18] = 0;
  huge[19] = char(0x80);
  huge[20] = 0;
  huge[21] = 0;
  huge[22] = 0;
  huge[23] = char(0x80);
  huge[24] = 0;
  huge[25] = 0;
  bad.push_back(huge);
  QByteArray depth = good;
  depth[28] = 7;
  bad.push_back(depth);
  QByteArray zeroWidth = good;
  zeroWidth[18] = zeroWidth[19] = 0;
  bad.push_back(zeroWidth);
  for (const QByteArray& bytes : bad) {
    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    TBitmap bitmap;
    EXPECT_THROW(bitmap.LoadFromStream(in), EInvalidGraphic) << bytes.size();
    EXPECT_TRUE(bitmap.Empty());
  }

  TempDir dir;
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromFile(dir / "missing.bmp"), EFOpenError);
  EXPECT_THROW(bitmap.LoadFromFile(dir.dir("folder.bmp")), EFOpenError);
}

TEST(PictureFormats, LatestRegistrationWinsIgnoringCase) {
  static const TGraphicClassInfo fakeInfo{"TFake", TBitmap::StaticClass(), nullptr};
  EXPECT_EQ(GraphicClassForExtension(".BMP"), TBitmap::StaticClass());
  EXPECT_EQ(GraphicDescriptionForExtension("bmp"), "ビットマップ");
  RegisterFileFormat("Bmp", "other", &fakeInfo);
  RegisterFileFormat(".xyz", "xyz picture", &fakeInfo);
  EXPECT_EQ(GraphicClassForExtension("bmp"), &fakeInfo);
  EXPECT_EQ(GraphicClassForExtension("XYZ"), &fakeInfo);
  EXPECT_TRUE(ClassInheritsFrom(&fakeInfo, TGraphic::StaticClass()));
  std::vector<TFileFormat> formats = RegisteredFileFormats();
  ASSERT_GE(formats.size(), 2u);
  EXPECT_EQ(formats[0].Extension, "xyz");
  UnregisterGraphicClass(&fakeInfo);
  EXPECT_EQ(GraphicClassForExtension("bmp"), TBitmap::StaticClass());
  EXPECT_EQ(GraphicClassForExtension("xyz"), nullptr);

  TempDir dir;
  TPicture picture;
  EXPECT_THROW(picture.LoadFromFile(dir.file("a.unknown", "x")), EInvalidGraphic);
  TBitmap source;
  source.SetImage(Sample(3, 3));
  source.SaveToFile(dir / "a.BMP");
  picture.LoadFromFile(dir / "a.BMP");
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassType(), TBitmap::StaticClass());
  EXPECT_EQ(picture.Width(), 3);
}

TEST(Bitmap, DibBlocksAreReadOrTakenOverWhole) {
  // A 3x2 24-bit DIB, bottom-up: the bottom row comes first.
  auto header = [](int height, int bits) {
    std::vector<uint8_t> h(40, 0);
    h[0] = 40;
    h[4] = 3;
    int32_t hh = height;
    std::memcpy(&h[8], &hh, 4);
    h[12] = 1;
    h[14] = uint8_t(bits);
    return h;
  };
  const uint8_t rows[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,   // bottom row
                            9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0};  // top row
  std::vector<uint8_t> up = header(2, 24), down = header(-2, 24);

  QImage image;
  ASSERT_TRUE(ReadDib(up.data(), up.size(), rows, sizeof rows, image, nullptr));
  EXPECT_EQ(image.pixel(0, 0) | 0xff000000, qRgb(7, 8, 9));  // B, G, R bytes
  EXPECT_EQ(image.pixel(0, 1) | 0xff000000, qRgb(3, 2, 1));
  ASSERT_TRUE(ReadDib(down.data(), down.size(), rows, sizeof rows, image, nullptr));
  EXPECT_EQ(image.pixel(0, 0) | 0xff000000, qRgb(3, 2, 1));
  EXPECT_FALSE(ReadDib(up.data(), up.size(), rows, sizeof rows - 1, image, nullptr));

  // Taken over: turned top-down in place, freed by the image.
  auto* block = static_cast<uint8_t*>(std::malloc(sizeof rows));
  std::memcpy(block, rows, sizeof rows);
  EXPECT_FALSE(AdoptDib(up.data(), up.size(), block, sizeof rows - 1, image));
  EXPECT_EQ(block[0], 1);  // refused: untouched, still ours
  ASSERT_TRUE(AdoptDib(up.data(), up.size(), block, sizeof rows, image));
  EXPECT_EQ(image.constBits(), block);
  EXPECT_EQ(image.format(), QImage::Format_BGR888);
  EXPECT_EQ(image.pixel(0, 0) | 0xff000000, qRgb(7, 8, 9));
  EXPECT_EQ(image.pixel(2, 1) | 0xff000000, qRgb(9, 8, 7));
  image = QImage();

  // 32 bits: the fourth bytes are alpha only when some are not zero.
  const uint8_t opaque[8] = {10, 20, 30, 0, 40, 50, 60, 0};
  std::vector<uint8_t> h32 = header(1, 32);
  h32[4] = 2;
  ASSERT_TRUE(ReadDib(h32.data(), h32.size(), opaque, sizeof opaque, image, nullptr));
  EXPECT_EQ(image.pixel(1, 0), qRgba(60, 50, 40, 255));
  const uint8_t translucent[8] = {10, 20, 30, 128, 40, 50, 60, 0};
  ASSERT_TRUE(ReadDib(h32.data(), h32.size(), translucent, sizeof translucent, image, nullptr));
  EXPECT_EQ(image.format(), QImage::Format_ARGB32);
  EXPECT_EQ(image.pixel(0, 0), qRgba(30, 20, 10, 128));
  EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
}

TEST(Bitmap, StreamsAreReadIntoWhatTheyHoldNotIntoTheLimit) {
  TempDir dir;
  const std::string path = dir.file("small.bmp", std::string(100, 'x'));
  std::unique_ptr<QIODevice> file = OpenFileStream(path);
  file->seek(10);
  const QByteArray rest = ReadAtMost(*file, qint64(1) << 31);
  EXPECT_EQ(rest.size(), 90);
  EXPECT_LT(rest.capacity(), 1 << 20);  // not two gigabytes set aside for a small file
  file->seek(0);
  EXPECT_EQ(ReadAtMost(*file, 30).size(), 30);

  // A pipe tells no size: read until it ends, up to the limit.
  QProcess pipe;
  pipe.start("head", {"-c", "200000", "/dev/zero"});
  ASSERT_TRUE(pipe.waitForFinished(10000));
  ASSERT_TRUE(pipe.isSequential());
  const QByteArray piped = ReadAtMost(pipe, 150000);
  EXPECT_EQ(piped.size(), 150000);
  EXPECT_LT(piped.capacity(), 1 << 20);
  EXPECT_EQ(ReadAtMost(pipe, 150000).size(), 50000);
}
