// Decoding through plug-ins: the engine, TSPIGraphic and TSPIBitmap.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QFile>
#include <QPainter>

#include "SpiTestSupport.h"
#include "image/SPIBitmap.h"
#include "image/SPIs.h"
#include "platform/graphics/PictureFormats.h"

namespace {

struct Event {
  TGraphic* sender;
  TProgressStage stage;
  int percent;
  bool redraw;
  QRect rect;
  std::string msg;
};

TProgressEvent Recorder(std::vector<Event>& events) {
  return [&events](TGraphic* sender, TProgressStage stage, uint8_t percent, bool redraw, const QRect& r,
                   const std::string& msg) {
    events.push_back({sender, stage, percent, redraw, r, msg});
  };
}

// 4x3, every pixel different.
std::vector<uint32_t> Pixels4x3() {
  std::vector<uint32_t> p;
  for (int i = 0; i < 12; ++i) p.push_back(uint32_t(0x102030 * (i + 1)) & 0xffffff);
  return p;
}

QRgb At(const TBitmap& b, int x, int y) { return b.Image().pixel(x, y) | 0xff000000; }

void ExpectPixels4x3(const TBitmap& b) {
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.Height(), 3);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  std::vector<uint32_t> p = Pixels4x3();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(b, x, y), p[size_t(y * 4 + x)] | 0xff000000) << x << "," << y;
}

class SPIGraphicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_unique<TSPIs>();
    host->MacBinary = false;
  }
  TInSPI* Add(const std::string& variant, const std::string& name, const std::string& config = "") {
    host->Add(CreateSPI(CopySpi(dir.path(), variant, name, config)));
    return dynamic_cast<TInSPI*>(host->Items(host->Count() - 1));
  }
  TempDir dir;
  std::unique_ptr<TSPIs> host;
};

}  // namespace

TEST_F(SPIGraphicTest, BitmapLoadsAFileAndAStreamThroughThePlugin) {
  TInSPI* spi = Add("tstin", "tstin.spi");
  std::string path = dir.file("a.tst", MakeTstp(4, 3, 24, Pixels4x3()));
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(path);
  ExpectPixels4x3(bitmap);
  EXPECT_EQ(SpiLog(spi), "IsSupported;Info(f0);Picture(f0);");

  ClearSpiLog(spi);
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  file.seek(7);  // the position plays no part: the plug-in sees the whole content
  TSPIBitmap fromStream;
  fromStream.LoadFromStreamWithName(file, "a.tst");
  ExpectPixels4x3(fromStream);
  EXPECT_EQ(SpiLog(spi), "IsSupported;Info(m" + std::to_string(ReadWholeFile(path).size()) + ");Picture(m" +
                             std::to_string(ReadWholeFile(path).size()) + ");");

  // The picture registry sends the extension to TSPIBitmap.
  host->Add(CreateSPI(CopySpi(dir.path(), "tstin", "reg.spi", "filter=*.TSQ\n")));
  std::string other = dir.file("b.TsQ", MakeTstp(4, 3, 24, Pixels4x3()));
  TPicture picture;
  picture.LoadFromFile(other);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassType(), TSPIBitmap::StaticClass());
  ExpectPixels4x3(*static_cast<TSPIBitmap*>(picture.Graphic()));
}

TEST_F(SPIGraphicTest, MacBinaryPicturesAreFoundAtOffset128InFilesAndStreams) {
  TInSPI* spi = Add("tstmac128", "mac.spi");
  std::string data = WithMacBinary(MakeTstp(4, 3, 24, Pixels4x3()));
  std::string path = dir.file("m.tst", data);

  TSPIBitmap off;
  EXPECT_THROW(off.LoadFromFile(path), EInvalidGraphic);

  host->MacBinary = true;
  ClearSpiLog(spi);
  TSPIBitmap bitmap;
  bitmap.LoadFromFile(path);
  ExpectPixels4x3(bitmap);
  EXPECT_EQ(SpiLog(spi), "IsSupported;IsSupported;Info(f128);Picture(f128);");

  ClearSpiLog(spi);
  QBuffer buffer;
  buffer.setData(QByteArray::fromStdString(data));
  buffer.open(QIODevice::ReadOnly);
  TSPIBitmap fromMemory;
  fromMemory.LoadFromStreamWithName(buffer, "m.tst");
  ExpectPixels4x3(fromMemory);
  const std::string rest = std::to_string(data.size() - 128);
  EXPECT_EQ(SpiLog(spi), "IsSupported;IsSupported;Info(m" + rest + ");Picture(m" + rest + ");");

  // Shorter than a MacBinary header: offset 128 has nothing to offer.
  QBuffer tiny;
  tiny.setData(QByteArray("TSTP", 4));
  tiny.open(QIODevice::ReadOnly);
  TSPIGraphic graphic;
  EXPECT_THROW(graphic.LoadFromStream(tiny), EInvalidGraphic);
}

