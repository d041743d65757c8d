// Helpers shared by the picture plug-ins: input from a file or memory, the DIB they hand
// back, progress with abort, and the answers of GetPluginInfo. Everything here treats the
// input as hostile: sizes are checked before anything is allocated.
#pragma once

#define SUSIE_PLUGIN_IMPLEMENTATION
#include "image/SusiePluginApi.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace spi {

// The plug-ins refuse pictures with more pixels than this. The fuzzers build the
// plug-ins with a smaller figure so that they spend their time on the parsers.
#ifndef SPI_MAX_PIXELS
#define SPI_MAX_PIXELS SUSIE_MAX_PIXELS
#endif
constexpr uint64_t MaxPixels = SPI_MAX_PIXELS;

// True when a picture of these dimensions may be decoded.
bool AcceptableSize(uint64_t width, uint64_t height);

// The picture's bytes, from a file (buf = path, len = offset) or from memory
// (buf = data, len = length). A file is read through stdio, never mapped, so a file that
// shrinks under us ends in a read error, not a signal.
class Input {
public:
    Input() = default;
    ~Input();
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    // SUSIE_OK, or the error to answer.
    int32_t Open(const char *buf, intptr_t len, uint32_t flag);
    bool IsMemory() const { return file_ == nullptr; }
    FILE *File() const { return file_; }
    const uint8_t *Data() const { return data_; }
    size_t Size() const { return size_; }
    // Reads up to n bytes from the current position; returns the bytes read.
    size_t Read(void *dest, size_t n);
    // Reads the whole rest of the input into malloc'ed memory, at most limit bytes
    // (for decoders that want one block). Returns null on failure.
    uint8_t *ReadAll(size_t limit, size_t *outSize);

private:
    FILE *file_ = nullptr;
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
};

// A DIB being filled: the BITMAPINFO and the pixel rows, both malloc'ed, handed over
// to the caller by Release().
class Dib {
public:
    Dib() = default;
    ~Dib();
    Dib(const Dib &) = delete;
    Dib &operator=(const Dib &) = delete;

