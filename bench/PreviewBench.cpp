// Preview benchmark, in a window offscreen:
//   preview_follow_ms   with a picture preview open, the time from the follow
//                       timer firing to the fitted 24-megapixel JPEG being shown
//                       (read through the JPEG plug-in, fitted with StretchBitmap);
//   preview_vs_qt       that time divided by QImageReader plus
//                       QImage::scaled(..., Qt::SmoothTransformation) to the same
//                       size, in the same run;
//   text_preview_8mb_ms V on an 8 MB Shift_JIS text file until it is indexed
//                       and its first screen painted;
//   text_preview_8mb_lf_ms     the same for 8 MB of line ends;
//   text_preview_100mb_line_ms the same for one line of 100 MB;
//   text_preview_rss_mb  the peak resident memory of a process that shows a
//                       1 GB log with V and goes to its end (End), with the
//                       times to its first screen and to its whole index.
//   preview_bomb_rss_mb the largest peak memory (VmHWM) of a process that decodes
//                       one hostile picture for the preview, over decompression
//                       bombs of every format and a real 16000 x 16000 PNG.
// Medians of seven runs (three for the 1 GB log), with their spread (min..max).
// PREVIEW_DETAIL=1 also prints where the picture's time goes, stage by stage.
//   bench_PreviewBench [work folder]   (default: a temporary folder on a disk)
#include <QApplication>
#include <QImageReader>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/ui/PlatformUi.h"
#include "app/PreviewPicture.h"
#include "app/TextView.h"
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

bool MakeFile(const std::string& path, size_t size, const std::function<std::string(size_t)>& piece) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk;
  for (size_t written = 0, n = 0; written < size; ++n) {
    chunk += piece(n);
    if (chunk.size() >= (1u << 20) || written + chunk.size() >= size) {
      chunk.resize(std::min(chunk.size(), size - written));
      out << chunk;
      written += chunk.size();
      chunk.clear();
    }
  }
  return static_cast<bool>(out);
}

std::string LogLine(size_t n) {
  char line[128];
  std::snprintf(line, sizeof line, "2026-12-09 03:%02zu:%02zu.%03zu INFO [worker-%zu] request %zu served in %zu ms\n",
                n / 60000 % 60, n / 1000 % 60, n % 1000, n % 16, n, n * 7 % 300);
  return line;
}

