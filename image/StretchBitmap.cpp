#include "image/StretchBitmap.h"

#include <QImage>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/graphics/Bitmap.h"

// The hot loops work on whole rows with weights taken from tables built once per pass,
// so that the compiler can vectorise them; x86-64 gets an AVX2 copy chosen at run time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define STRETCH_CLONES __attribute__((target_clones("avx2", "default")))
#define STRETCH_SSE41 1
#include <immintrin.h>
#else
#define STRETCH_CLONES
#define STRETCH_SSE41 0
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

#if STRETCH_SSE41
bool HaveSse41() {
  static const bool have = __builtin_cpu_supports("sse4.1");
  return have;
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

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

STRETCH_CLONES void CubicRow(const uint8_t* __restrict r0, const uint8_t* __restrict r1, const uint8_t* __restrict r2,
                             const uint8_t* __restrict r3, uint8_t* __restrict out, size_t n, int32_t w0, int32_t w1,
                             int32_t w2, int32_t w3) {
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
  int32_t d;  // first source index, weighed W
  int32_t W;
  int32_t end;  // B[i+1]: the whole pixels are d+1 .. end-1
  int32_t e;    // the partial pixel at the end (end clamped into the source)
  int32_t F;    // its weight, 0 when there is none
};

struct ShrinkTable {
  std::vector<ShrinkTap> taps;
  int64_t L = 0;        // total weight
  int64_t H2 = 0;       // half of it, for rounding
  bool narrow = false;  // every sum fits the 32-bit arithmetic
  // (n * M) >> Shift == n / L for every n < 2^31 (rounding-up reciprocal).
  uint32_t M = 0;
  int Shift = 0;
  // The leading target pixels whose four-byte reads and writes stay inside the row.
  size_t simdCount = 0;
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
  while (table.simdCount + 1 < size_t(t) && table.taps[table.simdCount].end <= s - 1 &&
         table.taps[table.simdCount].e <= s - 2)
    ++table.simdCount;
  if (table.narrow) {
    int l = 0;
    while ((int64_t(1) << l) < table.L) ++l;
    table.Shift = 31 + l;
    table.M = uint32_t(((uint64_t(1) << table.Shift) + uint64_t(table.L) - 1) / uint64_t(table.L));
  }
  return true;
}

inline uint8_t Divide(uint32_t n, uint32_t m, int shift) { return uint8_t((uint64_t(n) * m) >> shift); }

#if STRETCH_SSE41
// One pixel per vector: its three channels (and a fourth byte that is computed and then
// overwritten by the next pixel). Loads and stores are four bytes wide.

__attribute__((target("sse4.1"))) inline __m128i LoadPixel(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(v));
}

__attribute__((target("sse4.1"))) inline void StorePixel(uint8_t* p, __m128i v) {
  v = _mm_packus_epi32(v, v);
  v = _mm_packus_epi16(v, v);
  int32_t bytes = _mm_cvtsi128_si32(v);
  std::memcpy(p, &bytes, 4);
}

// The target columns in [begin, end) of one row, all cubic; returns end.
__attribute__((target("sse4.1"))) int CubicColumnsSse41(const uint8_t* src, uint8_t* out, const EnlargeTap* table,
                                                        int begin, int end) {
  const __m128i round = _mm_set1_epi32(0x8000), zero = _mm_setzero_si128(), max = _mm_set1_epi32(MaxValue);
  for (int i = begin; i < end; ++i) {
    const EnlargeTap& tap = table[i];
    const uint8_t* p = src + size_t(tap.d - 1) * 3;
    __m128i v = _mm_add_epi32(_mm_mullo_epi32(LoadPixel(p), _mm_set1_epi32(tap.w[0])),
                              _mm_mullo_epi32(LoadPixel(p + 3), _mm_set1_epi32(tap.w[1])));
    v = _mm_add_epi32(v, _mm_mullo_epi32(LoadPixel(p + 6), _mm_set1_epi32(tap.w[2])));
    v = _mm_add_epi32(v, _mm_mullo_epi32(LoadPixel(p + 9), _mm_set1_epi32(tap.w[3])));
    v = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(v, round), zero), max);
    StorePixel(out + size_t(i) * 3, _mm_srai_epi32(v, 16));
  }
  return end;
}

