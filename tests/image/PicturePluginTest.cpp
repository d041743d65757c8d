// The bundled picture plug-ins through their exported interface (dlopen, dlsym), as any
// host calls them: the kinds of each format against Qt's (or ImageMagick's) decoding,
// the DIB they hand back, progress and abort, and hostile files.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "TempDir.h"
#include "image/SusiePluginApi.h"

namespace {

struct Plugin {
  explicit Plugin(const std::string& name) {
    handle = dlopen((std::string(BUNDLED_SPI_DIR) + "/" + name + ".spi").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    info = reinterpret_cast<SusieGetPluginInfoFunc>(dlsym(handle, "GetPluginInfo"));
    supported = reinterpret_cast<SusieIsSupportedFunc>(dlsym(handle, "IsSupported"));
    pictureInfo = reinterpret_cast<SusieGetPictureInfoFunc>(dlsym(handle, "GetPictureInfo"));
    picture = reinterpret_cast<SusieGetPictureFunc>(dlsym(handle, "GetPicture"));
  }
  ~Plugin() {
    if (handle) dlclose(handle);
  }
  bool Loaded() const { return handle && info && supported && pictureInfo && picture; }

  void* handle = nullptr;
  SusieGetPluginInfoFunc info = nullptr;
  SusieIsSupportedFunc supported = nullptr;
  SusieGetPictureInfoFunc pictureInfo = nullptr;
  SusieGetPictureFunc picture = nullptr;
};

// The DIB as a picture, with the checks every DIB must pass.
QImage FromDib(const void* hbInfo, const void* hbm) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, hbInfo, sizeof h);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biCompression, BI_RGB);
  const int w = h.biWidth, rows = h.biHeight, bits = h.biBitCount;
  const size_t stride = ((size_t(w) * size_t(bits) + 31) / 32) * 4;
  EXPECT_EQ(h.biSizeImage, stride * size_t(rows));
  EXPECT_EQ(h.biClrUsed, bits == 8 ? 256u : 0u);
  const auto* colors = reinterpret_cast<const RGBQUAD*>(static_cast<const uint8_t*>(hbInfo) + 40);
  QImage out(w, rows, QImage::Format_ARGB32);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(hbm) + size_t(rows - 1 - y) * stride;  // bottom-up
    for (int x = 0; x < w; ++x) {
      if (bits == 8) {
        const RGBQUAD& c = colors[row[x]];
        out.setPixel(x, y, qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue));
      } else if (bits == 24) {
        out.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
      } else {
        out.setPixel(x, y, qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]));
      }
    }
  }
  return out;
}

// Decodes from the file (at offset) or from memory; the result code, and the picture.
int32_t Decode(const Plugin& spi, const std::string& path, bool memory, QImage* out = nullptr,
               SusieProgressCallback progress = nullptr, intptr_t data = 0, intptr_t offset = 0) {
  std::string bytes = ReadWholeFile(path);
  void *hbInfo = nullptr, *hbm = nullptr;
  int32_t result = memory ? spi.picture(bytes.data() + offset, intptr_t(bytes.size()) - offset, SUSIE_INPUT_MEMORY,
                                        &hbInfo, &hbm, progress, data)
                          : spi.picture(path.c_str(), offset, SUSIE_INPUT_FILE, &hbInfo, &hbm, progress, data);
  if (result == SUSIE_OK) {
    EXPECT_TRUE(hbInfo && hbm);
    if (out && hbInfo && hbm) *out = FromDib(hbInfo, hbm);
  } else {
    EXPECT_EQ(hbInfo, nullptr);
    EXPECT_EQ(hbm, nullptr);
  }
  std::free(hbInfo);
  std::free(hbm);
  return result;
}

// The largest difference of any channel, alpha included; 999 for different sizes.
int MaxDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 999;
  QImage p = a.convertToFormat(QImage::Format_ARGB32), q = b.convertToFormat(QImage::Format_ARGB32);
  int most = 0;
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      QRgb u = p.pixel(x, y), v = q.pixel(x, y);
      most = std::max({most, std::abs(qRed(u) - qRed(v)), std::abs(qGreen(u) - qGreen(v)),
                       std::abs(qBlue(u) - qBlue(v)), std::abs(qAlpha(u) - qAlpha(v))});
    }
  return most;
}

