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
    info_ = static_cast<BITMAPINFOHEADER *>(std::calloc(1, infoSize < sizeof(BITMAPINFO) ? sizeof(BITMAPINFO) : infoSize));
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
        return decode(buf, len, flag, nullptr, nullptr, info);
    } catch (...) {  // no exception may cross into the host's C code
        return SUSIE_NO_MEMORY;
    }
}

int32_t PictureEntry(DecodeFn decode, const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                     SusieProgressCallback callback, intptr_t lData)
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
        result = decode(buf, len, flag, &dib, &progress, nullptr);
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

} // namespace spi