TEST_F(SPIGraphicTest, ProgressReachesTheBitmapInOrder) {
  Add("tstin", "tstin.spi");
  std::vector<uint32_t> pixels(4 * 50, 0x808080);
  std::string path = dir.file("p.tst", MakeTstp(4, 50, 24, pixels));
  TSPIBitmap bitmap;
  std::vector<Event> events;
  bitmap.OnProgress = Recorder(events);
  bitmap.LoadFromFile(path);

  ASSERT_GE(events.size(), 6u);
  for (const Event& e : events) EXPECT_EQ(e.sender, &bitmap);
  EXPECT_EQ(events[0].stage, psStarting);
  EXPECT_EQ(events[0].percent, 0);
  EXPECT_EQ(events[0].msg, "Loading Graphic by Susie Plugin");
  EXPECT_EQ(events[1].stage, psRunning);
  EXPECT_EQ(events[1].percent, 1);
  EXPECT_EQ(events[1].msg, "Seeking enabled Susie Plugins");
  EXPECT_EQ(events[2].msg, "Loading by [tstin.spi]");
  EXPECT_EQ(events[2].percent, 1);
  // The plug-in's rows map onto 2..99 %, rounded.
  std::vector<int> percents;
  for (size_t i = 3; i + 1 < events.size(); ++i) {
    EXPECT_EQ(events[i].stage, psRunning);
    EXPECT_EQ(events[i].msg, "");
    percents.push_back(events[i].percent);
  }
  ASSERT_EQ(percents.size(), 51u);
  EXPECT_EQ(percents.front(), 2);
  EXPECT_EQ(percents[1], 4);    // 1 * 97 / 50 = 1.94
  EXPECT_EQ(percents[25], 50);  // 25 * 97 / 50 = 48.5, to even
  EXPECT_EQ(percents.back(), 99);
  const Event& last = events.back();
  EXPECT_EQ(last.stage, psEnding);
  EXPECT_EQ(last.percent, 100);
  EXPECT_TRUE(last.redraw);
  EXPECT_EQ(last.rect, QRect(0, 0, 4, 50));
  EXPECT_EQ(last.msg, "Loaded Graphic");

  // Progress without a total or past it stays within 2..99 %.
  host->Clear();
  Add("tstin", "odd.spi", "lie=progress\n");
  events.clear();
  TSPIBitmap odd;
  odd.OnProgress = Recorder(events);
  odd.LoadFromFile(path);
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(events[3].percent, 2);
  EXPECT_EQ(events[4].percent, 99);
  EXPECT_EQ(events[5].percent, 2);

  // The graphic itself ends with its own ending.
  TSPIGraphic graphic;
  events.clear();
  graphic.OnProgress = Recorder(events);
  graphic.LoadFromFile(path);
  EXPECT_EQ(events.back().stage, psEnding);
  EXPECT_EQ(events.back().msg, "Loaded Graphic by Susie Plugin");
  EXPECT_FALSE(events[1].redraw);
}

TEST_F(SPIGraphicTest, AbortStopsThePluginAndTheLoadFails) {
  TInSPI* spi = Add("tstin", "tstin.spi");
  std::string path = dir.file("p.tst", MakeTstp(4, 3, 24, Pixels4x3()));
  TSPIBitmap bitmap;
  std::vector<Event> events;
  bitmap.OnProgress = [&](TGraphic* s, TProgressStage stage, uint8_t percent, bool redraw, const QRect& r,
                          const std::string& msg) {
    events.push_back({s, stage, percent, redraw, r, msg});
    if (stage == psRunning && percent >= 2) throw EAbort();
  };
  try {
    bitmap.LoadFromFile(path);
    FAIL() << "an aborted load succeeded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Susie Plugins could not decode");
  }
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(events.back().stage, psEnding);
  EXPECT_EQ(events.back().msg, "Loaded Graphic");
  // The plug-in was told at its first row.
  int running = 0;
  for (const Event& e : events) running += e.stage == psRunning && e.percent >= 2;
  EXPECT_EQ(running, 1);

  // Any other failure of a handler passes through the plug-in to the caller.
  TSPIGraphic graphic;
  graphic.OnProgress = [](TGraphic*, TProgressStage stage, uint8_t percent, bool, const QRect&, const std::string&) {
    if (stage == psRunning && percent >= 2) throw Exception("handler failed");
  };
  ClearSpiLog(spi);
  try {
    graphic.LoadFromFile(path);
    FAIL();
  } catch (const EInvalidGraphic&) {
    FAIL() << "the handler's failure was lost";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "handler failed");
  }
  EXPECT_TRUE(graphic.Empty());
}

