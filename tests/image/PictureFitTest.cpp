// The bundled plug-ins' fitted entry point and their refusals, through dlopen as any
// host calls them: decompression bombs of every format, a real huge PNG, GIF frames
// off the screen, EXIF orientation, the first frame of an animated WebP.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <cstring>

#include "HostilePictures.h"
#include "TempDir.h"
#include "image/SusiePluginApi.h"

namespace {

constexpr uint64_t kLimit = uint64_t(256) << 20;

struct Spi {
  explicit Spi(const std::string& name) {
    handle = dlopen((std::string(BUNDLED_SPI_DIR) + "/" + name + ".spi").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    info = reinterpret_cast<SusieGetPictureInfoFunc>(dlsym(handle, "GetPictureInfo"));
    picture = reinterpret_cast<SusieGetPictureFunc>(dlsym(handle, "GetPicture"));
    fit = reinterpret_cast<SusieGetPictureFitFunc>(dlsym(handle, SUSIE_GET_PICTURE_FIT));
  }
  ~Spi() {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
  SusieGetPictureInfoFunc info = nullptr;
  SusieGetPictureFunc picture = nullptr;
  SusieGetPictureFitFunc fit = nullptr;
};

// The DIB as an ARGB32 picture (32-bit pixels with their alpha).
QImage FromDib(void* hbInfo, void* hbm) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, hbInfo, sizeof h);
  const int w = h.biWidth, rows = h.biHeight, bits = h.biBitCount;
  const size_t stride = ((size_t(w) * size_t(bits) + 31) / 32) * 4;
  const auto* colors = reinterpret_cast<const RGBQUAD*>(static_cast<const uint8_t*>(hbInfo) + 40);
  QImage out(w, rows, QImage::Format_ARGB32);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(hbm) + size_t(rows - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      if (bits == 8)
        out.setPixel(x, y, qRgb(colors[row[x]].rgbRed, colors[row[x]].rgbGreen, colors[row[x]].rgbBlue));
      else if (bits == 24)
        out.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
      else
        out.setPixel(x, y, qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]));
    }
  }
  std::free(hbInfo);
  std::free(hbm);
  return out;
}

// GetPictureFit from the file; the result code and the picture.
int32_t Fit(const Spi& spi, const std::string& path, int maxW, int maxH, QImage* out = nullptr,
            uint64_t limit = kLimit) {
  void *hbInfo = nullptr, *hbm = nullptr;
  int32_t result = spi.fit(path.c_str(), 0, SUSIE_INPUT_FILE, maxW, maxH, limit, &hbInfo, &hbm, nullptr, 0);
  if (result != SUSIE_OK) {
    EXPECT_EQ(hbInfo, nullptr);
    return result;
  }
  QImage image = FromDib(hbInfo, hbm);
  if (out) *out = image;
  return result;
}

int32_t Whole(const Spi& spi, const std::string& path, QImage* out = nullptr) {
  void *hbInfo = nullptr, *hbm = nullptr;
  int32_t result = spi.picture(path.c_str(), 0, SUSIE_INPUT_FILE, &hbInfo, &hbm, nullptr, 0);
  if (result == SUSIE_OK) {
    QImage image = FromDib(hbInfo, hbm);
    if (out) *out = image;
  }
  return result;
}

QSize InfoSize(const Spi& spi, const std::string& path) {
  SusiePictureInfo info{};
  if (spi.info(path.c_str(), 0, SUSIE_INPUT_FILE, &info) != SUSIE_OK) return {};
  std::free(info.hInfo);
  return {info.width, info.height};
}

QImage Gradient(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128));
  return image;
}

// 40 x 20, the left half red and the right half blue: which way is up shows.
QImage RedLeftBlueRight() {
  QImage image(40, 20, QImage::Format_RGB32);
  image.fill(qRgb(0, 0, 255));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) image.setPixel(x, y, qRgb(255, 0, 0));
  return image;
}

// That picture, stored with EXIF orientation 6, comes out turned upright, whole and
// fitted; the fitted picture, or a null one when a step failed.
QImage ExpectTurnedUpright(const Spi& spi, const std::string& path) {
  EXPECT_EQ(InfoSize(spi, path), QSize(20, 40));
  QImage whole, fitted;
  if (Whole(spi, path, &whole) != SUSIE_OK || whole.size() != QSize(20, 40)) {
    ADD_FAILURE() << "the whole picture is missing or " << whole.width() << " x " << whole.height();
    return {};
  }
  EXPECT_GT(qRed(whole.pixel(10, 5)), 200);  // the left half is now on top
  EXPECT_GT(qBlue(whole.pixel(10, 35)), 200);
  if (Fit(spi, path, 5, 10, &fitted) != SUSIE_OK) {
    ADD_FAILURE() << "no fitted picture";
    return {};
  }
  EXPECT_GE(fitted.width(), 5);
  EXPECT_EQ(fitted.width() * 2, fitted.height());
  EXPECT_GT(qRed(fitted.pixel(fitted.width() / 2, 1)), 200);
  return fitted;
}

