// Picture benchmark: smooth scaling and JPEG loading against Qt in the same run.
// Prints key=value lines: each *_vs_qt is our median time divided by Qt's, and
// *_spread the lowest and highest ratio of the paired runs.
//   bench_ImageBench [work folder] (pairs: IMAGE_BENCH_RUNS; default 15 for scaling, 7 for JPEG)
#include <dlfcn.h>
#include <time.h>

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "image/SPIBitmap.h"
#include "image/SPIs.h"
#include "image/StretchBitmap.h"
#include "image/SusiePluginApi.h"

using bench::Median;
using bench::Now;

namespace {

// Something like a photograph: soft gradients, shapes and a little noise, so that the
// JPEG holds a realistic amount of detail.
QImage Photo(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient sky(0, 0, w, h);
  sky.setColorAt(0, QColor(40, 90, 160));
  sky.setColorAt(0.5, QColor(230, 200, 150));
  sky.setColorAt(1, QColor(30, 70, 30));
  p.fillRect(image.rect(), sky);
  QRandomGenerator rng(42);
  for (int i = 0; i < 400; ++i) {
    p.setBrush(QColor::fromRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(rng.bounded(w), rng.bounded(h)), rng.bounded(w / 20 + 1), rng.bounded(h / 20 + 1));
  }
  p.end();
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x) {
      int n = int(rng.bounded(17)) - 8;
      QRgb c = row[x];
      row[x] =
          qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255), std::clamp(qBlue(c) + n, 0, 255));
    }
  }
  return image;
}

struct Pair {
  std::vector<double> ours, qt;        // wall-clock seconds
  std::vector<double> oursCpu, qtCpu;  // processor seconds of all threads
};

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Runs both sides in turn, runs times; the first round warms caches and is dropped.
Pair Measure(int runs, const std::function<void()>& ours, const std::function<void()>& qt) {
  Pair pair;
  for (int r = 0; r <= runs; ++r) {
    double c0 = CpuNow(), t0 = Now();
    ours();
    double c1 = CpuNow(), t1 = Now();
    qt();
    double c2 = CpuNow(), t2 = Now();
    if (r == 0) continue;
    pair.ours.push_back(t1 - t0);
    pair.qt.push_back(t2 - t1);
    pair.oursCpu.push_back(c1 - c0);
    pair.qtCpu.push_back(c2 - c1);
  }
  return pair;
}

void Print(const char* key, const Pair& pair) {
  std::vector<double> ratios;
  for (size_t i = 0; i < pair.ours.size(); ++i) ratios.push_back(pair.ours[i] / pair.qt[i]);
  std::sort(ratios.begin(), ratios.end());
  std::printf("%s_vs_qt=%.2f\n", key, Median(pair.ours) / Median(pair.qt));
  std::printf("%s_ms=%.1f\n%s_qt_ms=%.1f\n", key, Median(pair.ours) * 1000, key, Median(pair.qt) * 1000);
  std::printf("%s_spread=%.2f-%.2f\n", key, ratios.front(), ratios.back());
  // Processor time is steadier than wall time on a busy machine (Qt scales on all cores).
  std::printf("%s_cpu_vs_qt=%.2f\n", key, Median(pair.oursCpu) / Median(pair.qtCpu));
  std::fflush(stdout);
}

void Scale(const char* key, int runs, int w, int h, int nw, int nh) {
  QImage rgb32 = Photo(w, h);
  QImage bgr = rgb32.convertToFormat(QImage::Format_BGR888);
  Print(key, Measure(
                 runs,
                 [&] {
                   TBitmap bitmap;
                   bitmap.SetImage(bgr);
                   StretchBitmap(&bitmap, nw, nh);
                   if (bitmap.Width() != nw || bitmap.Height() != nh) std::abort();
                 },
                 [&] {
                   QImage out = rgb32.scaled(nw, nh, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                   if (out.width() != nw) std::abort();
                 }));
}

void Jpeg(int runs, const std::string& folder) {
  std::string file = folder + "/photo24mp.jpg";
  {
    QImageWriter writer(QString::fromStdString(file), "jpeg");
    writer.setQuality(90);
    if (!writer.write(Photo(6000, 4000))) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
      return;
    }
  }
  std::string spiFolder = QCoreApplication::applicationDirPath().toStdString() + "/spi";
  TSPIs host;
  host.MacBinary = false;
  host.Search(spiFolder + "/ifjpeg.spi");
  if (host.Count() != 1) {
    std::fprintf(stderr, "ifjpeg.spi not found in %s\n", spiFolder.c_str());
    return;
  }
  auto qt = [&] {
    QImageReader reader(QString::fromStdString(file));
    QImage image = reader.read();
    if (image.width() != 6000) std::abort();
  };
  Print("jpeg_plugin", Measure(
                           runs,
                           [&] {
                             TSPIBitmap bitmap;
                             bitmap.LoadFromFile(file);
                             if (bitmap.Width() != 6000) std::abort();
                           },
                           qt));
  // The plug-in alone, without the bitmap around it.
  void* module = dlopen((spiFolder + "/ifjpeg.spi").c_str(), RTLD_NOW | RTLD_LOCAL);
  auto getPicture = module ? reinterpret_cast<SusieGetPictureFunc>(dlsym(module, "GetPicture")) : nullptr;
  if (getPicture) {
    Print("jpeg_decode_only", Measure(
                                  runs,
                                  [&] {
                                    void *info = nullptr, *bits = nullptr;
                                    if (getPicture(file.c_str(), 0, SUSIE_INPUT_FILE, &info, &bits, nullptr, 0) != 0)
                                      std::abort();
                                    std::free(info);
                                    std::free(bits);
                                  },
                                  qt));
  }
  std::filesystem::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  int runs = std::max(1, std::atoi(std::getenv("IMAGE_BENCH_RUNS") ? std::getenv("IMAGE_BENCH_RUNS") : "7"));
  std::string folder = bench::WorkFolder(argc, argv, "tolvane-image-bench");
  if (folder.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  // Scaling takes tens of milliseconds, where a busy machine's hiccups weigh most: more pairs.
  const int scaleRuns = std::getenv("IMAGE_BENCH_RUNS") ? runs : 15;
  std::printf("runs=%d\nscale_runs=%d\n", runs, scaleRuns);
  Scale("shrink", scaleRuns, 6000, 4000, 1500, 1000);
  Scale("enlarge", scaleRuns, 1000, 750, 4000, 3000);
  Jpeg(runs, folder);
  std::filesystem::remove_all(folder);
  return 0;
}
