#include "SpiCommon.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace spi {

bool AcceptableSize(uint64_t width, uint64_t height)
{
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return false;
    return width * height <= MaxPixels;
}

Input::~Input()
{
    if (file_)
        std::fclose(file_);
}

int32_t Input::Open(const char *buf, intptr_t len, uint32_t flag)
{
    if (!buf || len < 0)
        return SUSIE_FILE_READ_ERROR;
    switch (flag & SUSIE_INPUT_MASK) {
    case SUSIE_INPUT_MEMORY:
        data_ = reinterpret_cast<const uint8_t *>(buf);
        size_ = static_cast<size_t>(len);
        return SUSIE_OK;
    case SUSIE_INPUT_FILE:
        file_ = std::fopen(buf, "rbe");
        if (!file_)
            return SUSIE_FILE_READ_ERROR;
        if (fseeko(file_, static_cast<off_t>(len), SEEK_SET) != 0)
            return SUSIE_FILE_READ_ERROR;
        return SUSIE_OK;
    default:
        return SUSIE_NO_FUNCTION;
    }
}

size_t Input::Read(void *dest, size_t n)
{
    if (file_)
        return std::fread(dest, 1, n, file_);
    size_t left = size_ - pos_;
    if (n > left)
        n = left;
    std::memcpy(dest, data_ + pos_, n);
    pos_ += n;
    return n;
}

uint8_t *Input::ReadAll(size_t limit, size_t *outSize)
{
    *outSize = 0;
    size_t capacity = 1 << 16, used = 0;
    uint8_t *block = static_cast<uint8_t *>(std::malloc(capacity));
    if (!block)
        return nullptr;
    for (;;) {
        if (used == capacity) {
            if (capacity >= limit) {
                std::free(block);
                return nullptr;
            }
            size_t grown = capacity * 2 > limit ? limit : capacity * 2;
            uint8_t *bigger = static_cast<uint8_t *>(std::realloc(block, grown));
            if (!bigger) {
                std::free(block);
                return nullptr;
            }
            block = bigger;
            capacity = grown;
        }
        size_t got = Read(block + used, capacity - used);
        if (got == 0)
            break;
        used += got;
    }
    if (file_ && std::ferror(file_)) {
        std::free(block);
        return nullptr;
    }
    *outSize = used;
    return block;
}

Dib::~Dib()
{
    std::free(info_);
    std::free(bits_);
}

int32_t Dib::Create(uint32_t width, uint32_t height, int bitCount)
{
    if (!AcceptableSize(width, height))
        return SUSIE_CORRUPT;
    if (bitCount != 8 && bitCount != 24 && bitCount != 32)
        return SUSIE_INTERNAL_ERROR;
    // Rows are padded to 4 bytes; width and height are bounded, so no product overflows.
    size_t stride = ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
    size_t image = stride * height;
    if (image > UINT32_MAX)
        return SUSIE_CORRUPT;
    uint32_t colors = bitCount == 8 ? 256 : 0;
    size_t infoSize = sizeof(BITMAPINFOHEADER) + colors * sizeof(RGBQUAD);
    info_ =
        static_cast<BITMAPINFOHEADER *>(std::calloc(1, infoSize < sizeof(BITMAPINFO) ? sizeof(BITMAPINFO) : infoSize));
    bits_ = static_cast<uint8_t *>(std::malloc(image));
    if (!info_ || !bits_)
        return SUSIE_NO_MEMORY;
    info_->biSize = sizeof(BITMAPINFOHEADER);
    info_->biWidth = static_cast<int32_t>(width);
    info_->biHeight = static_cast<int32_t>(height);
    info_->biPlanes = 1;
    info_->biBitCount = static_cast<uint16_t>(bitCount);
    info_->biCompression = BI_RGB;
    info_->biSizeImage = static_cast<uint32_t>(image);
    info_->biClrUsed = colors;
    colors_ = colors ? reinterpret_cast<RGBQUAD *>(info_ + 1) : nullptr;
    width_ = width;
    height_ = height;
    stride_ = stride;
    // The padding bytes at the end of each row are part of the data the host copies.
    if (stride * 8 != static_cast<size_t>(width) * bitCount)
        for (uint32_t y = 0; y < height; ++y)
            std::memset(bits_ + y * stride + stride - 4, 0, 4);
    return SUSIE_OK;
}

void Dib::SetDensity(int32_t xPelsPerMeter, int32_t yPelsPerMeter)
{
    info_->biXPelsPerMeter = xPelsPerMeter;
    info_->biYPelsPerMeter = yPelsPerMeter;
}

void Dib::Release(void **pHBInfo, void **pHBm)
{
    *pHBInfo = info_;
    *pHBm = bits_;
    info_ = nullptr;
    bits_ = nullptr;
    colors_ = nullptr;
}

