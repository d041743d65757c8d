// Smooth resampling: hand-computed values of the fixed-point arithmetic, and the fast
// routines against a plain, literal implementation of the same formulas.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <vector>

#include "image/StretchBitmap.h"
#include "platform/graphics/Bitmap.h"

namespace {

// A one-row (or one-column) 24-bit bitmap whose three channels hold v, 255 - v and
// v / 2, so that a mix-up of channels shows.
std::unique_ptr<TBitmap> Line(const std::vector<int>& values, bool vertical = false) {
  int n = int(values.size());
  QImage image(vertical ? 1 : n, vertical ? n : 1, QImage::Format_BGR888);
  for (int i = 0; i < n; ++i) {
    uint8_t* p = vertical ? image.scanLine(i) : image.scanLine(0) + i * 3;
    p[0] = uint8_t(values[size_t(i)]);
    p[1] = uint8_t(255 - values[size_t(i)]);
    p[2] = uint8_t(values[size_t(i)] / 2);
  }
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetImage(image);
  return bitmap;
}

// Channel c of pixel i along the line.
int At(const std::unique_ptr<TBitmap>& bitmap, int i, int c = 0) {
  if (bitmap->Height() > 1) return bitmap->ScanLine(i)[c];
  return bitmap->ScanLine(0)[i * 3 + c];
}

std::unique_ptr<TBitmap> Random(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  QImage image(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) image.scanLine(y)[x] = uint8_t(rng() % 256);
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetImage(image);
  return bitmap;
}

// The formulas written out plainly, one value at a time, with 64-bit sums.
std::vector<int> ReferenceLine(const std::vector<int>& s, int t) {
  int S = int(s.size());
  std::vector<int> out(static_cast<size_t>(t));
  if (t > S) {
    for (int i = 0; i < t; ++i) {
      long double pos = (long double)(int64_t(i) * (S - 1)) / (t - 1);
      int d = int(pos);
      long double f = pos - d, a = 1 + f;
      if (d == S - 1) {
        out[size_t(i)] = s[size_t(d)];
      } else if (d == 0 || d == S - 2) {
        out[size_t(i)] = int(s[size_t(d)] * (1 - f) + s[size_t(d) + 1] * f + 0.5L);
      } else {
        int w0 = int(65536.0L * (a - 1) * (a - 2) * (a - 3) / -6 + 0.5L);
        int w1 = int(65536.0L * a * (a - 2) * (a - 3) / 2 + 0.5L);
        int w2 = int(65536.0L * a * (a - 1) * (a - 3) / -2 + 0.5L);
        int w3 = int(65536.0L * a * (a - 1) * (a - 2) / 6 + 0.5L);
        int v = s[size_t(d) - 1] * w0 + s[size_t(d)] * w1 + s[size_t(d) + 1] * w2 + s[size_t(d) + 2] * w3 + 0x8000;
        out[size_t(i)] = std::clamp(v, 0, 255 * 65536) >> 16;
      }
    }
    return out;
  }
  int64_t L = int64_t((long double)(int64_t(S) * 65536) / t + 0.5L), h2 = (L + 1) / 2;
  int d = 0;
  int64_t W = 65536;
  for (int i = 0; i < t; ++i) {
    long double x = (long double)(int64_t(i + 1) * S) / t;
    int B = int(x);
    int64_t F = int64_t((x - B) * 65536);
    int64_t sum = W * s[size_t(d)];
    for (int j = d + 1; j < B; ++j) sum += 65536 * int64_t(s[size_t(j)]);
    if (F > 0) sum += F * s[size_t(B)];
    out[size_t(i)] = int((sum + h2) / L);
    W = 65536 - F;
    d = B;
  }
  return out;
}

}  // namespace

TEST(StretchBitmap, FourToTwoRoundsHalvesUp) {
  for (bool vertical : {false, true}) {
    auto b = Line({10, 11, 200, 255}, vertical);
    StretchBitmap(b.get(), vertical ? 1 : 2, vertical ? 2 : 1);
    ASSERT_EQ(b->Width() * b->Height(), 2);
    EXPECT_EQ(At(b, 0), 11);   // (10 + 11 + 1) div 2
    EXPECT_EQ(At(b, 1), 228);  // (200 + 255 + 1) div 2
    EXPECT_EQ(At(b, 0, 1), (245 + 244 + 1) / 2);
    EXPECT_EQ(At(b, 1, 2), (100 + 127 + 1) / 2);
  }
}

TEST(StretchBitmap, ThreeToTwoWeighsTheMiddlePixelHalf) {
  for (bool vertical : {false, true}) {
    auto b = Line({0, 255, 100}, vertical);
    StretchBitmap(b.get(), vertical ? 1 : 2, vertical ? 2 : 1);
    // (65536 s0 + 32768 s1 + 49152) div 98304, and the mirror image for the second.
    EXPECT_EQ(At(b, 0), 85);
    EXPECT_EQ(At(b, 1), 152);
    EXPECT_EQ(At(b, 0, 1), (65536 * 255 + 32768 * 0 + 49152) / 98304);
    EXPECT_EQ(At(b, 1, 1), (32768 * 0 + 65536 * 155 + 49152) / 98304);
  }
}

