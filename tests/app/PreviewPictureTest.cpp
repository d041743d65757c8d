// Preview pictures through the bundled plug-ins: decoded off the window's thread,
// stopped when no longer wanted, fitted with their transparency, refused when they
// would take too much memory, never fitted to nothing.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "HostilePictures.h"
#include "app/PreviewPicture.h"
#include "image/SPIs.h"

namespace {

// The bundled plug-ins in a host of the test's own, for decodes without a window.
class PreviewPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_unique<TSPIs>();
    host->MacBinary = false;
    host->Search(std::string(BUNDLED_SPI_DIR) + "/*.spi");
    ASSERT_GE(host->Count(), 4);
  }
  std::string Save(const QImage& image, const std::string& name) {
    const std::string path = dir / name;
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << name;
    return path;
  }
  TPreviewPicture Decode(const std::string& path, QSize area = {300, 200}) {
    return DecodePreviewPicture(path, area, kDefaultPictureMemoryLimit);
  }

  TempDir dir;
  std::unique_ptr<TSPIs> host;
};

}  // namespace

TEST_F(PreviewPictureTest, TransparencyIsKeptWhenAPictureIsScaledDown) {
  // Opaque blue with bands of alpha 0 that hide red; scaled 10 times down.
  QImage banded(3000, 2000, QImage::Format_ARGB32);
  for (int y = 0; y < 2000; ++y)
    for (int x = 0; x < 3000; ++x) banded.setPixel(x, y, (x / 250) % 2 ? qRgba(255, 0, 0, 0) : qRgba(0, 0, 255, 255));
  const TPreviewPicture fitted = Decode(Save(banded, "banded.png"));
  ASSERT_EQ(fitted.Image.size(), QSize(300, 200)) << fitted.Error;
  const QImage image = fitted.Image.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(image.pixel(37, 100)), 0);  // inside a hidden band
  EXPECT_EQ(image.pixel(12, 100), qRgba(0, 0, 255, 255));
  // No red bleeds out of the bands, not even at their edges.
  for (int x = 0; x < 300; ++x) {
    const QRgb p = image.pixel(x, 100);
    if (qAlpha(p) > 0) {
      EXPECT_LT(qRed(p), 8) << x;
    }
  }
  // Unscaled it was right already, and stays so.
  const TPreviewPicture small = Decode(Save(banded.copy(0, 0, 300, 200), "small.png"));
  EXPECT_EQ(qAlpha(small.Image.pixel(260, 10)), 0);
}

TEST_F(PreviewPictureTest, AFullyTransparentPictureIsShownTransparent) {
  QImage clear(50, 40, QImage::Format_ARGB32);
  clear.fill(qRgba(255, 0, 0, 0));
  const std::string png = Save(clear, "clear.png");
  const std::string gif = dir / "clear.gif";
  QImage black(50, 40, QImage::Format_RGB32);
  black.fill(Qt::black);
  const std::string source = Save(black, "black.png");
  ASSERT_EQ(QProcess::execute("convert",
                              {QString::fromStdString(source), "-transparent", "black", QString::fromStdString(gif)}),
            0);
  for (const std::string& path : {png, gif}) {
    SCOPED_TRACE(path);
    for (QSize area : {QSize(300, 200), QSize(25, 20)}) {  // unscaled and scaled
      const TPreviewPicture shown = Decode(path, area);
      ASSERT_FALSE(shown.Image.isNull()) << shown.Error;
      ASSERT_TRUE(shown.Image.hasAlphaChannel());
      for (int y = 0; y < shown.Image.height(); ++y)
        for (int x = 0; x < shown.Image.width(); ++x) ASSERT_EQ(qAlpha(shown.Image.pixel(x, y)), 0);
    }
  }
}

TEST_F(PreviewPictureTest, ThinPicturesKeepAtLeastOnePixelASide) {
  EXPECT_EQ(FittedPictureSize({40000, 2}, {400, 300}), QSize(400, 1));
  EXPECT_EQ(FittedPictureSize({2, 40000}, {400, 300}), QSize(1, 300));
  for (QSize size : {QSize(40000, 2), QSize(2, 40000), QSize(2000, 3), QSize(1, 500)}) {
    SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
    QImage thin(size, QImage::Format_RGB32);
    thin.fill(qRgb(200, 30, 30));
    const TPreviewPicture shown =
        Decode(Save(thin, std::to_string(size.width()) + "x" + std::to_string(size.height()) + ".png"), {400, 300});
    ASSERT_FALSE(shown.Image.isNull()) << shown.Error;
    EXPECT_GE(shown.Image.width(), 1);
    EXPECT_GE(shown.Image.height(), 1);
    EXPECT_LE(shown.Image.width(), 400);
    EXPECT_LE(shown.Image.height(), 300);
    EXPECT_EQ(shown.Image.pixel(0, 0), qRgb(200, 30, 30));
  }
}

