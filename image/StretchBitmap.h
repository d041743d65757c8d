#pragma once
// Smooth resampling of a bitmap in place: a 4-point cubic (Lagrange) interpolation
// where the picture grows, an exact area average where it shrinks. Width and height
// are resampled in two passes, the width first. Pixel arithmetic is 16.16 fixed
// point; positions and weights are computed in extended precision (long double), so
// the results are the same bytes on every machine.
#include <cstddef>
#include <cstdint>
#include <functional>

class TBitmap;

// Receives a percentage: the width pass reports 0..50, the height pass 50..100.
using TStretchProgress = std::function<void(int)>;

// Resamples Bitmap (converted to 24 bits per pixel first) to NewWidth x NewHeight.
// A null or empty bitmap is left alone; a new extent of 0 or less empties it.
void StretchBitmap(TBitmap* Bitmap, int NewWidth, int NewHeight, const TStretchProgress& Progress = {});

// The four passes. Target already has the wanted extent in the routine's direction and
// the source's in the other; both are 24 bits per pixel. Each writes every pixel of
// Target, or nothing when it cannot allocate its tables.
void EnlargeWidth(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress = {});
void ShrinkWidth(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress = {});
void EnlargeHeight(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress = {});
void ShrinkHeight(const TBitmap& Source, TBitmap& Target, const TStretchProgress& Progress = {});

// The same passes on raw 24-bit rows (blue, green, red), for pixels that live outside
// a TBitmap. They return false, having written nothing, when the tables cannot be
// allocated.
struct TStretchRows {
  uint8_t* Bits = nullptr;  // the top row
  ptrdiff_t Stride = 0;     // bytes from one row to the next
  int Width = 0;
  int Height = 0;
  uint8_t* Row(int y) const { return Bits + y * Stride; }
};

namespace StretchRows {
bool EnlargeWidth(const TStretchRows& Source, const TStretchRows& Target, const TStretchProgress& Progress);
bool ShrinkWidth(const TStretchRows& Source, const TStretchRows& Target, const TStretchProgress& Progress);
bool EnlargeHeight(const TStretchRows& Source, const TStretchRows& Target, const TStretchProgress& Progress);
bool ShrinkHeight(const TStretchRows& Source, const TStretchRows& Target, const TStretchProgress& Progress);
}  // namespace StretchRows