// The leading target pixels of one row whose reads and writes stay inside the rows;
// returns how many were done.
__attribute__((target("sse4.1"))) size_t ShrinkColumnsSse41(const uint8_t* src, uint8_t* out,
                                                            const ShrinkTable& table) {
  const __m128i h2 = _mm_set1_epi32(int32_t(table.H2)), m = _mm_set1_epi32(int32_t(table.M));
  const __m128i shift = _mm_cvtsi32_si128(table.Shift);
  const size_t count = table.simdCount;
  for (size_t i = 0; i < count; ++i) {
    const ShrinkTap& tap = table.taps[i];
    const uint8_t* p = src + size_t(tap.d) * 3;
    __m128i whole = _mm_setzero_si128();
    for (const uint8_t *q = p + 3, *end = src + size_t(tap.end) * 3; q < end; q += 3)
      whole = _mm_add_epi32(whole, LoadPixel(q));
    __m128i v = _mm_mullo_epi32(LoadPixel(p), _mm_set1_epi32(tap.W));
    v = _mm_add_epi32(v, _mm_slli_epi32(whole, 16));
    v = _mm_add_epi32(v, _mm_mullo_epi32(LoadPixel(src + size_t(tap.e) * 3), _mm_set1_epi32(tap.F)));
    v = _mm_add_epi32(v, h2);
    // (v * M) >> Shift in 64 bits, even and odd lanes apart.
    __m128i even = _mm_srl_epi64(_mm_mul_epu32(v, m), shift);
    __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(v, 32), m), shift);
    StorePixel(out + i * 3, _mm_or_si128(even, _mm_slli_epi64(odd, 32)));
  }
  return count;
}

__attribute__((target("avx2"))) inline __m256i LoadPixels(const uint8_t* a, const uint8_t* b) {
  int32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return _mm256_cvtepu8_epi32(_mm_set_epi32(0, 0, y, x));
}

__attribute__((target("avx2"))) inline void StorePixels(uint8_t* a, uint8_t* b, __m256i v) {
  __m128i p = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  p = _mm_packus_epi16(p, p);
  int32_t x = _mm_cvtsi128_si32(p), y = _mm_extract_epi32(p, 1);
  std::memcpy(a, &x, 4);
  std::memcpy(b, &y, 4);
}

// ShrinkColumnsSse41 for two rows, the first in the low half of each vector.
__attribute__((target("avx2"))) size_t ShrinkColumnsAvx2(const uint8_t* src1, const uint8_t* src2, uint8_t* out1,
                                                         uint8_t* out2, const ShrinkTable& table) {
  const __m256i h2 = _mm256_set1_epi32(int32_t(table.H2)), m = _mm256_set1_epi32(int32_t(table.M));
  const __m128i shift = _mm_cvtsi32_si128(table.Shift);
  const size_t count = table.simdCount;
  for (size_t i = 0; i < count; ++i) {
    const ShrinkTap& tap = table.taps[i];
    const size_t d = size_t(tap.d) * 3, end = size_t(tap.end) * 3, e = size_t(tap.e) * 3;
    __m256i whole = _mm256_setzero_si256();
    for (size_t q = d + 3; q < end; q += 3) whole = _mm256_add_epi32(whole, LoadPixels(src1 + q, src2 + q));
    __m256i v = _mm256_mullo_epi32(LoadPixels(src1 + d, src2 + d), _mm256_set1_epi32(tap.W));
    v = _mm256_add_epi32(v, _mm256_slli_epi32(whole, 16));
    v = _mm256_add_epi32(v, _mm256_mullo_epi32(LoadPixels(src1 + e, src2 + e), _mm256_set1_epi32(tap.F)));
    v = _mm256_add_epi32(v, h2);
    __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(v, m), shift);
    __m256i odd = _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(v, 32), m), shift);
    StorePixels(out1 + i * 3, out2 + i * 3, _mm256_or_si256(even, _mm256_slli_epi64(odd, 32)));
  }
  return count;
}
#endif