QImage Photo(int w, int h, bool alpha = false) {
  QImage image(w, h, QImage::Format_ARGB32);
  QRandomGenerator random(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int n = int(random.bounded(20));
      image.setPixel(
          x, y,
          qRgba((x * 255 / w + n) % 256, (y * 255 / h) % 256, (x * y + n) % 256, alpha ? (x * 5 + y * 3) % 256 : 255));
    }
  return image;
}

// ImageMagick turns source into target with the options between.
// An option ending in ':' ("PNG8:") names the output format and goes before target.
bool Convert(const std::string& source, QStringList options, const std::string& target) {
  QString prefix;
  if (!options.isEmpty() && options.last().endsWith(':')) prefix = options.takeLast();
  QStringList args{QString::fromStdString(source)};
  args << options << prefix + QString::fromStdString(target);
  return QProcess::execute("convert", args) == 0;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xffffffffu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

void PutBig32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (24 - 8 * i));
}

class PicturePluginTest : public ::testing::Test {
 protected:
  // A picture made by Qt, then turned by ImageMagick into name with options.
  std::string Make(const QImage& image, const std::string& name, const QStringList& options = {}) {
    std::string png = dir / (name + ".source.png");
    EXPECT_TRUE(image.save(QString::fromStdString(png)));
    std::string target = dir / name;
    EXPECT_TRUE(Convert(png, options, target)) << name;
    return target;
  }

  // Decoded by spi from the file, from memory and at offset 128 of another file, all
  // within tolerance of Qt's reading (or of expected).
  void ExpectDecodes(const Plugin& spi, const std::string& path, int tolerance, const QImage& expected = {}) {
    SCOPED_TRACE(path);
    QImage reference = expected.isNull() ? QImage(QString::fromStdString(path)) : expected;
    ASSERT_FALSE(reference.isNull());
    QImage fromFile, fromMemory, shifted;
    ASSERT_EQ(Decode(spi, path, false, &fromFile), SUSIE_OK);
    EXPECT_LE(MaxDifference(fromFile, reference), tolerance);
    ASSERT_EQ(Decode(spi, path, true, &fromMemory), SUSIE_OK);
    EXPECT_EQ(fromMemory, fromFile);
    std::string prefixed = dir.file("prefixed.bin", std::string(128, 'M') + ReadWholeFile(path));
    ASSERT_EQ(Decode(spi, prefixed, false, &shifted, nullptr, 0, 128), SUSIE_OK);
    EXPECT_EQ(shifted, fromFile);
    ASSERT_EQ(Decode(spi, prefixed, true, &shifted, nullptr, 0, 128), SUSIE_OK);
    EXPECT_EQ(shifted, fromFile);
  }

  TempDir dir;
};

}  // namespace

TEST_F(PicturePluginTest, EachPluginAnnouncesItselfAsPictureInput) {
  for (auto [name, filter] : std::vector<std::pair<std::string, std::string>>{
           {"ifjpeg", "*.JPG"}, {"ifpng", "*.PNG"}, {"ifgif", "*.GIF"}, {"ifwebp", "*.WEBP"}}) {
    Plugin spi(name);
    ASSERT_TRUE(spi.Loaded()) << name << ": " << dlerror();
    char buf[256];
    EXPECT_EQ(spi.info(0, buf, 255), 4);
    EXPECT_STREQ(buf, "00IN");
    EXPECT_GT(spi.info(1, buf, 255), 0);
    ASSERT_GT(spi.info(2, buf, 255), 0);
    EXPECT_NE(std::string(buf).find(filter), std::string::npos) << buf;
    EXPECT_GT(spi.info(3, buf, 255), 0);
    EXPECT_EQ(spi.info(4, buf, 255), 0);  // one format each
    EXPECT_EQ(spi.info(-1, buf, 255), 0);
    // A short buffer gets what fits, terminated.
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(spi.info(0, buf, 3), 2);
    EXPECT_STREQ(buf, "00");
    // Nothing but the interface is exported.
    EXPECT_EQ(dlsym(spi.handle, "_ZN3spi14AcceptableSizeEmm"), nullptr);
  }
}