    // bitCount 8 (with a 256-entry colour table), 24 or 32. Returns SUSIE_OK,
    // SUSIE_CORRUPT for sizes out of range or SUSIE_NO_MEMORY.
    int32_t Create(uint32_t width, uint32_t height, int bitCount);
    RGBQUAD *Colors() { return colors_; }
    // Row y counted from the top of the picture (DIB rows are stored bottom-up).
    uint8_t *Row(uint32_t y) { return bits_ + (size_t)(height_ - 1 - y) * stride_; }
    size_t Stride() const { return stride_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    void SetDensity(int32_t xPelsPerMeter, int32_t yPelsPerMeter);
    void Release(void **pHBInfo, void **pHBm);

private:
    BITMAPINFOHEADER *info_ = nullptr;
    RGBQUAD *colors_ = nullptr;
    uint8_t *bits_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    size_t stride_ = 0;
};

// Progress towards total steps, passed to the host's callback about 100 times in all.
class Progress {
public:
    Progress(SusieProgressCallback callback, intptr_t data) : callback_(callback), data_(data) {}
    void SetTotal(uint64_t total);
    // Reports step done of the total when it is time; true when the host asks to stop.
    bool Step(uint64_t done)
    {
        if (done < next_)
            return false;
        return Report(done);
    }
    bool Report(uint64_t done);
    bool Aborted() const { return aborted_; }
    uint64_t Total() const { return total_; }

private:
    SusieProgressCallback callback_;
    intptr_t data_;
    uint64_t total_ = 1;
    uint64_t next_ = 0;
    uint64_t stride_ = 1;
    bool aborted_ = false;
};

// What the caller asked for: the whole picture, or one that covers its fit into a box
// (GetPictureFit), within a memory limit.
struct Request {
    uint32_t maxWidth = 0, maxHeight = 0;  // 0: the whole picture
    uint64_t memoryLimit = 0;              // 0: none
    bool Fitting() const { return maxWidth > 0 && maxHeight > 0; }
    bool Allows(uint64_t bytes) const { return memoryLimit == 0 || bytes <= memoryLimit; }
};

// The integer factor by which a w x h picture may be reduced so that it still covers its
// fit into the request's box (the box turned when the picture is). 1 when no request
// fits; at most 256, so that sums of 8-bit values weighed by alpha stay in 32 bits.
uint32_t ReduceFactor(uint64_t w, uint64_t h, const Request *request, bool turned);

// EXIF orientation (1..8) from a TIFF block (the body of an EXIF record); 1 when absent.
int ExifOrientation(const uint8_t *tiff, size_t size);
inline bool Turns(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Writes a picture into a DIB row by row, reduced by an integer factor (an average over
// factor x factor blocks, weighed by alpha so that transparent pixels lend no colour)
// and turned upright by an EXIF orientation. Source pixels have bpp bytes: 1 (indexes,
// never reduced), 3 (BGR) or 4 (BGRA, straight alpha).
class Canvas {
public:
    // Rows arrive top-down unless anyOrder (interlaced pictures), which keeps sums for
    // the whole reduced picture. SUSIE_NO_MEMORY when the DIB and sums exceed the
    // request's limit.
    int32_t Create(Dib *dib, uint32_t width, uint32_t height, int bpp, uint32_t factor, int orientation, bool anyOrder,
                   const Request *request);
    // Rows go straight into the DIB: neither reduced nor turned.
    bool Direct() const { return factor_ == 1 && orientation_ == 1; }
    uint8_t *Row(uint32_t y) { return dib_->Row(y); }
    // n pixels of source row y, the first at column x0, then every xstep columns.
    void Put(uint32_t y, const uint8_t *pixels, uint32_t n, uint32_t x0 = 0, uint32_t xstep = 1);
    // Writes what anyOrder kept.
    void Finish();
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }

private:
    void Flush(uint32_t oy);
    void Emit(uint32_t oy, const uint8_t *row);

    Dib *dib_ = nullptr;
    uint32_t width_ = 0, height_ = 0, outWidth_ = 0, outHeight_ = 0, factor_ = 1;
    int bpp_ = 3, orientation_ = 1;
    bool anyOrder_ = false;
    std::vector<uint32_t> sums_;  // four per reduced pixel: blue, green, red (times alpha), alpha
    std::vector<uint8_t> row_;
};

// GetPluginInfo's answer from a table of strings ending with null.
int32_t PluginInfo(const char *const *table, int32_t infono, char *buf, int32_t buflen);

// Fills a picture-info record.
void FillPictureInfo(SusiePictureInfo *info, uint32_t width, uint32_t height, int depth);

// A plug-in's decoder: with dib null it only fills info.
using DecodeFn = int32_t (*)(const char *buf, intptr_t len, uint32_t flag, Dib *dib, Progress *progress,
                             SusiePictureInfo *info, const Request *request);
// Runs a decoder whose library jumps out of it on errors: its state is a
// Context on the heap (input, dib, progress, pictureInfo), whose destructor
// frees what the library holds.
template <class Context>
int32_t DecodeInContext(int32_t (*run)(Context *), const char *buf, intptr_t len, uint32_t flag, Dib *dib,
                        Progress *progress, SusiePictureInfo *info, const Request *request)
{
    Input input;
    int32_t result = input.Open(buf, len, flag);
    if (result != SUSIE_OK)
        return result;
    std::unique_ptr<Context> ctx(new (std::nothrow) Context);
    if (!ctx)
        return SUSIE_NO_MEMORY;
    ctx->input = &input;
    ctx->dib = dib;
    ctx->progress = progress;
    ctx->pictureInfo = info;
    ctx->request = request;
    return run(ctx.get());
}

// The two picture entries, the same for every format around its decoder.
int32_t PictureInfoEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *info);
int32_t PictureEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                     SusieProgressCallback callback, intptr_t lData, const Request *request = nullptr);

// The standard entry points and ours, the same in every plug-in around its decoder.
#define SPI_PICTURE_ENTRIES(decode)                                                                                    \
    extern "C" int32_t GetPictureInfo(const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *lpInfo)          \
    {                                                                                                                  \
        return spi::PictureInfoEntry(decode, buf, len, flag, lpInfo);                                                  \
    }                                                                                                                  \
    extern "C" int32_t GetPicture(const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,           \
                                  SusieProgressCallback callback, intptr_t lData)                                      \
    {                                                                                                                  \
        return spi::PictureEntry(decode, buf, len, flag, pHBInfo, pHBm, callback, lData);                              \
    }                                                                                                                  \
    extern "C" int32_t GetPictureFit(const char *buf, intptr_t len, uint32_t flag, int32_t maxWidth,                   \
                                     int32_t maxHeight, uint64_t memoryLimit, void **pHBInfo, void **pHBm,             \
                                     SusieProgressCallback callback, intptr_t lData)                                   \
    {                                                                                                                  \
        spi::Request request;                                                                                          \
        request.maxWidth = maxWidth > 0 ? static_cast<uint32_t>(maxWidth) : 0;                                         \
        request.maxHeight = maxHeight > 0 ? static_cast<uint32_t>(maxHeight) : 0;                                      \
        request.memoryLimit = memoryLimit;                                                                             \
        return spi::PictureEntry(decode, buf, len, flag, pHBInfo, pHBm, callback, lData, &request);                    \
    }

}  // namespace spi