TEST_F(SPIGraphicTest, BmpFilesGoToTheBitmapReaderFirst) {
  TInSPI* spi = Add("tstin", "tstin.spi", "filter=*.TST;*.BMP\n");
  QImage image(4, 3, QImage::Format_RGB32);
  std::vector<uint32_t> p = Pixels4x3();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) image.setPixel(x, y, p[size_t(y * 4 + x)] | 0xff000000);
  std::string bmpPath = dir / "real.bmp";
  ASSERT_TRUE(image.save(QString::fromStdString(bmpPath), "BMP"));

  TSPIBitmap bitmap;
  bitmap.LoadFromFile(bmpPath);
  ExpectPixels4x3(bitmap);
  EXPECT_EQ(SpiLog(spi), "");  // the plug-in was never asked

  // A ".BMP" the bitmap reader cannot read goes to the plug-ins.
  std::string fake = dir.file("fake.BMP", MakeTstp(4, 3, 24, Pixels4x3()));
  TSPIBitmap second;
  second.LoadFromFile(fake);
  ExpectPixels4x3(second);
  EXPECT_EQ(SpiLog(spi), "IsSupported;Info(f0);Picture(f0);");

  // Another extension: plug-ins first, then the bitmap reader.
  ClearSpiLog(spi);
  std::filesystem::copy_file(bmpPath, dir / "bmp-inside.tst");
  TSPIBitmap third;
  std::vector<Event> events;
  third.OnProgress = Recorder(events);
  third.LoadFromFile(dir / "bmp-inside.tst");
  ExpectPixels4x3(third);
  EXPECT_EQ(SpiLog(spi), "IsSupported;");
  EXPECT_EQ(events.front().msg, "Loading Graphic by Susie Plugin");
  EXPECT_EQ(events.back().msg, "Loaded Graphic");

  // From a stream: the position is restored for the second reader.
  QBuffer buffer;
  buffer.setData(QByteArray("xx") + QByteArray::fromStdString(ReadWholeFile(bmpPath)));
  buffer.open(QIODevice::ReadOnly);
  buffer.seek(2);
  TSPIBitmap fromStream;
  fromStream.LoadFromStreamWithName(buffer, "x.tst");
  ExpectPixels4x3(fromStream);
}

TEST_F(SPIGraphicTest, HostileAndMissingInputFailsCleanly) {
  Add("tstin", "tstin.spi");
  Add("tstin", "lie-size.spi", "lie=size\n");
  Add("tstin", "lie-huge.spi", "lie=huge\n");
  std::string good = MakeTstp(64, 64, 24, std::vector<uint32_t>(64 * 64, 0x123456));
  std::vector<std::string> paths = {
      dir.file("empty.tst", ""),
      dir.file("truncated.tst", good.substr(0, good.size() / 2)),
      dir.file("header-only.tst", good.substr(0, 16)),
      dir / "missing.tst",
      dir.dir("folder.tst"),
  };
  std::string fifo = dir / "fifo.tst";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  paths.push_back(fifo);  // must not wait for a writer

  for (const std::string& path : paths) {
    TSPIBitmap bitmap;
    try {
      bitmap.LoadFromFile(path);
      ADD_FAILURE() << path << " loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message, "Susie Plugins could not decode") << path;
    }
  }

  // Liars only: a header bigger than the blocks behind it is no picture.
  host->Delete(0);
  std::string path = dir.file("good.tst", good);
  TSPIGraphic graphic;
  EXPECT_THROW(graphic.LoadFromFile(path), EInvalidGraphic);
  EXPECT_TRUE(graphic.Empty());
  EXPECT_EQ(graphic.Width(), 0);

  // No host at all.
  host.reset();
  TSPIBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromFile(path), EInvalidGraphic);
}

