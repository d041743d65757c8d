// The bundled JPEG and PNG plug-ins through TSPIBitmap, against Qt's own
// decoding of the same files.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <cstdlib>

#include "TempDir.h"
#include "image/SPIBitmap.h"
#include "image/SPIs.h"

namespace {

// Smooth gradients with some detail, as photographs have.
QImage Photo(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  QRandomGenerator random(42);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int noise = int(random.bounded(24));
      image.setPixel(x, y, qRgb((x * 255 / w + noise) % 256, (y * 255 / h + noise / 2) % 256, ((x + y) * 2) % 256));
    }
  return image;
}

struct Difference {
  int max = 0;
  double mean = 0;
};

// Per channel, alpha included.
Difference Compare(const QImage& ours, const QImage& qt) {
  Difference d;
  EXPECT_EQ(ours.size(), qt.size());
  if (ours.size() != qt.size()) return {999, 999};
  const QImage a = ours.convertToFormat(QImage::Format_ARGB32);
  const QImage b = qt.convertToFormat(QImage::Format_ARGB32);
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      for (int c : {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)),
                    std::abs(qAlpha(p) - qAlpha(q))}) {
        d.max = std::max(d.max, c);
        sum += c;
      }
    }
  d.mean = sum / (4.0 * a.width() * a.height());
  return d;
}

class BundledPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_unique<TSPIs>();
    host->MacBinary = false;
    host->Search(std::string(BUNDLED_SPI_DIR) + "/*.spi");
    ASSERT_GE(host->IndexOf(std::string(BUNDLED_SPI_DIR) + "/ifjpeg.spi"), 0);
    ASSERT_GE(host->IndexOf(std::string(BUNDLED_SPI_DIR) + "/ifpng.spi"), 0);
  }

  // Loads the file through TSPIBitmap by name and from memory.
  void ExpectAsQtReads(const std::string& path, int maxDifference, double maxMean) {
    SCOPED_TRACE(path);
    QImage qt(QString::fromStdString(path));
    ASSERT_FALSE(qt.isNull());
    TSPIBitmap bitmap;
    bitmap.LoadFromFile(path);
    Difference d = Compare(bitmap.Image(), qt);
    EXPECT_LE(d.max, maxDifference);
    EXPECT_LE(d.mean, maxMean);

    QBuffer buffer;
    buffer.setData(QByteArray::fromStdString(ReadWholeFile(path)));
    buffer.open(QIODevice::ReadOnly);
    TSPIBitmap fromMemory;
    fromMemory.LoadFromStreamWithName(buffer, path);
    EXPECT_EQ(fromMemory.Image().convertToFormat(QImage::Format_ARGB32),
              bitmap.Image().convertToFormat(QImage::Format_ARGB32));
  }

  TempDir dir;
  std::unique_ptr<TSPIs> host;
};

}  // namespace

TEST_F(BundledPluginTest, JpegMatchesQtWithinRounding) {
  QImage photo = Photo(203, 117);  // sizes that are no multiple of the 8x8 blocks
  std::string baseline = dir / "baseline.jpg";
  ASSERT_TRUE(photo.save(QString::fromStdString(baseline), "JPEG", 90));
  std::string progressive = dir / "progressive.JPEG";
  {
    QImageWriter writer(QString::fromStdString(progressive), "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.setQuality(80);
    ASSERT_TRUE(writer.write(photo));
  }
  std::string grey = dir / "grey.jpg";
  ASSERT_TRUE(photo.convertToFormat(QImage::Format_Grayscale8).save(QString::fromStdString(grey), "JPEG", 85));

  ExpectAsQtReads(baseline, 3, 0.5);
  ExpectAsQtReads(progressive, 3, 0.5);
  ExpectAsQtReads(grey, 3, 0.5);

  TSPIBitmap bitmap;
  bitmap.LoadFromFile(baseline);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(bitmap.Width(), 203);
  EXPECT_EQ(bitmap.Height(), 117);
}

TEST_F(BundledPluginTest, PngMatchesQtExactly) {
  QImage photo = Photo(61, 37);
  std::string rgb = dir / "rgb.png";
  ASSERT_TRUE(photo.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(rgb), "PNG"));
  std::string grey = dir / "grey.png";
  ASSERT_TRUE(photo.convertToFormat(QImage::Format_Grayscale8).save(QString::fromStdString(grey), "PNG"));
  std::string palette = dir / "palette.png";
  ASSERT_TRUE(photo.convertToFormat(QImage::Format_Indexed8).save(QString::fromStdString(palette), "PNG"));
  std::string alpha = dir / "alpha.png";
  QImage withAlpha = photo.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < withAlpha.height(); ++y)
    for (int x = 0; x < withAlpha.width(); ++x) {
      QRgb p = withAlpha.pixel(x, y);
      withAlpha.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x * 7 + y) % 256));
    }
  ASSERT_TRUE(withAlpha.save(QString::fromStdString(alpha), "PNG"));
  std::string deep = dir / "deep.png";
  ASSERT_TRUE(photo.convertToFormat(QImage::Format_RGBX64).save(QString::fromStdString(deep), "PNG"));

  ExpectAsQtReads(rgb, 0, 0);
  ExpectAsQtReads(grey, 0, 0);
  ExpectAsQtReads(palette, 0, 0);
  ExpectAsQtReads(alpha, 0, 0);
  ExpectAsQtReads(deep, 1, 0.5);  // 16-bit samples rounded to 8

  // A PNG under another name is still read: the other plug-in declines it.
  std::filesystem::copy_file(rgb, dir / "misnamed.jpg");
  ExpectAsQtReads(dir / "misnamed.jpg", 0, 0);
}

TEST_F(BundledPluginTest, DamagedFilesFailCleanly) {
  QImage photo = Photo(64, 48);
  QByteArray jpeg, png;
  {
    QBuffer b(&jpeg);
    b.open(QIODevice::WriteOnly);
    ASSERT_TRUE(photo.save(&b, "JPEG", 90));
    QBuffer c(&png);
    c.open(QIODevice::WriteOnly);
    ASSERT_TRUE(photo.save(&c, "PNG"));
  }
  std::vector<std::pair<std::string, QByteArray>> damaged = {
      {"half.jpg", jpeg.left(jpeg.size() / 2)},
      {"head.jpg", jpeg.left(20)},
      {"half.png", png.left(png.size() / 2)},
      {"head.png", png.left(30)},
  };
  // Absurd dimensions in the PNG header (its CRC then fails too) and a zeroed JPEG frame.
  QByteArray wide = png;
  wide[16] = char(0x7f);
  damaged.push_back({"wide.png", wide});
  QByteArray scrambled = jpeg;
  for (int i = 200; i < scrambled.size() - 2; i += 7) scrambled[i] = char(0xff);
  damaged.push_back({"scrambled.jpg", scrambled});
  for (const auto& [name, bytes] : damaged) {
    std::string path = dir.file(name, bytes.toStdString());
    TSPIBitmap bitmap;
    try {
      bitmap.LoadFromFile(path);
      // A decoder may recover a damaged JPEG; then it must have the right size.
      EXPECT_EQ(bitmap.Width(), 64) << name;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message, "Susie Plugins could not decode") << name;
    }
  }
}