class PictureFitTest : public ::testing::Test {
 protected:
  TempDir dir;
};

}  // namespace

TEST_F(PictureFitTest, DecompressionBombsAreRefusedQuicklyAndWithoutTheirMemory) {
  struct Bomb {
    const char* plugin;
    std::string name, bytes;
  };
  const std::string progressive = hostile::JpegClaiming(16000, 16000, true, 40);
  const std::string baseline = hostile::JpegClaiming(16384, 16384, false, 60);
  const std::vector<Bomb> bombs = {
      {"ifjpeg", "progressive.jpg", progressive},
      {"ifjpeg", "progressive-eoi.jpg", progressive + "\xFF\xD9"},
      {"ifjpeg", "baseline.jpg", baseline},
      {"ifjpeg", "baseline-eoi.jpg", baseline + "\xFF\xD9"},
      {"ifwebp", "lossless.webp", hostile::WebpClaiming(16383, 16383)},
      {"ifgif", "screen.gif", hostile::Gif(16000, 16000, 0, 0, 16000, 16000, false)},
  };
  ASSERT_LT(progressive.size(), 1000u);
  const long before = hostile::PeakResidentMb();
  for (const Bomb& bomb : bombs) {
    SCOPED_TRACE(bomb.name);
    const std::string path = dir.file(bomb.name, bomb.bytes);
    Spi spi(bomb.plugin);
    ASSERT_TRUE(spi.fit);
    QElapsedTimer clock;
    clock.start();
    EXPECT_NE(Fit(spi, path, 800, 600), SUSIE_OK);
    EXPECT_LT(clock.elapsed(), 3000);
  }
  EXPECT_LT(hostile::PeakResidentMb() - before, 120);
  // The data ends early: the whole decode refuses too, having allocated only pixels it
  // never touched (the GIF's 2^28 pixels are allowed whole, but it ends at its first row).
  for (const Bomb& bomb : bombs) {
    SCOPED_TRACE(bomb.name);
    if (bomb.name.find("baseline") == 0 || bomb.name.find("screen") == 0) {
      EXPECT_NE(Whole(Spi(bomb.plugin), dir / bomb.name), SUSIE_OK);
    }
  }
  EXPECT_LT(hostile::PeakResidentMb() - before, 120);
}

TEST_F(PictureFitTest, AHugeRealPngIsReducedAsItStreams) {
  const std::string path = dir / "huge.png";
  ASSERT_TRUE(hostile::WriteHugePng(path, 16000, 16000, qRgba(30, 160, 90, 255)));
  Spi png("ifpng");
  ASSERT_TRUE(png.fit);
  EXPECT_EQ(InfoSize(png, path), QSize(16000, 16000));
  const long before = hostile::PeakResidentMb();
  QImage fitted;
  ASSERT_EQ(Fit(png, path, 800, 600, &fitted), SUSIE_OK);
  EXPECT_LT(hostile::PeakResidentMb() - before, 120);
  // At least the fit (600 x 600), within twice it; the colour averaged exactly.
  EXPECT_GE(fitted.height(), 600);
  EXPECT_LE(fitted.height(), 1200);
  EXPECT_EQ(fitted.width(), fitted.height());
  EXPECT_EQ(fitted.pixel(0, 0), qRgba(30, 160, 90, 255));
  EXPECT_EQ(fitted.pixel(fitted.width() - 1, fitted.height() - 1), qRgba(30, 160, 90, 255));
  // A limit below even the fitted picture is refused as out of memory.
  EXPECT_EQ(Fit(png, path, 800, 600, nullptr, 1 << 20), SUSIE_NO_MEMORY);
}