TEST(StretchBitmap, EnlargingUsesCubicInsideLinearAtTheEdgesAndClamps) {
  // 5 -> 9: pos = i / 2. At 1.5 the weights are -4095, 36864, 36864, -4095 (Trunc of
  // -4095.5 goes toward zero).
  auto b = Line({0, 0, 100, 200, 0});
  StretchBitmap(b.get(), 9, 1);
  EXPECT_EQ(At(b, 0), 0);
  EXPECT_EQ(At(b, 2), 0);                                          // pos 1: the source pixel itself
  EXPECT_EQ(At(b, 3), (100 * 36864 + 200 * -4095 + 32768) >> 16);  // 44
  EXPECT_EQ(At(b, 4), 100);
  EXPECT_EQ(At(b, 7), 100);  // d = S - 2: linear, 200 * 0.5 + 0 * 0.5 + 0.5
  EXPECT_EQ(At(b, 8), 0);    // the last pixel copied

  auto edge = Line({0, 255, 10, 10});
  StretchBitmap(edge.get(), 7, 1);  // pos = i / 2
  EXPECT_EQ(At(edge, 1), 128);      // d = 0: linear, 127.5 + 0.5

  auto high = Line({0, 255, 255, 0, 0});
  StretchBitmap(high.get(), 9, 1);
  EXPECT_EQ(At(high, 3), 255);  // 287 before clamping
  auto low = Line({255, 0, 0, 255, 255});
  StretchBitmap(low.get(), 9, 1);
  EXPECT_EQ(At(low, 3), 0);  // negative before clamping
}

TEST(StretchBitmap, EnlargingKeepsFirstAndLastPixelsAndConstants) {
  auto b = Random(37, 23, 1);
  QImage before = b->Image().copy();
  StretchBitmap(b.get(), 150, 91);
  ASSERT_EQ(b->Width(), 150);
  ASSERT_EQ(b->Height(), 91);
  for (auto [x, y, sx, sy] :
       std::vector<std::array<int, 4>>{{0, 0, 0, 0}, {149, 0, 36, 0}, {0, 90, 0, 22}, {149, 90, 36, 22}})
    for (int c = 0; c < 3; ++c) EXPECT_EQ(b->ScanLine(y)[x * 3 + c], before.constScanLine(sy)[sx * 3 + c]);

  for (int value : {0, 1, 128, 254, 255}) {
    for (auto [w, h] : std::vector<std::pair<int, int>>{{301, 207}, {13, 7}}) {
      QImage image(40, 30, QImage::Format_BGR888);
      image.fill(QColor(value, value, value));
      TBitmap flat;
      flat.SetImage(image);
      StretchBitmap(&flat, w, h);
      QImage expected(w, h, QImage::Format_BGR888);
      expected.fill(QColor(value, value, value));
      EXPECT_EQ(flat.Image(), expected) << value << " to " << w << "x" << h;
    }
  }
}

TEST(StretchBitmap, MatchesThePlainFormulasOnRandomLines) {
  std::mt19937 rng(7);
  // Sizes around the kinds' borders (2, 3, 4 source pixels), uneven ratios and shrinks
  // beyond 128, where 32-bit sums would wrap.
  const std::vector<std::pair<int, int>> sizes = {{2, 5},   {3, 4},    {4, 9},    {7, 31},    {100, 333},
                                                  {9, 8},   {31, 7},   {1000, 3}, {500, 499}, {333, 100},
                                                  {300, 1}, {2000, 7}, {777, 5},  {6, 5}};
  for (auto [s, t] : sizes) {
    std::vector<int> values(static_cast<size_t>(s));
    for (int& v : values) v = int(rng() % 256);
    std::vector<int> expected = ReferenceLine(values, t);
    for (bool vertical : {false, true}) {
      auto b = Line(values, vertical);
      StretchBitmap(b.get(), vertical ? 1 : t, vertical ? t : 1);
      for (int i = 0; i < t; ++i)
        ASSERT_EQ(At(b, i), expected[size_t(i)]) << s << " -> " << t << " at " << i << (vertical ? " (rows)" : "");
    }
  }
}