TEST_F(PicturePluginTest, JpegKinds) {
  Plugin spi("ifjpeg");
  ASSERT_TRUE(spi.Loaded());
  QImage photo = Photo(157, 93);
  ExpectDecodes(spi, Make(photo, "baseline.jpg", {"-quality", "92"}), 2);
  ExpectDecodes(spi, Make(photo, "progressive.jpg", {"-interlace", "JPEG"}), 2);
  ExpectDecodes(spi, Make(photo, "subsampled.jpg", {"-sampling-factor", "2x2"}), 2);
  ExpectDecodes(spi, Make(photo, "grey.jpg", {"-colorspace", "Gray"}), 2);
  // CMYK, stored inverted with an Adobe marker as ImageMagick and Photoshop write it.
  ExpectDecodes(spi, Make(photo, "cmyk.jpg", {"-colorspace", "CMYK", "-quality", "95"}), 3);

  std::string grey = dir / "grey.jpg";
  char head[SUSIE_HEAD_SIZE] = {};
  std::string bytes = ReadWholeFile(grey);
  std::memcpy(head, bytes.data(), 64);
  EXPECT_NE(spi.supported(grey.c_str(), head), 0);
  SusiePictureInfo info;
  std::memset(&info, 0x55, sizeof info);
  ASSERT_EQ(spi.pictureInfo(grey.c_str(), 0, SUSIE_INPUT_FILE, &info), SUSIE_OK);
  EXPECT_EQ(info.width, 157);
  EXPECT_EQ(info.height, 93);
  EXPECT_EQ(info.colorDepth, 8);
  EXPECT_EQ(info.left, 0);
  EXPECT_TRUE(info.hInfo == nullptr);  // a packed member: no reference to it
}

TEST_F(PicturePluginTest, PngKinds) {
  Plugin spi("ifpng");
  ASSERT_TRUE(spi.Loaded());
  QImage photo = Photo(45, 31, true);
  ExpectDecodes(spi, Make(photo, "grey16.png", {"-alpha", "off", "-colorspace", "Gray", "-depth", "16"}), 1);
  ExpectDecodes(spi, Make(photo, "rgba16.png", {"-depth", "16"}), 1);
  ExpectDecodes(spi, Make(photo, "mono.png", {"-alpha", "off", "-monochrome"}), 0);
  ExpectDecodes(spi, Make(photo, "grey-alpha.png", {"-colorspace", "Gray", "-define", "png:color-type=4"}), 0);
  ExpectDecodes(spi, Make(photo, "interlaced.png", {"-interlace", "PNG"}), 0);
  ExpectDecodes(spi, Make(photo, "palette4.png", {"-alpha", "off", "-colors", "12", "PNG8:"}), 0);
  // A palette with one transparent entry (tRNS) comes back with alpha.
  QImage indexed = Photo(40, 20).convertToFormat(QImage::Format_Indexed8);
  QList<QRgb> table = indexed.colorTable();
  table[0] = qRgba(0, 0, 0, 0);
  indexed.setColorTable(table);
  std::string trns = dir / "trns.png";
  ASSERT_TRUE(indexed.save(QString::fromStdString(trns)));
  QImage decoded;
  ASSERT_EQ(Decode(spi, trns, false, &decoded), SUSIE_OK);
  EXPECT_EQ(MaxDifference(decoded, QImage(QString::fromStdString(trns))), 0);
  // The density is read, while the other ancillary chunks are skipped unread.
  QImage dense = Photo(20, 10);
  dense.setDotsPerMeterX(3938);  // 100 dpi
  dense.setDotsPerMeterY(7875);  // 200 dpi
  dense.setText("Comment", QString(2000, 'x'));
  std::string densePath = dir / "dense.png";
  ASSERT_TRUE(dense.save(QString::fromStdString(densePath)));
  SusiePictureInfo info{};
  ASSERT_EQ(spi.pictureInfo(densePath.c_str(), 0, SUSIE_INPUT_FILE, &info), SUSIE_OK);
  EXPECT_EQ(info.x_density, 100);
  EXPECT_EQ(info.y_density, 200);
  EXPECT_EQ(Decode(spi, densePath, false, &decoded), SUSIE_OK);
  EXPECT_EQ(MaxDifference(decoded, dense), 0);
}