TEST_F(PictureFitTest, FittedPicturesCoverTheFitAndMatchTheWholeDecode) {
  const QImage source = Gradient(1600, 1200);
  const std::string jpg = dir / "photo.jpg", png = dir / "photo.png", gif = dir / "photo.gif";
  const std::string interlaced = dir / "interlaced.png", webp = dir / "photo.webp";
  ASSERT_TRUE(source.save(QString::fromStdString(jpg), "JPG", 95));
  ASSERT_TRUE(source.save(QString::fromStdString(png)));
  ASSERT_EQ(QProcess::execute("convert", {QString::fromStdString(png), QString::fromStdString(gif)}), 0);
  ASSERT_EQ(QProcess::execute("convert",
                              {QString::fromStdString(png), "-interlace", "PNG", QString::fromStdString(interlaced)}),
            0);
  ASSERT_EQ(QProcess::execute("convert", {QString::fromStdString(png), "-quality", "95", QString::fromStdString(webp)}),
            0);
  for (auto [plugin, path] : std::vector<std::pair<const char*, std::string>>{
           {"ifjpeg", jpg}, {"ifpng", png}, {"ifpng", interlaced}, {"ifgif", gif}, {"ifwebp", webp}}) {
    SCOPED_TRACE(path);
    Spi spi(plugin);
    QImage whole, fitted;
    ASSERT_EQ(Whole(spi, path, &whole), SUSIE_OK);
    ASSERT_EQ(Fit(spi, path, 200, 200, &fitted), SUSIE_OK);
    // 1600 x 1200 into 200 x 200 fits as 200 x 150: reduced 8 times, no less.
    EXPECT_EQ(fitted.size(), QSize(200, 150));
    const QImage reference = whole.scaled(fitted.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int y = 0; y < fitted.height(); ++y)
      for (int x = 0; x < fitted.width(); ++x) {
        QRgb a = fitted.pixel(x, y), b = reference.pixel(x, y);
        sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
      }
    EXPECT_LT(sum / (3.0 * fitted.width() * fitted.height()), 6.0);
    // A box larger than the picture gives the whole picture.
    ASSERT_EQ(Fit(spi, path, 4000, 4000, &fitted), SUSIE_OK);
    EXPECT_EQ(fitted, whole);
  }
}

TEST_F(PictureFitTest, GifFramesOffTheScreenAreClippedAndBothCallsAgreeOnTheSize) {
  Spi gif("ifgif");
  const std::string off = dir.file("off.gif", hostile::Gif(4, 4, 16000, 16000, 4, 4, true));
  const std::string half = dir.file("half.gif", hostile::Gif(6, 6, 3, 2, 4, 4, true));
  const std::string bare = dir.file("bare.gif", hostile::Gif(0, 0, 0, 0, 5, 3, true));
  for (auto [path, size] :
       std::vector<std::pair<std::string, QSize>>{{off, QSize(4, 4)}, {half, QSize(6, 6)}, {bare, QSize(5, 3)}}) {
    SCOPED_TRACE(path);
    QImage whole, fitted;
    EXPECT_EQ(InfoSize(gif, path), size);
    ASSERT_EQ(Whole(gif, path, &whole), SUSIE_OK);
    ASSERT_EQ(Fit(gif, path, 100, 100, &fitted), SUSIE_OK);
    EXPECT_EQ(whole.size(), size);
    EXPECT_EQ(fitted, whole);
  }
  QImage half6;
  ASSERT_EQ(Whole(gif, half, &half6), SUSIE_OK);
  EXPECT_EQ(half6.pixel(5, 5), qRgb(255, 0, 0));  // the frame, cut at the screen's edge
  EXPECT_EQ(half6.pixel(2, 5), qRgb(0, 0, 0));    // the background beside it
  EXPECT_EQ(half6.pixel(5, 1), qRgb(0, 0, 0));
}