// Target pixels from first on, one channel at a time.
void ShrinkRowNarrowFrom(const uint8_t* src, uint8_t* out, const ShrinkTable& table, size_t first) {
  const uint32_t h2 = uint32_t(table.H2), m = table.M;
  const int shift = table.Shift;
  out += first * 3;
  for (size_t i = first; i < table.taps.size(); ++i) {
    const ShrinkTap& tap = table.taps[i];
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

void ShrinkRowNarrow(const uint8_t* src, uint8_t* out, const ShrinkTable& table) {
  size_t first = 0;
#if STRETCH_SSE41
  if (HaveSse41()) first = ShrinkColumnsSse41(src, out, table);
#endif
  ShrinkRowNarrowFrom(src, out, table, first);
}

// Two rows at once: they share the taps, and each vector holds a pixel of both.
void ShrinkRowsNarrow(const uint8_t* src1, const uint8_t* src2, uint8_t* out1, uint8_t* out2,
                      const ShrinkTable& table) {
#if STRETCH_SSE41
  if (HaveAvx2()) {
    size_t first = ShrinkColumnsAvx2(src1, src2, out1, out2, table);
    ShrinkRowNarrowFrom(src1, out1, table, first);
    ShrinkRowNarrowFrom(src2, out2, table, first);
    return;
  }
#endif
  ShrinkRowNarrow(src1, out1, table);
  ShrinkRowNarrow(src2, out2, table);
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

// Large pictures are resampled by all cores, each taking a share of the target rows;
// rows do not depend on each other, so the result is the same. With a progress
// procedure everything stays on the calling thread, which reports row by row.
constexpr size_t ParallelWork = size_t(1) << 20;  // bytes of work below which one thread does it

int Shares(int rows, size_t workPerRow, const TStretchProgress& progress) {
  if (progress || size_t(rows) * workPerRow < ParallelWork) return 1;
  unsigned cores = std::min(std::thread::hardware_concurrency(), 8u);
  return int(std::max(1u, std::min(cores, unsigned(rows))));
}

template <typename Body>
void ForRows(int rows, size_t workPerRow, const TStretchProgress& progress, const Body& body) {
  const int shares = Shares(rows, workPerRow, progress);
  if (shares <= 1) {
    body(0, rows, 0);
    return;
  }
  // Rows are handed out in small runs: a helper that a busy machine starts late takes
  // fewer of them instead of holding everyone up.
  const int run = std::max(1, rows / (shares * 8));
  std::atomic<int> next{0};
  auto work = [&](int share) {
    for (int begin; (begin = next.fetch_add(run)) < rows;) body(begin, std::min(rows, begin + run), share);
  };
  std::vector<std::thread> helpers;
  for (int k = 1; k < shares; ++k) {
    try {
      helpers.emplace_back(work, k);
    } catch (const std::system_error&) {
      break;  // no more threads: the others share the rows
    }
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
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
  // Four-byte loads and stores: the last source pixel read must have a byte after it
  // in the row, and so must the target pixel written.
  int cubicSimdEnd = cubicBegin;
  while (cubicSimdEnd < cubicEnd && table[size_t(cubicSimdEnd)].d + 2 <= s - 2 && cubicSimdEnd <= t - 2) ++cubicSimdEnd;
  ForRows(rows, size_t(t) * 12, progress, [&](int begin, int end, int) {
    for (int y = begin; y < end; ++y) {
      const uint8_t* src = source.Row(y);
      uint8_t* out = target.Row(y);
      int i = cubicBegin;
#if STRETCH_SSE41
      if (HaveSse41()) i = CubicColumnsSse41(src, out, table.data(), cubicBegin, cubicSimdEnd);
#endif
      for (; i < cubicEnd; ++i) {
        const EnlargeTap& tap = table[size_t(i)];
        const uint8_t* p = src + size_t(tap.d - 1) * 3;
        uint8_t* q = out + size_t(i) * 3;
        for (int c = 0; c < 3; ++c)
          q[c] = ClampCubic(p[c] * tap.w[0] + p[c + 3] * tap.w[1] + p[c + 6] * tap.w[2] + p[c + 9] * tap.w[3] + 0x8000);
      }
      // The edges last: a four-byte store above may have run one byte into them.
      for (i = 0; i < t; ++i) {
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
  });
  return true;
}

bool EnlargeHeight(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Height, t = target.Height;
  const size_t n = size_t(std::min(source.Width, target.Width)) * 3;
  if (progress) progress(50);
  if (s <= 0 || t <= 0) return true;
  std::vector<EnlargeTap> table;
  if (!BuildEnlargeTable(s, t, table)) return false;
  ForRows(t, n * 4, progress, [&](int begin, int end, int) {
    for (int i = begin; i < end; ++i) {
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
  });
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
  ForRows(rows, size_t(s) * 3, progress, [&](int begin, int end, int) {
    for (int y = begin; y < end; ++y) {
      if (table.narrow && y + 1 < end) {
        ShrinkRowsNarrow(source.Row(y), source.Row(y + 1), target.Row(y), target.Row(y + 1), table);
        ReportRow(progress, y, rows, 0);
        ++y;
      } else if (table.narrow) {
        ShrinkRowNarrow(source.Row(y), target.Row(y), table);
      } else {
        ShrinkRowWide(source.Row(y), target.Row(y), table);
      }
      ReportRow(progress, y, rows, 0);
    }
  });
  return true;
}

bool ShrinkHeight(const TStretchRows& source, const TStretchRows& target, const TStretchProgress& progress) {
  const int s = source.Height, t = target.Height;
  if (t > s) return EnlargeHeight(source, target, progress);
  const size_t n = size_t(std::min(source.Width, target.Width)) * 3;
  if (progress) progress(50);
  if (s <= 0 || t <= 0) return true;
  ShrinkTable table;
  if (!BuildShrinkTable(s, t, table)) return false;
  // Each share of the rows gets its own sums.
  std::vector<std::vector<uint16_t>> whole;
  std::vector<std::vector<uint64_t>> sums;
  const int shares = Shares(t, n * size_t(s) / size_t(t), progress);
  try {
    for (int k = 0; k < shares; ++k) {
      if (table.narrow)
        whole.emplace_back(n);
      else
        sums.emplace_back(n);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  ForRows(t, n * size_t(s) / size_t(t), progress, [&](int begin, int end, int share) {
    for (int i = begin; i < end; ++i) {
      const ShrinkTap& tap = table.taps[size_t(i)];
      if (table.narrow) {
        // Whole rows add up in 16 bits (at most 128 of them here), then meet their weights.
        std::vector<uint16_t>& acc = whole[size_t(share)];
        std::fill(acc.begin(), acc.end(), uint16_t(0));
        for (int y = tap.d + 1; y < tap.end; ++y) AddRow16(acc.data(), source.Row(y), n);
        // The partial row after the last target row lies past the source: F is 0 there
        // and the row read in its place is the last one.
        CombineRows(source.Row(tap.d), uint32_t(tap.W), acc.data(), source.Row(tap.e), uint32_t(tap.F),
                    uint32_t(table.H2), table.M, table.Shift, target.Row(i), n);
      } else {
        ShrinkRowsWide(source, tap, table, sums[size_t(share)], target.Row(i), n);
      }
      ReportRow(progress, i, t, 50);
    }
  });
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
    image = QImage();  // else writing to temp's pixels would copy them first
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

namespace {

// Shrinking in both directions without a progress procedure: each target row is made
// from width-shrunk source rows computed on the fly, so the half-done picture is never
// stored. The bytes are those of the two passes. False when this does not apply.
bool ShrinkBoth(TBitmap& bitmap, int width, int height) {
  const TStretchRows source = RowsOf(static_cast<const TBitmap&>(bitmap));
  ShrinkTable across, down;
  if (!BuildShrinkTable(source.Width, width, across) || !BuildShrinkTable(source.Height, height, down)) return false;
  if (!across.narrow || !down.narrow) return false;
  if (int64_t(width) * height > kMaxBitmapPixels) return false;
  QImage image(width, height, QImage::Format_BGR888);
  if (image.isNull()) return false;
  const TStretchRows target{image.bits(), image.bytesPerLine(), width, height};
  const size_t n = size_t(width) * 3;
  const size_t work = size_t(source.Width) * 3 * size_t(source.Height) / size_t(height);
  const int shares = Shares(height, work, {});
  struct Scratch {
    std::vector<uint8_t> first, last, row, row2;
    std::vector<uint16_t> whole;
  };
  std::vector<Scratch> scratch;
  try {
    for (int k = 0; k < shares; ++k)
      scratch.push_back({std::vector<uint8_t>(n), std::vector<uint8_t>(n), std::vector<uint8_t>(n),
                         std::vector<uint8_t>(n), std::vector<uint16_t>(n)});
  } catch (const std::bad_alloc&) {
    return false;
  }
  ForRows(height, work, {}, [&](int begin, int end, int share) {
    Scratch& own = scratch[size_t(share)];
    int kept = -1;  // the source row whose shrunk copy is in own.last
    for (int i = begin; i < end; ++i) {
      const ShrinkTap& tap = down.taps[size_t(i)];
      // A partial row ends one target row and starts the next: shrink it once.
      if (kept == tap.d)
        std::swap(own.first, own.last);
      else
        ShrinkRowNarrow(source.Row(tap.d), own.first.data(), across);
      kept = -1;
      std::fill(own.whole.begin(), own.whole.end(), uint16_t(0));
      int y = tap.d + 1;
      for (; y + 1 < tap.end; y += 2) {
        ShrinkRowsNarrow(source.Row(y), source.Row(y + 1), own.row.data(), own.row2.data(), across);
        AddRow16(own.whole.data(), own.row.data(), n);
        AddRow16(own.whole.data(), own.row2.data(), n);
      }
      if (y < tap.end) {
        ShrinkRowNarrow(source.Row(y), own.row.data(), across);
        AddRow16(own.whole.data(), own.row.data(), n);
      }
      const uint8_t* last = own.first.data();  // weighed 0 when there is no partial row
      if (tap.F > 0) {
        ShrinkRowNarrow(source.Row(tap.e), own.last.data(), across);
        last = own.last.data();
        kept = tap.e;
      }
      CombineRows(own.first.data(), uint32_t(tap.W), own.whole.data(), last, uint32_t(tap.F), uint32_t(down.H2), down.M,
                  down.Shift, target.Row(i), n);
    }
  });
  bitmap.SetImage(image);
  return true;
}

// A picture with alpha: the colour premultiplied by alpha and the alpha itself are
// resampled as two 24-bit pictures, so a transparent pixel lends no colour to its
// neighbours, and put together again premultiplied.
void StretchWithAlpha(TBitmap& bitmap, int width, int height, const TStretchProgress& progress) {
  const QImage source = bitmap.Image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int w = source.width(), h = source.height();
  QImage colourImage(w, h, QImage::Format_BGR888), alphaImage(w, h, QImage::Format_BGR888);
  if (colourImage.isNull() || alphaImage.isNull())
    throw EInvalidGraphicOperation("ビットマップを作成できません (メモリ不足)");
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    uint8_t* c = colourImage.scanLine(y);
    uint8_t* a = alphaImage.scanLine(y);
    for (int x = 0; x < w; ++x, c += 3, a += 3) {
      c[0] = uint8_t(qBlue(in[x])), c[1] = uint8_t(qGreen(in[x])), c[2] = uint8_t(qRed(in[x]));
      a[0] = a[1] = a[2] = uint8_t(qAlpha(in[x]));
    }
  }
  TBitmap colour, alpha;
  colour.SetImage(colourImage);
  alpha.SetImage(alphaImage);
  colourImage = alphaImage = QImage();
  StretchBitmap(&colour, width, height, progress);
  StretchBitmap(&alpha, width, height);
  QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
  if (out.isNull()) throw EInvalidGraphicOperation("ビットマップを作成できません (メモリ不足)");
  for (int y = 0; y < height; ++y) {
    const uint8_t* c = colour.Image().constScanLine(y);
    const uint8_t* a = alpha.Image().constScanLine(y);
    auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < width; ++x, c += 3, a += 3) {
      // Rounding and the cubic's overshoot may leave colour above its alpha.
      const uint8_t av = a[0];
      o[x] = qRgba(std::min(c[2], av), std::min(c[1], av), std::min(c[0], av), av);
    }
  }
  bitmap.SetImage(out);
}

}  // namespace

void StretchBitmap(TBitmap* Bitmap, int NewWidth, int NewHeight, const TStretchProgress& Progress) {
  if (!Bitmap || Bitmap->Empty()) return;
  if (Bitmap->Image().hasAlphaChannel() && NewWidth > 0 && NewHeight > 0) {
    if (NewWidth != Bitmap->Width() || NewHeight != Bitmap->Height())
      StretchWithAlpha(*Bitmap, NewWidth, NewHeight, Progress);
    return;
  }
  if (Bitmap->PixelFormat() != pf24bit) {
    Bitmap->SetPixelFormat(pf24bit);
    Bitmap->SetPalette({});
  }
  if (NewWidth <= 0 || NewHeight <= 0) {
    Bitmap->SetSize(std::max(0, NewWidth), std::max(0, NewHeight));
    return;
  }
  if (!Progress && NewWidth < Bitmap->Width() && NewHeight < Bitmap->Height() &&
      ShrinkBoth(*Bitmap, NewWidth, NewHeight))
    return;
  TBitmap temp;
  if (NewWidth != Bitmap->Width())
    StretchPass(*Bitmap, temp, NewWidth, Bitmap->Height(),
                Bitmap->Width() < NewWidth ? StretchRows::EnlargeWidth : StretchRows::ShrinkWidth, Progress);
  if (NewHeight != Bitmap->Height())
    StretchPass(*Bitmap, temp, Bitmap->Width(), NewHeight,
                Bitmap->Height() < NewHeight ? StretchRows::EnlargeHeight : StretchRows::ShrinkHeight, Progress);
}