TEST(StretchBitmap, WidthFirstThenHeight) {
  // A 2-D result equals the width pass on each row followed by the height pass on each
  // column; the vectorised row loops must agree with the single-pixel arithmetic.
  for (auto [w, h, nw, nh] :
       std::vector<std::array<int, 4>>{{64, 48, 16, 12}, {40, 30, 97, 71}, {50, 20, 17, 61}, {33, 65, 80, 9}}) {
    auto b = Random(w, h, unsigned(w * h));
    QImage src = b->Image().copy();
    StretchBitmap(b.get(), nw, nh);
    ASSERT_EQ(b->Width(), nw);
    ASSERT_EQ(b->Height(), nh);
    for (int c = 0; c < 3; ++c) {
      std::vector<std::vector<int>> mid(static_cast<size_t>(h));
      for (int y = 0; y < h; ++y) {
        std::vector<int> row(static_cast<size_t>(w));
        for (int x = 0; x < w; ++x) row[size_t(x)] = src.constScanLine(y)[x * 3 + c];
        mid[size_t(y)] = w == nw ? row : ReferenceLine(row, nw);
      }
      for (int x = 0; x < nw; ++x) {
        std::vector<int> column(static_cast<size_t>(h));
        for (int y = 0; y < h; ++y) column[size_t(y)] = mid[size_t(y)][size_t(x)];
        std::vector<int> out = h == nh ? column : ReferenceLine(column, nh);
        for (int y = 0; y < nh; ++y) ASSERT_EQ(b->ScanLine(y)[x * 3 + c], out[size_t(y)]) << x << "," << y;
      }
    }
  }
}

TEST(StretchBitmap, ShrinkingAverages) {
  for (int value : {0, 77, 255}) {
    QImage image(1000, 700, QImage::Format_BGR888);
    image.fill(QColor(value, 255 - value, value / 3));
    TBitmap flat;
    flat.SetImage(image);
    StretchBitmap(&flat, 3, 1);  // 333 and 700 source pixels per target: 64-bit sums
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(flat.ScanLine(0)[x * 3 + 0], value / 3);
      EXPECT_EQ(flat.ScanLine(0)[x * 3 + 1], 255 - value);
      EXPECT_EQ(flat.ScanLine(0)[x * 3 + 2], value);
    }
  }
}

TEST(StretchBitmap, DegenerateExtentsAndFormats) {
  StretchBitmap(nullptr, 10, 10);
  TBitmap empty;
  StretchBitmap(&empty, 10, 10);
  EXPECT_TRUE(empty.Empty());

  // One source pixel is replicated; one target pixel is the average.
  auto one = Line({200});
  StretchBitmap(one.get(), 5, 4);
  ASSERT_EQ(one->Width(), 5);
  ASSERT_EQ(one->Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(one->ScanLine(y)[x * 3], 200);
  auto toOne = Line({10, 20, 30, 41});
  StretchBitmap(toOne.get(), 1, 1);
  EXPECT_EQ(At(toOne, 0), 25);  // 101 / 4 rounded
  auto gone = Line({1, 2, 3});
  StretchBitmap(gone.get(), 0, 5);
  EXPECT_TRUE(gone->Empty());

  // Same size: only converted to 24 bits. A palette picture comes back as 24 bits.
  QImage indexed(4, 2, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
  indexed.fill(1);
  TBitmap pal;
  pal.SetImage(indexed);
  StretchBitmap(&pal, 4, 2);
  EXPECT_EQ(pal.PixelFormat(), pf24bit);
  EXPECT_EQ(pal.Image().pixel(3, 1), qRgb(200, 100, 50));
  StretchBitmap(&pal, 8, 3);
  EXPECT_EQ(pal.PixelFormat(), pf24bit);
  EXPECT_EQ(pal.Image().pixel(7, 2), qRgb(200, 100, 50));
}

TEST(StretchBitmap, ReportsWidthPassThenHeightPass) {
  auto b = Random(30, 20, 3);
  std::vector<int> seen;
  StretchBitmap(b.get(), 70, 9, [&](int percent) { seen.push_back(percent); });
  // 0, one report per row of each pass (20 then 9), each pass starting with its base.
  ASSERT_EQ(seen.size(), size_t(1 + 20 + 1 + 9));
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen[20], 50);  // the width pass's last row
  EXPECT_EQ(seen[21], 50);  // the height pass starts
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen[10], 9 * 100 / (2 * 19));  // after row 9 of 20
}

TEST(StretchBitmap, SameBytesWhetherWatchedOrNot) {
  // Without a progress procedure large pictures are shared among threads, and a shrink
  // in both directions skips the stored half-done picture; the bytes must not change.
  for (auto [w, h, nw, nh] : std::vector<std::array<int, 4>>{
           {1203, 901, 300, 199}, {301, 203, 77, 41}, {300, 200, 1201, 899}, {900, 50, 200, 600}}) {
    auto quiet = Random(w, h, unsigned(w + h));
    auto watched = Random(w, h, unsigned(w + h));
    StretchBitmap(quiet.get(), nw, nh);
    int reports = 0;
    StretchBitmap(watched.get(), nw, nh, [&](int) { ++reports; });
    EXPECT_GT(reports, 0);
    EXPECT_EQ(quiet->Image(), watched->Image()) << w << "x" << h << " -> " << nw << "x" << nh;
  }
}