TEST_F(SPIGraphicTest, GraphicKeepsTheDibAndWritesItAsABmpFile) {
  Add("tstin", "tstin.spi");
  const std::vector<QRgb> palette = {qRgb(0, 0, 0),     qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(0, 0, 255),
                                     qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(255, 0, 255), qRgb(10, 20, 30),
                                     qRgb(1, 2, 3),     qRgb(4, 5, 6),     qRgb(7, 8, 9),     qRgb(11, 12, 13),
                                     qRgb(14, 15, 16),  qRgb(17, 18, 19),  qRgb(20, 21, 22),  qRgb(255, 255, 255)};
  std::vector<uint32_t> indexes;
  for (int i = 0; i < 15; ++i) indexes.push_back(uint32_t(i));
  std::string path = dir.file("four.tst", MakeTstp(5, 3, 4, indexes, palette));

  TSPIGraphic graphic;
  EXPECT_TRUE(graphic.Empty());
  int changes = 0;
  graphic.OnChange = [&](TGraphic*) { ++changes; };
  graphic.LoadFromFile(path);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(graphic.Width(), 5);
  EXPECT_EQ(graphic.Height(), 3);
  EXPECT_EQ(graphic.Colors(), 16);
  EXPECT_TRUE(graphic.Is4Bit());
  EXPECT_EQ(graphic.InfoSize(), 40u + 64u);
  EXPECT_EQ(graphic.ImageSize(), 4u * 3u);
  EXPECT_EQ(graphic.Palette(), palette);
  graphic.SetWidth(99);  // cannot be resized
  EXPECT_EQ(graphic.Width(), 5);

  QBuffer out;
  out.open(QIODevice::WriteOnly);
  graphic.SaveToStream(out);
  const QByteArray& bmp = out.data();
  ASSERT_EQ(bmp.size(), 14 + 104 + 12);
  EXPECT_EQ(bmp.left(2), QByteArray("BM"));
  EXPECT_EQ(uint8_t(bmp[2]), 130);
  EXPECT_EQ(uint8_t(bmp[10]), 118);
  EXPECT_EQ(std::memcmp(bmp.constData() + 14, graphic.Data()->InfoPtr(), 104), 0);
  EXPECT_EQ(std::memcmp(bmp.constData() + 118, graphic.Data()->BitsPtr(), 12), 0);

  // Drawn whole pixels, stretched.
  QImage canvas(10, 6, QImage::Format_RGB32);
  canvas.fill(Qt::gray);
  {
    QPainter painter(&canvas);
    graphic.Draw(painter, QRect(0, 0, 10, 6));
  }
  EXPECT_EQ(canvas.pixel(0, 0), palette[0]);
  EXPECT_EQ(canvas.pixel(3, 1), palette[1]);
  EXPECT_EQ(canvas.pixel(9, 5), palette[14]);

  // Into a bitmap: the 4-bit colours stay the plug-in's, and Assign keeps the DIB.
  TSPIBitmap bitmap;
  bitmap.Assign(&graphic);
  EXPECT_FALSE(graphic.Empty());
  EXPECT_EQ(bitmap.PixelFormat(), pf4bit);
  EXPECT_EQ(bitmap.Palette(), palette);
  EXPECT_EQ(bitmap.Image().pixelIndex(4, 2), 14);

  TSPIBitmap loaded;
  loaded.LoadFromFile(path);
  EXPECT_EQ(loaded.PixelFormat(), pf4bit);
  EXPECT_EQ(loaded.Palette(), palette);
  EXPECT_EQ(loaded.Image().pixelIndex(2, 1), 7);
  EXPECT_EQ(At(loaded, 2, 1), palette[7]);
}

TEST_F(SPIGraphicTest, PreviewIsTriedFirstWhenAsked) {
  TInSPI* withPreview = Add("tstin", "tstin.spi");
  std::string path = dir.file("p.tst", MakeTstp(4, 3, 24, Pixels4x3()));
  host->GraphicPreview = true;
  TSPIGraphic graphic;
  graphic.LoadFromFile(path);
  EXPECT_EQ(graphic.Height(), 1);  // the test plug-in's preview is the top row
  EXPECT_EQ(SpiLog(withPreview), "IsSupported;Info(f0);Preview(f0);");

  // Without GetPreview the full picture is decoded.
  TInSPI* without = Add("tstnopreview", "np.spi");
  host->GraphicForcedLoader = without;
  graphic.LoadFromFile(path);
  EXPECT_EQ(graphic.Height(), 3);
  EXPECT_EQ(SpiLog(without), "IsSupported;Info(f0);Picture(f0);");
}