TEST_F(PicturePluginTest, GifAndWebp) {
  Plugin gif("ifgif"), webp("ifwebp");
  ASSERT_TRUE(gif.Loaded());
  ASSERT_TRUE(webp.Loaded());
  QImage photo = Photo(53, 29);
  ExpectDecodes(gif, Make(photo, "still.gif"), 0);
  ExpectDecodes(gif, Make(photo, "interlaced.gif", {"-interlace", "GIF"}), 0);
  // Transparency: compared by colour where opaque, by alpha everywhere.
  std::string transparent = Make(photo, "transparent.gif", {"-colors", "64", "-transparent", "black"});
  QImage ours, qt(QString::fromStdString(transparent));
  ASSERT_EQ(Decode(gif, transparent, true, &ours), SUSIE_OK);
  qt = qt.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < qt.height(); ++y)
    for (int x = 0; x < qt.width(); ++x) {
      ASSERT_EQ(qAlpha(ours.pixel(x, y)), qAlpha(qt.pixel(x, y)));
      if (qAlpha(qt.pixel(x, y))) {
        ASSERT_EQ(ours.pixel(x, y), qt.pixel(x, y));
      }
    }

  // WebP against ImageMagick's decoding (Qt reads no WebP here); both use libwebp.
  QImage alpha = Photo(33, 21, true);
  for (auto [name, source, options] : std::vector<std::tuple<std::string, QImage, QStringList>>{
           {"lossless.webp", photo, {"-define", "webp:lossless=true"}},
           {"alpha.webp", alpha, {"-define", "webp:lossless=true"}},
           {"lossy.webp", photo, {"-quality", "90"}},
           {"lossy-alpha.webp", alpha, {"-quality", "70"}}}) {
    std::string path = Make(source, name, options);
    std::string back = dir / (name + ".back.png");
    ASSERT_TRUE(Convert(path, {}, back));
    ExpectDecodes(webp, path, 1, QImage(QString::fromStdString(back)));
  }
  // Lossless really is: where the picture is opaque it is the original.
  QImage lossless;
  ASSERT_EQ(Decode(webp, dir / "lossless.webp", false, &lossless), SUSIE_OK);
  EXPECT_EQ(MaxDifference(lossless, photo), 0);
}

TEST_F(PicturePluginTest, RowsAreBottomUpAndPadded) {
  // 5 pixels of 3 bytes: rows of 15 bytes padded to 16.
  QImage image(5, 3, QImage::Format_RGB32);
  image.fill(qRgb(1, 2, 3));
  image.setPixel(0, 2, qRgb(200, 100, 50));  // bottom left
  std::string path = dir / "small.png";
  ASSERT_TRUE(image.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(path)));
  Plugin spi("ifpng");
  void *hbInfo = nullptr, *hbm = nullptr;
  ASSERT_EQ(spi.picture(path.c_str(), 0, SUSIE_INPUT_FILE, &hbInfo, &hbm, nullptr, 0), SUSIE_OK);
  const auto* h = static_cast<const BITMAPINFOHEADER*>(hbInfo);
  EXPECT_EQ(h->biBitCount, 24);
  EXPECT_EQ(h->biSizeImage, 48u);
  const auto* bits = static_cast<const uint8_t*>(hbm);
  EXPECT_EQ(bits[0], 50);  // blue first
  EXPECT_EQ(bits[1], 100);
  EXPECT_EQ(bits[2], 200);
  EXPECT_EQ(bits[3], 3);
  EXPECT_EQ(bits[15], 0);  // padding
  std::free(hbInfo);
  std::free(hbm);
}

namespace {
struct Reports {
  std::vector<std::pair<int, int>> calls;
  int abortAt = -1;
};
int32_t Record(int32_t num, int32_t den, intptr_t data) {
  auto* r = reinterpret_cast<Reports*>(data);
  r->calls.emplace_back(num, den);
  return int(r->calls.size()) == r->abortAt;
}
}  // namespace

TEST_F(PicturePluginTest, ProgressRunsToTheEndAndAbortStops) {
  QImage photo = Photo(640, 480);
  std::vector<std::pair<std::string, std::string>> files = {
      {"ifjpeg", Make(photo, "p.jpg", {"-interlace", "JPEG"})},
      {"ifjpeg", Make(photo, "b.jpg")},
      {"ifpng", Make(photo, "p.png", {"-interlace", "PNG"})},
      {"ifgif", Make(photo, "p.gif")},
      {"ifwebp", Make(photo, "p.webp")},
  };
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(path);
    Plugin spi(name);
    Reports reports;
    ASSERT_EQ(Decode(spi, path, false, nullptr, Record, intptr_t(&reports)), SUSIE_OK);
    ASSERT_GE(reports.calls.size(), 3u);
    EXPECT_EQ(reports.calls.front().first, 0);
    EXPECT_EQ(reports.calls.back().first, reports.calls.back().second);
    for (size_t i = 1; i < reports.calls.size(); ++i) {
      auto [num, den] = reports.calls[i];
      EXPECT_GT(den, 0);
      EXPECT_LE(num, den);
      EXPECT_LE(double(reports.calls[i - 1].first) / reports.calls[i - 1].second, double(num) / den + 1e-9);
    }
    EXPECT_LE(reports.calls.size(), 250u);  // about a hundred, not one per row

    for (int at : {1, 2, int(reports.calls.size()) / 2, int(reports.calls.size())}) {
      Reports stop;
      stop.abortAt = at;
      EXPECT_EQ(Decode(spi, path, true, nullptr, Record, intptr_t(&stop)), SUSIE_ABORTED) << at;
      EXPECT_EQ(int(stop.calls.size()), at);
    }
  }
}