void Progress::SetTotal(uint64_t total)
{
    total_ = total ? total : 1;
    stride_ = total_ / 100 ? total_ / 100 : 1;
    next_ = 0;
}

bool Progress::Report(uint64_t done)
{
    if (aborted_)
        return true;
    next_ = done + stride_;
    if (!callback_)
        return false;
    // The callback takes 32-bit figures: scale large totals down.
    uint64_t num = done > total_ ? total_ : done, den = total_;
    while (den > INT32_MAX) {
        num >>= 1;
        den >>= 1;
    }
    if (callback_(static_cast<int32_t>(num), static_cast<int32_t>(den), data_) != 0)
        aborted_ = true;
    return aborted_;
}

int32_t PluginInfo(const char *const *table, int32_t infono, char *buf, int32_t buflen)
{
    if (infono < 0 || !buf || buflen <= 0)
        return 0;
    for (int32_t i = 0; i < infono; ++i)
        if (!table[i])
            return 0;
    const char *text = table[infono];
    if (!text)
        return 0;
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(buflen) - 1)
        n = static_cast<size_t>(buflen) - 1;
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return static_cast<int32_t>(n);
}

void FillPictureInfo(SusiePictureInfo *info, uint32_t width, uint32_t height, int depth)
{
    std::memset(info, 0, sizeof(*info));
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->colorDepth = static_cast<int16_t>(depth);
    info->hInfo = nullptr;
}

int32_t PictureInfoEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *info)
{
    if (!info)
        return SUSIE_INTERNAL_ERROR;
    try {
        return decode(buf, len, flag, nullptr, nullptr, info, nullptr);
    } catch (...) {  // no exception may cross into the host's C code
        return SUSIE_NO_MEMORY;
    }
}

int32_t PictureEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                     SusieProgressCallback callback, intptr_t lData, const Request *request)
{
    if (!pHBInfo || !pHBm)
        return SUSIE_INTERNAL_ERROR;
    *pHBInfo = nullptr;
    *pHBm = nullptr;
    Dib dib;
    Progress progress(callback, lData);
    if (progress.Report(0))
        return SUSIE_ABORTED;
    int32_t result;
    try {
        result = decode(buf, len, flag, &dib, &progress, nullptr, request);
    } catch (...) {
        return SUSIE_NO_MEMORY;
    }
    if (result != SUSIE_OK)
        return result;
    if (progress.Report(UINT64_MAX))
        return SUSIE_ABORTED;
    dib.Release(pHBInfo, pHBm);
    return SUSIE_OK;
}

uint32_t ReduceFactor(uint64_t w, uint64_t h, const Request *request, bool turned)
{
    if (!request || !request->Fitting() || w == 0 || h == 0)
        return 1;
    uint64_t boxW = turned ? request->maxHeight : request->maxWidth;
    uint64_t boxH = turned ? request->maxWidth : request->maxHeight;
    if (w <= boxW && h <= boxH)
        return 1;
    // The fit, rounded up: the reduced picture must cover it whichever way the caller rounds.
    uint64_t fitW, fitH;
    if (w * boxH >= h * boxW) {
        fitW = boxW;
        fitH = (h * boxW + w - 1) / w;
    } else {
        fitH = boxH;
        fitW = (w * boxH + h - 1) / h;
    }
    fitW = fitW ? fitW : 1;
    fitH = fitH ? fitH : 1;
    uint64_t factor = w / fitW < h / fitH ? w / fitW : h / fitH;
    return static_cast<uint32_t>(factor < 1 ? 1 : factor > 256 ? 256 : factor);
}

int ExifOrientation(const uint8_t *tiff, size_t size)
{
    if (!tiff || size < 8)
        return 1;
    bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    auto u16 = [&](size_t at) -> uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42)
        return 1;
    size_t ifd = u32(4);
    if (ifd > size - 2)
        return 1;
    uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = ifd + 2 + static_cast<size_t>(i) * 12;
        if (entry + 12 > size)
            break;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
            uint32_t value = u16(entry + 8);
            return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
        }
    }
    return 1;
}

int32_t Canvas::Create(Dib *dib, uint32_t width, uint32_t height, int bpp, uint32_t factor, int orientation,
                       bool anyOrder, const Request *request)
{
    if (!AcceptableSize(width, height))
        return SUSIE_CORRUPT;
    if ((bpp != 1 && bpp != 3 && bpp != 4) || factor == 0 || (bpp == 1 && factor > 1))
        return SUSIE_INTERNAL_ERROR;
    dib_ = dib;
    width_ = width;
    height_ = height;
    bpp_ = bpp;
    factor_ = factor;
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    anyOrder_ = anyOrder && factor > 1;
    outWidth_ = (width + factor - 1) / factor;
    outHeight_ = (height + factor - 1) / factor;
    uint64_t stride = (static_cast<uint64_t>(outWidth_) * bpp * 8 + 31) / 32 * 4;
    uint64_t bytes = stride * outHeight_;
    if (factor > 1)
        bytes += static_cast<uint64_t>(outWidth_) * (anyOrder_ ? outHeight_ : 1) * 16;
    if (request && !request->Allows(bytes))
        return SUSIE_NO_MEMORY;
    bool turned = Turns(orientation_);
    int32_t result = dib->Create(turned ? outHeight_ : outWidth_, turned ? outWidth_ : outHeight_, bpp * 8);
    if (result != SUSIE_OK)
        return result;
    if (factor > 1)
        sums_.assign(static_cast<size_t>(outWidth_) * (anyOrder_ ? outHeight_ : 1) * 4, 0);
    if (!Direct())
        row_.resize(static_cast<size_t>(outWidth_) * bpp);
    return SUSIE_OK;
}

