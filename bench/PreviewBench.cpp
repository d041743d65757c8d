// Preview benchmark, in a window offscreen:
//   preview_follow_ms   with a picture preview open, the time from the follow
//                       timer firing to the fitted 24-megapixel JPEG being shown
//                       (read through the JPEG plug-in, fitted with StretchBitmap);
//   preview_vs_qt       that time divided by QImageReader plus
//                       QImage::scaled(..., Qt::SmoothTransformation) to the same
//                       size, in the same run;
//   text_preview_8mb_ms V on an 8 MB Shift_JIS text file until it is shown;
//   preview_bomb_rss_mb the largest peak memory (VmHWM) of a process that decodes
//                       one hostile picture for the preview, over decompression
//                       bombs of every format and a real 16000 x 16000 PNG.
// Medians of seven runs, with their spread (min..max). PREVIEW_DETAIL=1 also
// prints where the time goes, stage by stage.
//   bench_PreviewBench [work folder]   (default: a temporary folder on a disk)
#include <QApplication>
#include <QImageReader>
#include <QProcess>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/MainForm.h"
#include "app/PreviewPicture.h"
#include "app/TextPreview.h"
#include "image/SPIs.h"
#include "image/StretchBitmap.h"
#include "tests/support/HostilePictures.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PictureFormats.h"
#include "shell/watch/WatcherThread.h"

using bench::Median;
using bench::Now;
using bench::WorkFolder;

namespace {

constexpr int kRuns = 7;

// A photograph-like picture: smooth gradients with fine noise, which JPEG
// cannot make small, so decoding does real work.
bool MakeJpeg(const std::string& path, int seed) {
  QImage image(6000, 4000, QImage::Format_RGB888);
  uint32_t x = 0x9E3779B9u * (seed + 1);
  for (int y = 0; y < image.height(); ++y) {
    uchar* row = image.scanLine(y);
    for (int i = 0; i < image.width(); ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      const int noise = static_cast<int>(x & 31) - 16;
      row[3 * i] = static_cast<uchar>(std::clamp(i * 255 / 6000 + noise, 0, 255));
      row[3 * i + 1] = static_cast<uchar>(std::clamp(y * 255 / 4000 + noise, 0, 255));
      row[3 * i + 2] = static_cast<uchar>(std::clamp((i + y + seed * 500) % 256 + noise, 0, 255));
    }
  }
  return image.save(QString::fromStdString(path), "JPG", 90);
}

bool MakeShiftJisText(const std::string& path) {
  // "日本語のテキストです。" and a counter, CR LF: 8 MB of it.
  const std::string line = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x82\xc5\x82\xb7\x81\x42";
  std::ofstream out(path, std::ios::binary);
  size_t written = 0;
  for (int n = 0; written < (8u << 20); ++n) {
    std::string text = line + std::to_string(n) + "\r\n";
    out << text;
    written += text.size();
  }
  return static_cast<bool>(out);
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

int RowOf(TShellListView* list, const std::string& name) {
  for (int i = 0; i < list->FileList()->Count(); ++i)
    if (TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()) == name) return i;
  return -1;
}

bool Select(TShellListView* list, const std::string& name) {
  const int row = RowOf(list, name);
  if (row < 0) return false;
  list->SelectAllRows(false);
  list->SetRowSelected(row, true);
  list->SetFocusedRow(row);
  return true;
}

// bench_PreviewBench --bomb file: decodes one picture as the preview does, in a
// process of its own, and prints its peak memory.
int DecodeOneBomb(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TSPIs host;
  host.MacBinary = false;
  host.Search(QCoreApplication::applicationDirPath().toStdString() + "/spi/*.spi");
  TPreviewPicture shown = DecodePreviewPicture(argv[2], QSize(1240, 760), kDefaultPictureMemoryLimit);
  std::printf("peak_mb=%ld shown=%d\n", hostile::PeakResidentMb(), shown.Image.isNull() ? 0 : 1);
  return 0;
}

// The peak memory of a decode of each file in a process of its own; the largest.
double BombPeakMb(const std::vector<std::string>& bombs) {
  double largest = 0;
  for (const std::string& bomb : bombs) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--bomb", QString::fromStdString(bomb)});
    child.waitForFinished(120000);
    const QByteArray out = child.readAllStandardOutput();
    const int at = out.indexOf("peak_mb=");
    if (at < 0) return -1;
    const double mb = out.mid(at + 8).split(' ').first().toDouble();
    if (getenv("PREVIEW_DETAIL")) std::printf("detail bomb %s %s", bomb.c_str(), out.constData());
    largest = std::max(largest, mb);
  }
  return largest;
}