TEST_F(PictureFitTest, ExifOrientationTurnsJpegsUpright) {
  // Left half red, right half blue, stored as it leaves the sensor.
  const QImage stored = RedLeftBlueRight();
  const std::string plain = dir / "plain.jpg";
  ASSERT_TRUE(stored.save(QString::fromStdString(plain), "JPG", 95));
  std::string bytes = ReadWholeFile(plain);
  // An EXIF record (big-endian TIFF) whose only tag is orientation 6: turn 90 degrees clockwise.
  std::string tiff = std::string("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
  std::string app1 = std::string("\xFF\xE1\0\0Exif\0\0", 10) + tiff;
  hostile::Put16BE(app1, 2, uint32_t(app1.size() - 2));
  const std::string turned = dir.file("turned.jpg", bytes.substr(0, 2) + app1 + bytes.substr(2));
  ExpectTurnedUpright(Spi("ifjpeg"), turned);
}

TEST_F(PictureFitTest, ExifOrientationTurnsPngsAndWebpsUpright) {
  // Left half red, right half blue, with an EXIF record whose only tag is orientation 6.
  const QImage stored = RedLeftBlueRight();
  const std::string tiff = std::string("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
  const std::string plainPng = dir / "plain.png", plainWebp = dir / "plain.webp";
  ASSERT_TRUE(stored.save(QString::fromStdString(plainPng)));
  ASSERT_EQ(QProcess::execute("convert", {QString::fromStdString(plainPng), "-define", "webp:lossless=true",
                                          QString::fromStdString(plainWebp)}),
            0);
  // PNG: an eXIf chunk right after the header.
  std::string png = ReadWholeFile(plainPng), exifChunk;
  hostile::AppendPngChunk(exifChunk, "eXIf", tiff);
  const std::string turnedPng = dir.file("turned.png", png.substr(0, 33) + exifChunk + png.substr(33));
  // WebP: the extended layout, whose header says an EXIF chunk follows the picture.
  std::string chunks = "VP8X";
  hostile::Append32LE(chunks, 10);
  chunks += std::string("\x08\0\0\0", 4);
  chunks += std::string{char(39), 0, 0, char(19), 0, 0};
  chunks += ReadWholeFile(plainWebp).substr(12);
  chunks += "EXIF";
  hostile::Append32LE(chunks, uint32_t(6 + tiff.size()));
  chunks += std::string("Exif\0\0", 6) + tiff;
  std::string riff = "RIFF";
  hostile::Append32LE(riff, uint32_t(4 + chunks.size()));
  const std::string turnedWebp = dir.file("turned.webp", riff + "WEBP" + chunks);

  for (const auto& [plugin, path] : {std::pair{"ifpng", turnedPng}, std::pair{"ifwebp", turnedWebp}}) {
    SCOPED_TRACE(plugin);
    const QImage fitted = ExpectTurnedUpright(Spi(plugin), path);
    if (!fitted.isNull()) {
      EXPECT_GT(qBlue(fitted.pixel(fitted.width() / 2, fitted.height() - 2)), 200);
    }
  }
  // Without the record the same pictures stay as stored.
  EXPECT_EQ(InfoSize(Spi("ifpng"), plainPng), QSize(40, 20));
  EXPECT_EQ(InfoSize(Spi("ifwebp"), plainWebp), QSize(40, 20));
}

TEST_F(PictureFitTest, AnAnimatedWebpShowsItsFirstFrame) {
  // Two frames made by ImageMagick, then wrapped as an animation by hand: a red 10 x 6
  // frame at (4, 2) of a 20 x 10 canvas, then a blue one over all of it.
  QImage red(10, 6, QImage::Format_RGB32), blue(20, 10, QImage::Format_RGB32);
  red.fill(qRgb(255, 0, 0));
  blue.fill(qRgb(0, 0, 255));
  auto frame = [&](const QImage& image, const std::string& name, int x, int y) {
    const std::string png = dir / (name + ".png"), webp = dir / (name + ".webp");
    EXPECT_TRUE(image.save(QString::fromStdString(png)));
    EXPECT_EQ(QProcess::execute("convert", {QString::fromStdString(png), "-define", "webp:lossless=true",
                                            QString::fromStdString(webp)}),
              0);
    const std::string still = ReadWholeFile(webp);
    std::string body;
    auto put24 = [&](uint32_t v) { body += std::string{char(v), char(v >> 8), char(v >> 16)}; };
    put24(uint32_t(x / 2));
    put24(uint32_t(y / 2));
    put24(uint32_t(image.width() - 1));
    put24(uint32_t(image.height() - 1));
    put24(100);
    body.push_back('\0');
    body += still.substr(12);  // the still's chunks
    std::string chunk = "ANMF";
    hostile::Append32LE(chunk, uint32_t(body.size()));
    return chunk + body + (body.size() % 2 ? std::string(1, '\0') : "");
  };
  std::string chunks = "VP8X";
  hostile::Append32LE(chunks, 10);
  chunks += std::string("\x12\0\0\0", 4);  // animation, alpha
  chunks += std::string{char(19), 0, 0, char(9), 0, 0};
  chunks += "ANIM";
  hostile::Append32LE(chunks, 6);
  chunks += std::string(6, '\0');
  chunks += frame(red, "red", 4, 2) + frame(blue, "blue", 0, 0);
  std::string file = "RIFF";
  hostile::Append32LE(file, uint32_t(4 + chunks.size()));
  const std::string path = dir.file("anim.webp", file + "WEBP" + chunks);
  Spi webp("ifwebp");
  EXPECT_EQ(InfoSize(webp, path), QSize(20, 10));
  QImage whole, fitted;
  ASSERT_EQ(Whole(webp, path, &whole), SUSIE_OK);
  ASSERT_EQ(whole.size(), QSize(20, 10));
  EXPECT_EQ(whole.pixel(8, 5), qRgba(255, 0, 0, 255));
  EXPECT_EQ(qAlpha(whole.pixel(1, 1)), 0);  // the canvas around the first frame
  EXPECT_EQ(qAlpha(whole.pixel(18, 9)), 0);
  ASSERT_EQ(Fit(webp, path, 10, 10, &fitted), SUSIE_OK);
  EXPECT_EQ(fitted.size(), QSize(10, 5));
  EXPECT_EQ(fitted.pixel(4, 2), qRgba(255, 0, 0, 255));
  EXPECT_EQ(qAlpha(fitted.pixel(0, 0)), 0);
}