void Canvas::Emit(uint32_t oy, const uint8_t *row)
{
    if (orientation_ == 1) {
        std::memcpy(dib_->Row(oy), row, static_cast<size_t>(outWidth_) * bpp_);
        return;
    }
    const uint32_t w = outWidth_, h = outHeight_;
    for (uint32_t x = 0; x < w; ++x) {
        uint32_t X, Y;
        switch (orientation_) {
        case 2:
            X = w - 1 - x, Y = oy;
            break;
        case 3:
            X = w - 1 - x, Y = h - 1 - oy;
            break;
        case 4:
            X = x, Y = h - 1 - oy;
            break;
        case 5:
            X = oy, Y = x;
            break;
        case 6:
            X = h - 1 - oy, Y = x;
            break;
        case 7:
            X = h - 1 - oy, Y = w - 1 - x;
            break;
        case 8:
            X = oy, Y = w - 1 - x;
            break;
        default:
            X = x, Y = oy;
            break;
        }
        std::memcpy(dib_->Row(Y) + static_cast<size_t>(X) * bpp_, row + static_cast<size_t>(x) * bpp_, bpp_);
    }
}

void Canvas::Put(uint32_t y, const uint8_t *pixels, uint32_t n, uint32_t x0, uint32_t xstep)
{
    if (y >= height_)
        return;
    if (factor_ == 1) {
        uint8_t *out = Direct() ? dib_->Row(y) : row_.data();
        for (uint32_t i = 0, x = x0; i < n && x < width_; ++i, x += xstep)
            std::memcpy(out + static_cast<size_t>(x) * bpp_, pixels + static_cast<size_t>(i) * bpp_, bpp_);
        if (!Direct())
            Emit(y, row_.data());
        return;
    }
    const uint32_t oy = y / factor_;
    uint32_t *band = sums_.data() + (anyOrder_ ? static_cast<size_t>(oy) * outWidth_ * 4 : 0);
    for (uint32_t i = 0, x = x0; i < n && x < width_; ++i, x += xstep) {
        const uint8_t *p = pixels + static_cast<size_t>(i) * bpp_;
        uint32_t *s = band + static_cast<size_t>(x / factor_) * 4;
        if (bpp_ == 4) {
            s[0] += p[0] * p[3];
            s[1] += p[1] * p[3];
            s[2] += p[2] * p[3];
            s[3] += p[3];
        } else {
            s[0] += p[0];
            s[1] += p[1];
            s[2] += p[2];
        }
    }
    if (!anyOrder_ && (y % factor_ == factor_ - 1 || y == height_ - 1))
        Flush(oy);
}

void Canvas::Flush(uint32_t oy)
{
    uint32_t *band = sums_.data() + (anyOrder_ ? static_cast<size_t>(oy) * outWidth_ * 4 : 0);
    const uint32_t rows = height_ - oy * factor_ < factor_ ? height_ - oy * factor_ : factor_;
    for (uint32_t ox = 0; ox < outWidth_; ++ox) {
        uint32_t *s = band + static_cast<size_t>(ox) * 4;
        const uint32_t cols = width_ - ox * factor_ < factor_ ? width_ - ox * factor_ : factor_;
        const uint32_t count = cols * rows;
        uint8_t *out = row_.data() + static_cast<size_t>(ox) * bpp_;
        if (bpp_ == 4) {
            // Colour weighed by alpha; a block with no alpha at all is transparent black.
            const uint32_t a = s[3];
            for (int c = 0; c < 3; ++c)
                out[c] = a ? static_cast<uint8_t>((s[c] + a / 2) / a) : 0;
            out[3] = static_cast<uint8_t>((a + count / 2) / count);
        } else {
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint8_t>((s[c] + count / 2) / count);
        }
        s[0] = s[1] = s[2] = s[3] = 0;
    }
    Emit(oy, row_.data());
}

void Canvas::Finish()
{
    if (anyOrder_)
        for (uint32_t oy = 0; oy < outHeight_; ++oy)
            Flush(oy);
}

}  // namespace spi
