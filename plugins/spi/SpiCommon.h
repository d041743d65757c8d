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

// GetPluginInfo's answer from a table of strings ending with null.
int32_t PluginInfo(const char *const *table, int32_t infono, char *buf, int32_t buflen);

// Fills a picture-info record.
void FillPictureInfo(SusiePictureInfo *info, uint32_t width, uint32_t height, int depth);

// A plug-in's decoder: with dib null it only fills info.
using DecodeFn = int32_t (*)(const char *buf, intptr_t len, uint32_t flag, Dib *dib, Progress *progress,
                             SusiePictureInfo *info);
// Runs a decoder whose library jumps out of it on errors: its state is a
// Context on the heap (input, dib, progress, pictureInfo), whose destructor
// frees what the library holds.
template <class Context>
int32_t DecodeInContext(int32_t (*run)(Context *), const char *buf, intptr_t len, uint32_t flag, Dib *dib,
                        Progress *progress, SusiePictureInfo *info)
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
    return run(ctx.get());
}

// The two picture entries, the same for every format around its decoder.
int32_t PictureInfoEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *info);
int32_t PictureEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                     SusieProgressCallback callback, intptr_t lData);

} // namespace spi