TEST_F(PreviewPictureTest, BombsAreRefusedAndTheRefusalNamesTheSize) {
  const std::vector<std::pair<std::string, std::string>> bombs = {
      {"p.jpg", hostile::JpegClaiming(16000, 16000, true, 40)},
      {"b.jpg", hostile::JpegClaiming(16384, 16384, false, 60) + "\xFF\xD9"},
      {"l.webp", hostile::WebpClaiming(16383, 16383)},
      {"s.gif", hostile::Gif(16000, 16000, 0, 0, 16000, 16000, false)},
  };
  const long before = hostile::PeakResidentMb();
  for (const auto& [name, bytes] : bombs) {
    SCOPED_TRACE(name);
    QElapsedTimer clock;
    clock.start();
    const TPreviewPicture shown = Decode(dir.file(name, bytes));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(shown.Image.isNull());
    EXPECT_FALSE(shown.Message.empty() && shown.Error.empty());
  }
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory counts as resident
  EXPECT_LT(hostile::PeakResidentMb() - before, 150);
#endif
  // The whole lossless picture would be kept as it decodes: refused, with its size.
  const TPreviewPicture webp = Decode(dir / "l.webp");
  EXPECT_NE(webp.Message.find("16383 × 16383"), std::string::npos) << webp.Message;
  // A limit of our own: a real 600 x 400 lossless WebP needs about 1 MB kept.
  const std::string png = Save(QImage(600, 400, QImage::Format_RGB32), "plain.png");
  const std::string lossless = dir / "plain.webp";
  ASSERT_EQ(QProcess::execute("convert", {QString::fromStdString(png), "-define", "webp:lossless=true",
                                          QString::fromStdString(lossless)}),
            0);
  EXPECT_FALSE(DecodePreviewPicture(lossless, {300, 200}, uint64_t(4) << 20).Image.isNull());
  const TPreviewPicture refused = DecodePreviewPicture(lossless, {300, 200}, uint64_t(1) << 20);
  EXPECT_TRUE(refused.Image.isNull());
  EXPECT_NE(refused.Message.find("600 × 400"), std::string::npos) << refused.Message;
}

TEST_F(PreviewPictureTest, AnUnreadablePictureSaysAccessIsDenied) {
  QImage image(20, 20, QImage::Format_RGB32);
  image.fill(Qt::green);
  const std::string path = Save(image, "secret.png");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  // Root reads anything: the check runs as nobody for this thread's file access.
  const bool root = ::geteuid() == 0;
  if (root) ::setfsuid(65534);
  const TPreviewPicture shown = Decode(path);
  if (root) ::setfsuid(0);
  EXPECT_TRUE(shown.Image.isNull());
  EXPECT_NE(shown.Error.find("アクセスが拒否されました"), std::string::npos) << shown.Error;
  EXPECT_NE(shown.Error.find("secret.png"), std::string::npos);
}

// The window with a real huge picture: it keeps running while the picture decodes,
// and a decode is stopped once the selection moves on.
TEST(PreviewWindowTest, TheWindowKeepsRunningWhileAHugePictureDecodesAndMovingOnStopsIt) {
  TempDir files;
  ASSERT_TRUE(hostile::WriteHugePng(files.dir("left") + "/a-huge.png", 16000, 16000, qRgba(30, 160, 90, 255)));
  QImage small(40, 30, QImage::Format_RGB32);
  small.fill(qRgb(200, 10, 10));
  ASSERT_TRUE(small.save(QString::fromStdString(files / "left/b-small.png")));
  FormFixture f;
  // The left pane as narrow as the Down key below expects (one icon a row).
  f.WriteState("tolvane.ini", "[Window]\nListViewWide=200\n[Ext]\nImageExt=.png\nTextExt=.txt\n");
  TForm1* form = f.OpenOn(files / "left", files.dir("right"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->FileList()->Count() == 2; }, 5000));
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "a-huge.png");

  // A timer of 20 ms, whose longest gap shows any wait of the window's thread.
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  clock.start();
  ticker.start(20);
  VExecute(*form);
  EXPECT_TRUE(form->PreviewPictureBusy());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->PreviewPictureBusy(); }, 60000));
  const qint64 decodeMs = clock.elapsed();
  EXPECT_EQ(f.messages, std::vector<std::string>{});
  ASSERT_TRUE(form->Image1->isVisible());
  const QSize shown = form->Image1->pixmap().size();
  EXPECT_TRUE(shown.width() == form->TC2Pane->width() || shown.height() == form->TC2Pane->height());
  EXPECT_EQ(form->Image1->pixmap().toImage().pixel(shown.width() / 2, shown.height() / 2), qRgb(30, 160, 90));
  EXPECT_LT(longest, 250) << "the window waited; the decode took " << decodeMs << " ms";

  // Again, and the selection moves on while it decodes: that decode stops at once.
  const int stoppedBefore = form->PictureLoader->StoppedCount();
  VExecute(*form);
  ASSERT_TRUE(form->PreviewPictureBusy());
  QTest::qWait(100);
  ASSERT_EQ(form->CurrentList(), form->LV1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  ASSERT_EQ(form->LV1->FocusedRow(), FormFixture::RowOf(form->LV1, "b-small.png"));
  EXPECT_FALSE(form->PreviewPictureBusy());
  QElapsedTimer stopping;
  stopping.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->PictureLoader->StoppedCount() > stoppedBefore; }, 5000));
  EXPECT_LT(stopping.elapsed(), std::max<qint64>(decodeMs / 2, 500));
  // The pane kept the picture it had; the small one follows once the selection settles.
  EXPECT_EQ(form->Image1->pixmap().size(), shown);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Image1->pixmap().size() == QSize(40, 30); }, 5000));
  EXPECT_EQ(form->ImagePath[form->ImageTabIndex], files / "left/b-small.png");
}