void PrintFigure(const char* key, const std::vector<double>& ms) {
  auto [lo, hi] = std::minmax_element(ms.begin(), ms.end());
  std::printf("%s=%.1f\n%s_spread=%.1f..%.1f\n", key, Median(ms), key, *lo, *hi);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc > 2 && std::string(argv[1]) == "--bomb") return DecodeOneBomb(argc, argv);
  const std::string root = WorkFolder(argc, argv, "tolvane-preview");
  if (root.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  for (const char* folder : {"state/log", "home", "config", "data", "files"})
    std::filesystem::create_directories(root + "/" + folder);
  setenv("TOLVANE_HOME", (root + "/state").c_str(), 1);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);

  const std::string files = root + "/files";
  int status = 0;
  {
    QApplication app(argc, argv);
    if (!MakeJpeg(files + "/photo_0.jpg", 0) || !MakeJpeg(files + "/photo_1.jpg", 1) ||
        !MakeShiftJisText(files + "/big.txt")) {
      std::fprintf(stderr, "cannot write the files\n");
      std::filesystem::remove_all(root);
      return 1;
    }
    std::ofstream(root + "/state/tolvane.ini") << "[Ext]\nImageExt=.bmp.jpg\nTextExt=.txt\n";
    WriteLines(root + "/state/log/Path1SL.text", {files});
    WriteLines(root + "/state/log/Path2SL.text", {root + "/home"});
    WriteLines(root + "/state/log/ImagePath.text", {"defo"});
    WriteLines(root + "/state/log/TextPath.text", {"defo"});

    auto form = std::make_unique<TForm1>();
    form->resize(1280, 800);
    form->show();
    bool ready = QTest::qWaitForWindowExposed(form.get());
    form->activateWindow();
    ready = ready && QTest::qWaitForWindowActive(form.get());
    form->LV1->setFocus();
    QApplication::processEvents();
    ready = ready && form->CurrentList() == form->LV1 && Select(form->LV1, "photo_0.jpg");
    if (ready) form->VExecute();
    while (form->PreviewPictureBusy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!ready || !form->Image1->isVisible()) {
      std::fprintf(stderr, "the picture preview did not open\n");
      status = 1;
    }

    std::vector<double> ours, qt, text;
    for (int run = 0; run < 2 * kRuns && status == 0; ++run) {
      // Two files in turn: each firing reads a file anew. The first two runs warm up.
      const std::string name = "photo_" + std::to_string(run % 2) + ".jpg";
      Select(form->LV1, name);
      form->ChangeFileTimer->stop();
      QApplication::processEvents();
      double start = Now();
      form->ChangeFileTimerTimer();
      // Decoded on the worker; shown when its answer comes through the event loop.
      while (form->PreviewPictureBusy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
      form->Image1->repaint();
      double took = Now() - start;
      const QSize shown = form->Image1->pixmap().size();
      if (form->ImagePath[form->ImageTabIndex] != files + "/" + name || shown.width() >= 6000) {
        std::fprintf(stderr, "the preview did not follow\n");
        status = 1;
        break;
      }
      start = Now();
      QImageReader reader(QString::fromStdString(files + "/" + name));
      QImage image = reader.read();
      QImage scaled = image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      double reference = Now() - start;
      if (scaled.size() != shown) status = 1;
      if (getenv("PREVIEW_DETAIL")) {
        double t0 = Now();
        TPicture picture;
        picture.LoadFromFile(files + "/" + name);
        double t1 = Now();
        auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
        bitmap->SetPixelFormat(pf24bit);
        double t2 = Now();
        StretchBitmap(bitmap, shown.width(), shown.height());
        double t3 = Now();
        QPixmap pixmap = QPixmap::fromImage(bitmap->Image());
        double t4 = Now();
        std::printf("detail plugin_load_ms=%.0f to24_ms=%.0f stretch_ms=%.0f pixmap_ms=%.0f\n", (t1 - t0) * 1000,
                    (t2 - t1) * 1000, (t3 - t2) * 1000, (t4 - t3) * 1000);
      }
      if (run >= 2 && ours.size() < kRuns) {
        ours.push_back(took * 1000);
        qt.push_back(reference * 1000);
      }
    }

    for (int run = 0; run < kRuns && status == 0; ++run) {
      if (getenv("PREVIEW_DETAIL")) {
        double t0 = Now();
        TTextPreview preview = LoadTextPreview(files + "/big.txt");
        double t1 = Now();
        QPlainTextEdit edit;
        edit.setPlainText(preview.Text);
        double t2 = Now();
        std::printf("detail text_read_decode_ms=%.0f text_set_ms=%.0f\n", (t1 - t0) * 1000, (t2 - t1) * 1000);
      }
      Select(form->LV1, "big.txt");
      double start = Now();
      form->VExecute();
      form->Memo1->repaint();
      text.push_back((Now() - start) * 1000);
      if (!form->Memo1->isVisible() || form->Memo1->blockCount() < 200000) {
        std::fprintf(stderr, "the text preview did not open\n");
        status = 1;
      }
    }

    std::vector<std::string> bombs;
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"progressive.jpg", hostile::JpegClaiming(16000, 16000, true, 40)},
             {"baseline.jpg", hostile::JpegClaiming(16384, 16384, false, 60) + "\xFF\xD9"},
             {"lossless.webp", hostile::WebpClaiming(16383, 16383)},
             {"screen.gif", hostile::Gif(16000, 16000, 0, 0, 16000, 16000, false)},
             {"frame.gif", hostile::Gif(4, 4, 16000, 16000, 4, 4, true)}}) {
      bombs.push_back(files + "/bomb-" + name);
      if (!hostile::Write(bombs.back(), bytes)) status = 1;
    }
    bombs.push_back(files + "/bomb-huge.png");
    if (!hostile::WriteHugePng(bombs.back(), 16000, 16000, qRgba(30, 160, 90, 255))) status = 1;
    const std::vector<std::string> plain = {files + "/photo_0.jpg"};
    const double bombPeak = status == 0 ? BombPeakMb(bombs) : -1;
    const double plainPeak = status == 0 ? BombPeakMb(plain) : -1;
    if (bombPeak < 0) status = 1;

    if (status == 0) {
      std::printf("preview_bomb_rss_mb=%.0f\npreview_plain_rss_mb=%.0f\n", bombPeak, plainPeak);
      PrintFigure("preview_follow_ms", ours);
      PrintFigure("preview_qt_reference_ms", qt);
      std::vector<double> ratios;
      for (size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / qt[i]);
      std::printf("preview_vs_qt=%.3f\n", Median(ours) / Median(qt));
      auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
      std::printf("preview_vs_qt_per_run_spread=%.3f..%.3f\n", *low, *high);
      PrintFigure("text_preview_8mb_ms", text);
    } else {
      std::printf("preview_follow_ms=failed\n");
    }
    form->close();
    form.reset();
    WaitForWatcherThreads();
  }
  std::filesystem::remove_all(root);
  return status;
}