TEST_F(PicturePluginTest, HostileFilesAreRefusedCleanly) {
  QImage photo = Photo(96, 64);
  std::string jpeg = ReadWholeFile(Make(photo, "h.jpg"));
  std::string progressive = ReadWholeFile(Make(photo, "hp.jpg", {"-interlace", "JPEG"}));
  std::string png = ReadWholeFile(Make(photo, "h.png"));
  std::string gif = ReadWholeFile(Make(photo, "h.gif"));
  std::string webp = ReadWholeFile(Make(photo, "h.webp"));
  std::vector<std::pair<std::string, std::string>> originals = {
      {"ifjpeg", jpeg}, {"ifjpeg", progressive}, {"ifpng", png}, {"ifgif", gif}, {"ifwebp", webp}};

  std::vector<std::pair<std::string, std::string>> hostile;
  for (const auto& [name, bytes] : originals) {
    hostile.push_back({name, ""});
    hostile.push_back({name, bytes.substr(0, 12)});
    hostile.push_back({name, bytes.substr(0, bytes.size() * 2 / 3)});
    hostile.push_back({name, std::string(4096, '\xff')});
  }
  // Dimensions far beyond 2^28 pixels, with the checksums a careful forger fixes.
  std::string wide = png;
  PutBig32(wide, 16, 70000);
  PutBig32(wide, 20, 70000);
  PutBig32(wide, 29, Crc32(reinterpret_cast<const uint8_t*>(wide.data()) + 12, 17));
  hostile.push_back({"ifpng", wide});
  std::string huge = jpeg;
  size_t sof = huge.find("\xff\xc0");
  ASSERT_NE(sof, std::string::npos);
  huge[sof + 5] = huge[sof + 6] = huge[sof + 7] = huge[sof + 8] = '\xfe';  // 65278 x 65278
  hostile.push_back({"ifjpeg", huge});
  std::string screen = gif;
  screen[6] = screen[7] = screen[8] = screen[9] = '\xff';  // a 65535 x 65535 screen
  hostile.push_back({"ifgif", screen});
  // A palette chunk of 300 entries.
  std::string palette = ReadWholeFile(Make(photo, "pal.png", {"-colors", "16", "PNG8:"}));
  size_t plte = palette.find("PLTE");
  ASSERT_NE(plte, std::string::npos);
  PutBig32(palette, plte - 4, 900);
  hostile.push_back({"ifpng", palette.substr(0, plte + 4) + std::string(904, '\x10') + palette.substr(plte + 4)});

  int index = 0;
  for (const auto& [name, bytes] : hostile) {
    SCOPED_TRACE(name + " #" + std::to_string(index));
    std::string path = dir.file("hostile" + std::to_string(index++), bytes);
    Plugin spi(name);
    EXPECT_NE(Decode(spi, path, false), SUSIE_OK);
    EXPECT_NE(Decode(spi, path, true), SUSIE_OK);
    SusiePictureInfo info;
    if (bytes.size() <= 12) {
      EXPECT_NE(spi.pictureInfo(path.c_str(), 0, SUSIE_INPUT_FILE, &info), SUSIE_OK);
    }
  }
  // Neither a missing file nor an offset past the end is a picture.
  Plugin spi("ifpng");
  EXPECT_EQ(Decode(spi, dir / "missing.png", false), SUSIE_FILE_READ_ERROR);
  std::string ok = dir.file("ok.png", png);
  EXPECT_NE(Decode(spi, ok, false, nullptr, nullptr, 0, intptr_t(png.size()) + 10), SUSIE_OK);
}
