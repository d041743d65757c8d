// ifwebp.spi: still WebP pictures through libwebp, decoded incrementally straight into
// the DIB's bottom-up rows: 24-bit BGR, or 32-bit BGRA when the picture has alpha.
#include "SpiCommon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <webp/decode.h>

namespace {

const char *const Info[] = {
    "00IN", "WebP plug-in for Tolvane (libwebp)", "*.WEBP", "WebP", nullptr,
};

// WebP pictures are at most 16383 pixels a side; a larger file holds something else too.
constexpr size_t MaxFileBytes = size_t(1) << 30;

struct Buffer {
    uint8_t *data = nullptr;
    size_t size = 0;
    ~Buffer() { std::free(data); }
};

int32_t Load(spi::Input &input, Buffer &owned, const uint8_t **data, size_t *size)
{
    if (input.IsMemory()) {
        *data = input.Data();
        *size = input.Size();
        return SUSIE_OK;
    }
    owned.data = input.ReadAll(MaxFileBytes, &owned.size);
    if (!owned.data)
        return SUSIE_FILE_READ_ERROR;
    *data = owned.data;
    *size = owned.size;
    return SUSIE_OK;
}

int32_t Decode(const char *buf, intptr_t len, uint32_t flag, spi::Dib *dib, spi::Progress *progress,
               SusiePictureInfo *info)
{
    spi::Input input;
    int32_t result = input.Open(buf, len, flag);
    if (result != SUSIE_OK)
        return result;
    Buffer owned;
    const uint8_t *data = nullptr;
    size_t size = 0;
    if ((result = Load(input, owned, &data, &size)) != SUSIE_OK)
        return result;

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return SUSIE_INTERNAL_ERROR;
    if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return SUSIE_CORRUPT;
    const WebPBitstreamFeatures &f = config.input;
    if (f.has_animation)
        return SUSIE_UNKNOWN_FORMAT;
    if (f.width <= 0 || f.height <= 0 || !spi::AcceptableSize(static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height)))
        return SUSIE_CORRUPT;
    const int bitCount = f.has_alpha ? 32 : 24;
    if (info) {
        spi::FillPictureInfo(info, static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height), bitCount);
        return SUSIE_OK;
    }
    if ((result = dib->Create(static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height), bitCount)) != SUSIE_OK)
        return result;

    // Flipped output written from the DIB's first (bottom) row gives the DIB's order.
    config.options.flip = 1;
    config.output.colorspace = f.has_alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = dib->Row(dib->Height() - 1);
    config.output.u.RGBA.stride = static_cast<int>(dib->Stride());
    config.output.u.RGBA.size = dib->Stride() * dib->Height();
    WebPIDecoder *decoder = WebPIDecode(nullptr, 0, &config);
    if (!decoder)
        return SUSIE_NO_MEMORY;
    progress->SetTotal(static_cast<uint64_t>(f.height));
    result = SUSIE_CORRUPT;
    // Fed in about a hundred steps, so that progress and abort have somewhere to happen.
    const size_t chunk = std::min<size_t>(std::max<size_t>(size / 100, 4096), 1 << 20);
    for (size_t given = 0; given < size;) {
        given = size - given > chunk ? given + chunk : size;
        VP8StatusCode status = WebPIUpdate(decoder, data, given);
        if (status == VP8_STATUS_OK) {
            result = SUSIE_OK;
            break;
        }
        if (status != VP8_STATUS_SUSPENDED)
            break;
        int lastY = 0;
        WebPIDecGetRGB(decoder, &lastY, nullptr, nullptr, nullptr);
        if (progress->Step(static_cast<uint64_t>(lastY > 0 ? lastY : 0))) {
            result = SUSIE_ABORTED;
            break;
        }
    }
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config.output);
    return result;
}

} // namespace

extern "C" {

int32_t GetPluginInfo(int32_t infono, char *buf, int32_t buflen)
{
    return spi::PluginInfo(Info, infono, buf, buflen);
}

int32_t IsSupported(const char *, const void *head)
{
    if (!head)
        return 0;
    const auto *h = static_cast<const char *>(head);
    return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WEBP", 4) == 0;
}

int32_t GetPictureInfo(const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *lpInfo)
{
    return spi::PictureInfoEntry(Decode, buf, len, flag, lpInfo);
}

int32_t GetPicture(const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                   SusieProgressCallback lpPrgressCallback, intptr_t lData)
{
    return spi::PictureEntry(Decode, buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}

} // extern "C"
