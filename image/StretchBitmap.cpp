#include "image/StretchBitmap.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/graphics/Bitmap.h"

// The hot loops work on whole rows with weights taken from tables built once per pass,
// so that the compiler can vectorise them; x86-64 gets an AVX2 copy chosen at run time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define STRETCH_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define STRETCH_CLONES
#endif

namespace {

constexpr int32_t One = 65536;
constexpr int32_t MaxValue = 255 * One;

void ReportRow(const TStretchProgress& progress, int r, int h, int base) {
  if (!progress) return;
  // A single row has no "r / (H - 1)"; it is the whole pass.
  int percent = h > 1 ? int(int64_t(r) * 100 / (2 * int64_t(h - 1))) : 50;
  progress(percent + base);
}

inline uint8_t ClampCubic(int32_t v) {
  v = v < 0 ? 0 : v;
  v = v > MaxValue ? MaxValue : v;
  return uint8_t(v >> 16);
}

// ---- enlarging ----

enum class Kind : uint8_t { Copy, Linear, Cubic };

struct EnlargeTap {
  int32_t d;  // source index
  Kind kind;
  long double f;  // Frac(pos), for the linear edges
  int32_t w[4];
};

bool BuildEnlargeTable(int s, int t, std::vector<EnlargeTap>& table) {
  try {
    table.resize(size_t(t));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int i = 0; i < t; ++i) {
    // First and last pixels map onto each other; a single target pixel takes the first.
    long double pos = t > 1 ? (long double)(int64_t(i) * (s - 1)) / (long double)(t - 1) : 0.0L;
    int64_t d = int64_t(pos);
    long double f = pos - (long double)d;
    long double a = 1 + f;
    EnlargeTap& tap = table[size_t(i)];
    tap.d = int32_t(d);
    tap.f = f;
    // Lagrange basis for the nodes 0..3 at a, rounded half up as Trunc(x + 0.5).
    tap.w[0] = int32_t(65536.0L * (a - 1) * (a - 2) * (a - 3) / -6 + 0.5L);
    tap.w[1] = int32_t(65536.0L * a * (a - 2) * (a - 3) / 2 + 0.5L);
    tap.w[2] = int32_t(65536.0L * a * (a - 1) * (a - 3) / -2 + 0.5L);
    tap.w[3] = int32_t(65536.0L * a * (a - 1) * (a - 2) / 6 + 0.5L);
    tap.kind = d >= s - 1 ? Kind::Copy : (d == 0 || d == s - 2) ? Kind::Linear : Kind::Cubic;
  }
  return true;
}

inline uint8_t LinearValue(uint8_t a, uint8_t b, long double f) {
  return uint8_t(int32_t((long double)a * (1 - f) + (long double)b * f + 0.5L));
}

STRETCH_CLONES void CubicRow(const uint8_t* __restrict r0, const uint8_t* __restrict r1,
                             const uint8_t* __restrict r2, const uint8_t* __restrict r3,
                             uint8_t* __restrict out, size_t n, int32_t w0, int32_t w1, int32_t w2,
                             int32_t w3) {
  for (size_t j = 0; j < n; ++j) {
    int32_t v = r0[j] * w0 + r1[j] * w1 + r2[j] * w2 + r3[j] * w3 + 0x8000;
    v = v < 0 ? 0 : v;
    v = v > MaxValue ? MaxValue : v;
    out[j] = uint8_t(v >> 16);
  }
}

void LinearRow(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n, long double f) {
  for (size_t j = 0; j < n; ++j) out[j] = LinearValue(a[j], b[j], f);
}

// ---- shrinking ----

struct ShrinkTap {
  int32_t d;     // first source index, weighed W
  int32_t W;
  int32_t end;   // B[i+1]: the whole pixels are d+1 .. end-1
  int32_t e;     // the partial pixel at the end (end clamped into the source)
  int32_t F;     // its weight, 0 when there is none
};

struct ShrinkTable {
  std::vector<ShrinkTap> taps;
  int64_t L = 0;   // total weight
  int64_t H2 = 0;  // half of it, for rounding
  bool narrow = false;  // every sum fits the 32-bit arithmetic
  // (n * M) >> Shift == n / L for every n < 2^31 (rounding-up reciprocal).
  uint32_t M = 0;
  int Shift = 0;
};

bool BuildShrinkTable(int s, int t, ShrinkTable& table) {
  std::vector<int64_t> b;
  std::vector<int32_t> f;
  try {
    table.taps.resize(size_t(t));
    b.resize(size_t(t) + 1);
    f.resize(size_t(t) + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // S x 65536 in 64 bits: in 32 bits it wraps for pictures 32768 pixels wide.
  table.L = int64_t((long double)(int64_t(s) * One) / (long double)t + 0.5L);
  table.H2 = (table.L + 1) / 2;
  for (int k = 0; k <= t; ++k) {
    long double x = (long double)(int64_t(k) * s) / (long double)t;
    b[size_t(k)] = int64_t(x);
    f[size_t(k)] = int32_t((x - (long double)b[size_t(k)]) * 65536);
  }
  int64_t d = 0, w = One, heaviest = 0;
  for (int i = 0; i < t; ++i) {
    ShrinkTap& tap = table.taps[size_t(i)];
    int64_t end = std::min<int64_t>(b[size_t(i) + 1], s);
    tap.d = int32_t(std::min<int64_t>(d, s - 1));
    tap.W = int32_t(w);
    tap.end = int32_t(std::max<int64_t>(end, tap.d + 1));
    tap.F = end < s ? f[size_t(i) + 1] : 0;
    tap.e = int32_t(std::min<int64_t>(end, s - 1));
    heaviest = std::max<int64_t>(heaviest, w + int64_t(One) * (tap.end - tap.d - 1) + tap.F);
    w = One - f[size_t(i) + 1];
    d = b[size_t(i) + 1];
  }
  // The 32-bit sums hold when a target pixel covers up to about 128 source pixels;
  // beyond that 64-bit sums give the result the formula means instead of a wrapped one.
  table.narrow = 255 * heaviest + table.H2 <= INT32_MAX;
  if (table.narrow) {
    int l = 0;
    while ((int64_t(1) << l) < table.L) ++l;
    table.Shift = 31 + l;
    table.M = uint32_t(((uint64_t(1) << table.Shift) + uint64_t(table.L) - 1) / uint64_t(table.L));
  }
  return true;
}

inline uint8_t Divide(uint32_t n, uint32_t m, int shift) { return uint8_t((uint64_t(n) * m) >> shift); }

void ShrinkRowNarrow(const uint8_t* src, uint8_t* out, const ShrinkTable& table) {
  const uint32_t h2 = uint32_t(table.H2), m = table.M;
  const int shift = table.Shift;
  for (const ShrinkTap& tap : table.taps) {
    const uint8_t* p = src + size_t(tap.d) * 3;
    uint32_t whole0 = 0, whole1 = 0, whole2 = 0;
    for (const uint8_t *q = p + 3, *end = src + size_t(tap.end) * 3; q < end; q += 3) {
      whole0 += q[0];
      whole1 += q[1];
      whole2 += q[2];
    }
    const uint8_t* e = src + size_t(tap.e) * 3;
    const uint32_t w = uint32_t(tap.W), f = uint32_t(tap.F);
    out[0] = Divide(w * p[0] + (whole0 << 16) + f * e[0] + h2, m, shift);
    out[1] = Divide(w * p[1] + (whole1 << 16) + f * e[1] + h2, m, shift);
    out[2] = Divide(w * p[2] + (whole2 << 16) + f * e[2] + h2, m, shift);
    out += 3;
  }
}

void ShrinkRowWide(const uint8_t* src, uint8_t* out, const ShrinkTable& table) {
  const uint64_t l = uint64_t(table.L), h2 = uint64_t(table.H2);
  for (const ShrinkTap& tap : table.taps) {
    const uint8_t* p = src + size_t(tap.d) * 3;
    const uint8_t* e = src + size_t(tap.e) * 3;
    for (int c = 0; c < 3; ++c) {
      uint64_t whole = 0;
      for (const uint8_t *q = p + 3 + c, *end = src + size_t(tap.end) * 3; q < end; q += 3) whole += *q;
      uint64_t sum = uint64_t(tap.W) * p[c] + (whole << 16) + uint64_t(tap.F) * e[c];
      out[c] = uint8_t((sum + h2) / l);
    }
    out += 3;
  }
}

STRETCH_CLONES void AddRow16(uint16_t* __restrict acc, const uint8_t* __restrict row, size_t n) {
  for (size_t j = 0; j < n; ++j) acc[j] = uint16_t(acc[j] + row[j]);
}

STRETCH_CLONES void CombineRows(const uint8_t* __restrict first, uint32_t w, const uint16_t* __restrict whole,
                                const uint8_t* __restrict last, uint32_t f, uint32_t h2, uint32_t m, int shift,
                                uint8_t* __restrict out, size_t n) {
  for (size_t j = 0; j < n; ++j) {
    uint32_t v = w * first[j] + (uint32_t(whole[j]) << 16) + f * last[j] + h2;
    out[j] = uint8_t((uint64_t(v) * m) >> shift);
  }
}

void ShrinkRowsWide(const TStretchRows& source, const ShrinkTap& tap, const ShrinkTable& table,
                    std::vector<uint64_t>& sums, uint8_t* out, size_t n) {
  const uint8_t* first = source.Row(tap.d);
  for (size_t j = 0; j < n; ++j) sums[j] = uint64_t(tap.W) * first[j];
  for (int y = tap.d + 1; y < tap.end; ++y) {
    const uint8_t* row = source.Row(y);
    for (size_t j = 0; j < n; ++j) sums[j] += uint64_t(row[j]) << 16;
  }
  const uint8_t* last = source.Row(tap.e);
  for (size_t j = 0; j < n; ++j)
    out[j] = uint8_t((sums[j] + uint64_t(tap.F) * last[j] + uint64_t(table.H2)) / uint64_t(table.L));
}

}  // namespace

namespace StretchRows {

bool EnlargeWidth(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Width, t = target.Width, rows = std::min(source.Height, target.Height);
  if (progress) progress(0);
  if (s <= 0 || t <= 0) return true;
  std::vector<EnlargeTap> table;
  if (!BuildEnlargeTable(s, t, table)) return false;
  // The columns fall into runs by kind: linear, cubic, linear, the copied last one.
  int cubicBegin = 0, cubicEnd = 0;
  while (cubicBegin < t && table[size_t(cubicBegin)].kind != Kind::Cubic) ++cubicBegin;
  cubicEnd = cubicBegin;
  while (cubicEnd < t && table[size_t(cubicEnd)].kind == Kind::Cubic) ++cubicEnd;
  for (int y = 0; y < rows; ++y) {
    const uint8_t* src = source.Row(y);
    uint8_t* out = target.Row(y);
    for (int i = cubicBegin; i < cubicEnd; ++i) {
      const EnlargeTap& tap = table[size_t(i)];
      const uint8_t* p = src + size_t(tap.d - 1) * 3;
      uint8_t* q = out + size_t(i) * 3;
      for (int c = 0; c < 3; ++c)
        q[c] = ClampCubic(p[c] * tap.w[0] + p[c + 3] * tap.w[1] + p[c + 6] * tap.w[2] + p[c + 9] * tap.w[3] +
                          0x8000);
    }
    for (int i = 0; i < t; ++i) {
      if (i == cubicBegin) i = cubicEnd;
      if (i >= t) break;
      const EnlargeTap& tap = table[size_t(i)];
      const uint8_t* p = src + size_t(tap.d) * 3;
      uint8_t* q = out + size_t(i) * 3;
      if (tap.kind == Kind::Copy) {
        q[0] = p[0], q[1] = p[1], q[2] = p[2];
      } else {
        for (int c = 0; c < 3; ++c) q[c] = LinearValue(p[c], p[c + 3], tap.f);
      }
    }
    ReportRow(progress, y, rows, 0);
  }
  return true;
}

bool EnlargeHeight(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Height, t = target.Height;
  const size_t n = size_t(std::min(source.Width, target.Width)) * 3;
  if (progress) progress(50);
  if (s <= 0 || t <= 0) return true;
  std::vector<EnlargeTap> table;
  if (!BuildEnlargeTable(s, t, table)) return false;
  for (int i = 0; i < t; ++i) {
    const EnlargeTap& tap = table[size_t(i)];
    uint8_t* out = target.Row(i);
    switch (tap.kind) {
      case Kind::Copy:
        std::memcpy(out, source.Row(tap.d), n);
        break;
      case Kind::Linear:
        LinearRow(source.Row(tap.d), source.Row(tap.d + 1), out, n, tap.f);
        break;
      case Kind::Cubic:
        CubicRow(source.Row(tap.d - 1), source.Row(tap.d), source.Row(tap.d + 1), source.Row(tap.d + 2), out, n,
                 tap.w[0], tap.w[1], tap.w[2], tap.w[3]);
        break;
    }
    ReportRow(progress, i, t, 50);
  }
  return true;
}

bool ShrinkWidth(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Width, t = target.Width, rows = std::min(source.Height, target.Height);
  // Averaging needs each target pixel to cover at least one source pixel.
  if (t > s) return EnlargeWidth(source, target, progress);
  if (progress) progress(0);
  if (s <= 0 || t <= 0) return true;
  ShrinkTable table;
  if (!BuildShrinkTable(s, t, table)) return false;
  for (int y = 0; y < rows; ++y) {
    if (table.narrow)
      ShrinkRowNarrow(source.Row(y), target.Row(y), table);
    else
      ShrinkRowWide(source.Row(y), target.Row(y), table);
    ReportRow(progress, y, rows, 0);
  }
  return true;
}

bool ShrinkHeight(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Height, t = target.Height;
  if (t > s) return EnlargeHeight(source, target, progress);
  const size_t n = size_t(std::min(source.Width, target.Width)) * 3;
  if (progress) progress(50);
  if (s <= 0 || t <= 0) return true;
  ShrinkTable table;
  std::vector<uint16_t> whole;
  std::vector<uint64_t> sums;
  if (!BuildShrinkTable(s, t, table)) return false;
  try {
    if (table.narrow)
      whole.resize(n);
    else
      sums.resize(n);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int i = 0; i < t; ++i) {
    const ShrinkTap& tap = table.taps[size_t(i)];
    if (table.narrow) {
      // Whole rows add up in 16 bits (at most 128 of them here), then meet their weights.
      std::fill(whole.begin(), whole.end(), uint16_t(0));
      for (int y = tap.d + 1; y < tap.end; ++y) AddRow16(whole.data(), source.Row(y), n);
      // The partial row after the last target row lies past the source: F is 0 there and
      // the row read in its place is the last one.
      CombineRows(source.Row(tap.d), uint32_t(tap.W), whole.data(), source.Row(tap.e), uint32_t(tap.F),
                  uint32_t(table.H2), table.M, table.Shift, target.Row(i), n);
    } else {
      ShrinkRowsWide(source, tap, table, sums, target.Row(i), n);
    }
    ReportRow(progress, i, t, 50);
  }
  return true;
}

}  // namespace StretchRows

namespace {

TStretchRows RowsOf(const TBitmap& bitmap) {
  return {const_cast<uint8_t*>(bitmap.ScanLine(0)), bitmap.BytesPerLine(), bitmap.Width(), bitmap.Height()};
}

TStretchRows RowsOf(TBitmap& bitmap) {
  uint8_t* bits = bitmap.ScanLine(0);  // makes the pixels this bitmap's own
  return {bits, bitmap.BytesPerLine(), bitmap.Width(), bitmap.Height()};
}

bool Usable(const TBitmap& source, const TBitmap& target) {
  return !source.Empty() && !target.Empty() && source.PixelFormat() == pf24bit && target.PixelFormat() == pf24bit;
}

using RowsPass = bool (*)(const TStretchRows&, const TStretchRows&, const TStretchProgress&);

bool RunPass(RowsPass pass, const TBitmap& source, TBitmap& target, const TStretchProgress& progress) {
  if (!Usable(source, target)) return true;
  TStretchRows to = RowsOf(target);
  return pass(RowsOf(source), to, progress);
}

// One pass of StretchBitmap: the picture resampled to width x height in Temp, then back.
void StretchPass(TBitmap& bitmap, TBitmap& temp, int width, int height, RowsPass pass,
                 const TStretchProgress& progress) {
  // The target's pixels are all written, so they start uninitialised.
  QImage image;
  if (int64_t(width) * height <= kMaxBitmapPixels) image = QImage(width, height, QImage::Format_BGR888);
  if (image.isNull()) {
    temp.SetPixelFormat(pf24bit);
    temp.SetSize(width, height);  // throws the framework's out-of-memory error
  } else {
    temp.SetImage(image);
  }
  if (!RunPass(pass, bitmap, temp, progress)) {
    // No tables: the bitmap keeps the new size with what resizing left in it.
    temp.Assign(&bitmap);
    temp.SetSize(width, height);
  }
  bitmap.Assign(&temp);
}

}  // namespace

void EnlargeWidth(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress) {
  RunPass(StretchRows::EnlargeWidth, Source, Target, Progress);
}

void ShrinkWidth(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress) {
  RunPass(StretchRows::ShrinkWidth, Source, Target, Progress);
}

void EnlargeHeight(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress) {
  RunPass(StretchRows::EnlargeHeight, Source, Target, Progress);
}

void ShrinkHeight(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress) {
  RunPass(StretchRows::ShrinkHeight, Source, Target, Progress);
}

void StretchBitmap(TBitmap* Bitmap, int NewWidth, int NewHeight, const TStretchProgress& Progress) {
  if (!Bitmap || Bitmap->Empty()) return;
  if (Bitmap->PixelFormat() != pf24bit) {
    Bitmap->SetPixelFormat(pf24bit);
    Bitmap->SetPalette({});
  }
  if (NewWidth <= 0 || NewHeight <= 0) {
    Bitmap->SetSize(std::max(0, NewWidth), std::max(0, NewHeight));
    return;
  }
  TBitmap temp;
  if (NewWidth != Bitmap->Width())
    StretchPass(*Bitmap, temp, NewWidth, Bitmap->Height(),
                Bitmap->Width() < NewWidth ? StretchRows::EnlargeWidth : StretchRows::ShrinkWidth, Progress);
  if (NewHeight != Bitmap->Height())
    StretchPass(*Bitmap, temp, Bitmap->Width(), NewHeight,
                Bitmap->Height() < NewHeight ? StretchRows::EnlargeHeight : StretchRows::ShrinkHeight, Progress);
}