// Processes events until the text view has its file indexed and its screen painted.
bool WaitSettled(TTextView* view, double seconds) {
  const double end = Now() + seconds;
  while (Now() < end) {
    QApplication::processEvents();
    view->viewport()->repaint();
    if (view->Settled()) return true;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return false;
}

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
  return -1;
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

// Shows the window with the focus in the left list; false when it is not ready.
bool ShowWindow(TForm1* form) {
  form->resize(1280, 800);
  form->show();
  bool ready = QTest::qWaitForWindowExposed(form);
  form->activateWindow();
  ready = ready && QTest::qWaitForWindowActive(form);
  form->LV1->setFocus();
  QApplication::processEvents();
  return ready && form->CurrentList() == form->LV1;
}

// The child process: V on the 1 GB log, then End; prints its peak memory and times.
int ShowHugeLog(int argc, char** argv) {
  int status = 1;
  {
    QApplication app(argc, argv);
    InstallPlatformUi();
    auto form = std::make_unique<TForm1>();
    if (ShowWindow(form.get()) && Select(form->LV1, "huge.log")) {
      const double start = Now();
      VExecute(*form);
      TTextView* view = form->Memo1;
      double first = 0;
      while (Now() - start < 60 && first == 0) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        view->viewport()->repaint();
        if (!view->ShownRows().isEmpty()) first = Now() - start;
      }
      const bool indexed = WaitSettled(view, 120);
      const double whole = Now() - start;
      QTest::keyClick(view, Qt::Key_End);
      const bool end = WaitSettled(view, 60);
      if (first > 0 && indexed && end && view->ShownRows().size() > 5 &&
          view->Top().row + view->ShownRows().size() == view->RowCount()) {
        std::printf("rss_kb=%ld first_ms=%.1f indexed_ms=%.1f\n", StatusKb("VmHWM:"), first * 1000, whole * 1000);
        status = 0;
      } else {
        std::fprintf(stderr, "first %.3f s, indexed %d, end %d, rows %lld, top %lld, shown %lld\n", first, indexed, end,
                     static_cast<long long>(view->RowCount()), static_cast<long long>(view->Top().row),
                     static_cast<long long>(view->ShownRows().size()));
      }
    } else {
      std::fprintf(stderr, "the window or the log's row is missing\n");
    }
    form->close();
    form.reset();
    WaitForWatcherThreads();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc > 2 && std::string(argv[1]) == "--bomb") return DecodeOneBomb(argc, argv);
  // The 1 GB log's own process is handed the work folder.
  const char* logRoot = getenv("PREVIEW_TEXT_RSS");
  const std::string root = logRoot ? logRoot : WorkFolder(argc, argv, "tolvane-preview");
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
  if (logRoot) return ShowHugeLog(argc, argv);
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);

  const std::string files = root + "/files";
  int status = 0;
  {
    QApplication app(argc, argv);
    InstallPlatformUi();
    if (!MakeJpeg(files + "/photo_0.jpg", 0) || !MakeJpeg(files + "/photo_1.jpg", 1) ||
        !MakeShiftJisText(files + "/big.txt") ||
        !MakeFile(files + "/lf.txt", 8u << 20, [](size_t) { return std::string(1u << 20, '\n'); }) ||
        !MakeFile(files + "/line.txt", 100u << 20, [](size_t n) { return LogLine(n).substr(0, 60); })) {
      std::fprintf(stderr, "cannot write the files\n");
      std::filesystem::remove_all(root);
      return 1;
    }
    std::ofstream(root + "/state/tolvane.ini") << "[Ext]\nImageExt=.bmp.jpg\nTextExt=.txt.log\n";
    WriteLines(root + "/state/log/Path1SL.text", {files});
    WriteLines(root + "/state/log/Path2SL.text", {root + "/home"});
    WriteLines(root + "/state/log/ImagePath.text", {"defo"});
    WriteLines(root + "/state/log/TextPath.text", {"defo"});

    auto form = std::make_unique<TForm1>();
    const bool ready = ShowWindow(form.get()) && Select(form->LV1, "photo_0.jpg");
    if (ready) VExecute(*form);
    while (form->PreviewPictureBusy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!ready || !form->Image1->isVisible()) {
      std::fprintf(stderr, "the picture preview did not open\n");
      status = 1;
    }

    std::vector<double> ours, qt;
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

    // Each text file in turn, so each V reads a file other than the one shown.
    std::vector<double> text, lf, line;
    const std::pair<const char*, std::vector<double>*> texts[] = {
        {"big.txt", &text}, {"lf.txt", &lf}, {"line.txt", &line}};
    for (int run = 0; run < kRuns + 1 && status == 0; ++run) {
      for (const auto& [name, times] : texts) {
        Select(form->LV1, name);
        double start = Now();
        VExecute(*form);
        const bool shown = WaitSettled(form->Memo1, 60);
        const double took = (Now() - start) * 1000;
        if (!shown || !form->Memo1->isVisible() || form->Memo1->RowCount() < 24000 ||
            form->Memo1->ShownRows().isEmpty()) {
          std::fprintf(stderr, "the text preview did not open %s\n", name);
          status = 1;
          break;
        }
        if (run > 0) times->push_back(took);  // the first run warms up
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

    // The 1 GB log in processes of its own, so the pictures' memory is not counted.
    std::vector<double> rss, first, indexed;
    const std::string log = files + "/huge.log";
    if (status == 0 && !MakeFile(log, size_t{1} << 30, LogLine)) status = 1;
    for (int run = 0; run < 3 && status == 0; ++run) {
      QProcess child;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("PREVIEW_TEXT_RSS", QString::fromStdString(root));
      child.setProcessEnvironment(env);
      child.start(QCoreApplication::applicationFilePath(), {});
      if (!child.waitForFinished(300000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        std::fprintf(stderr, "the 1 GB log did not show: %s %s\n", qPrintable(child.errorString()),
                     child.readAllStandardError().constData());
        status = 1;
        break;
      }
      double kb = 0, firstMs = 0, indexedMs = 0;
      if (std::sscanf(child.readAllStandardOutput().constData(), "rss_kb=%lf first_ms=%lf indexed_ms=%lf", &kb,
                      &firstMs, &indexedMs) != 3) {
        status = 1;
        break;
      }
      rss.push_back(kb / 1024);
      first.push_back(firstMs);
      indexed.push_back(indexedMs);
    }
    std::filesystem::remove(log);

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
      PrintFigure("text_preview_8mb_lf_ms", lf);
      PrintFigure("text_preview_100mb_line_ms", line);
      PrintFigure("text_preview_rss_mb", rss);
      PrintFigure("text_preview_1gb_first_screen_ms", first);
      PrintFigure("text_preview_1gb_indexed_ms", indexed);
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
