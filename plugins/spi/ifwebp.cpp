// ifwebp.spi: WebP pictures through libwebp (of an animation, the first frame), decoded
// incrementally straight into the DIB's bottom-up rows: 24-bit BGR, or 32-bit BGRA when
// the picture has alpha. A fitted request is scaled by the library while it decodes. A
// picture with an EXIF orientation is decoded beside the DIB and turned upright into it.
#include "SpiCommon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>

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

struct Demuxed {
    WebPDemuxer *demux = nullptr;
    WebPIterator frame{};
    bool haveFrame = false;
    ~Demuxed()
    {
        if (haveFrame)
            WebPDemuxReleaseIterator(&frame);
        WebPDemuxDelete(demux);
    }
};

// The orientation of the EXIF chunk of an extended file; 1 without one.
int OrientationOf(const uint8_t *data, size_t size)
{
    constexpr uint8_t kExifFlag = 0x08;
    if (size < 21 || std::memcmp(data + 12, "VP8X", 4) != 0 || !(data[20] & kExifFlag))
        return 1;
    WebPData whole{data, size};
    WebPDemuxer *demux = WebPDemux(&whole);
    if (!demux)
        return 1;
    int orientation = 1;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "EXIF", 1, &chunk)) {
        const uint8_t *tiff = chunk.chunk.bytes;
        size_t length = chunk.chunk.size;
        // Some writers keep the JPEG record's own prefix.
        if (length >= 6 && std::memcmp(tiff, "Exif\0\0", 6) == 0) {
            tiff += 6;
            length -= 6;
        }
        orientation = spi::ExifOrientation(tiff, length);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return orientation;
}

// Decodes a still bitstream scaled to w x h into rows at out (top row at the lowest
// address, stride apart), in about a hundred steps so that progress and abort have
// somewhere to happen.
int32_t DecodeInto(const uint8_t *data, size_t size, uint32_t w, uint32_t h, bool scaled, bool alpha, uint8_t *out,
                   size_t stride, spi::Progress *progress)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return SUSIE_INTERNAL_ERROR;
    if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return SUSIE_CORRUPT;
    if (scaled) {
        config.options.use_scaling = 1;
        config.options.scaled_width = static_cast<int>(w);
        config.options.scaled_height = static_cast<int>(h);
    }
    // Flipped output written from the lowest row gives the DIB's bottom-up order.
    config.options.flip = 1;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out;
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size = stride * (h - 1) + static_cast<size_t>(w) * (alpha ? 4 : 3);
    WebPIDecoder *decoder = WebPIDecode(nullptr, 0, &config);
    if (!decoder)
        return SUSIE_NO_MEMORY;
    progress->SetTotal(h);
    int32_t result = SUSIE_CORRUPT;  // also when the data ends before the picture does
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

int32_t Decode(const char *buf, intptr_t len, uint32_t flag, spi::Dib *dib, spi::Progress *progress,
               SusiePictureInfo *info, const spi::Request *request)
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

    WebPBitstreamFeatures f;
    if (WebPGetFeatures(data, size, &f) != VP8_STATUS_OK)
        return SUSIE_CORRUPT;
    if (f.width <= 0 || f.height <= 0 ||
        !spi::AcceptableSize(static_cast<uint32_t>(f.width), static_cast<uint32_t>(f.height)))
        return SUSIE_CORRUPT;
    const uint32_t width = static_cast<uint32_t>(f.width), height = static_cast<uint32_t>(f.height);
    // An animation shows its first frame on a transparent canvas.
    Demuxed demuxed;
    const uint8_t *frameData = data;
    size_t frameSize = size;
    uint32_t frameX = 0, frameY = 0, frameW = width, frameH = height;
    if (f.has_animation) {
        WebPData whole{data, size};
        demuxed.demux = WebPDemux(&whole);
        if (!demuxed.demux)
            return SUSIE_CORRUPT;
        demuxed.haveFrame = WebPDemuxGetFrame(demuxed.demux, 1, &demuxed.frame) != 0;
        const WebPIterator &it = demuxed.frame;
        if (!demuxed.haveFrame || it.width <= 0 || it.height <= 0 || it.x_offset < 0 || it.y_offset < 0 ||
            static_cast<uint64_t>(it.x_offset) + it.width > width ||
            static_cast<uint64_t>(it.y_offset) + it.height > height)
            return SUSIE_CORRUPT;
        frameData = it.fragment.bytes;
        frameSize = it.fragment.size;
        frameX = static_cast<uint32_t>(it.x_offset);
        frameY = static_cast<uint32_t>(it.y_offset);
        frameW = static_cast<uint32_t>(it.width);
        frameH = static_cast<uint32_t>(it.height);
    }
    const bool alpha = f.has_alpha || f.has_animation;
    const int bitCount = alpha ? 32 : 24;
    const int orientation = OrientationOf(data, size);
    const bool turned = spi::Turns(orientation);
    if (info) {
        spi::FillPictureInfo(info, turned ? height : width, turned ? width : height, bitCount);
        return SUSIE_OK;
    }
    // A fitted request is met by the library's own scaler, to an integer share.
    const uint32_t factor = spi::ReduceFactor(width, height, request, turned);
    const uint32_t outW = (width + factor - 1) / factor, outH = (height + factor - 1) / factor;
    // The lossless coder keeps the whole frame as it decodes, whatever the scale; the
    // lossy one keeps an alpha plane.
    WebPBitstreamFeatures ff;
    if (WebPGetFeatures(frameData, frameSize, &ff) != VP8_STATUS_OK)
        return SUSIE_CORRUPT;
    const uint64_t kept = static_cast<uint64_t>(frameW) * frameH * (ff.format == 2 ? 4 : ff.has_alpha ? 1 : 0);
    const uint64_t dibBytes = (static_cast<uint64_t>(outW) * bitCount / 8 + 3) / 4 * 4 * outH;
    if (request && !request->Allows(kept + dibBytes * (orientation == 1 ? 1 : 2)))
        return SUSIE_NO_MEMORY;
    // A turned picture is decoded into a picture of its own first.
    spi::Dib upright;
    spi::Dib *target = orientation == 1 ? dib : &upright;
    if ((result = target->Create(outW, outH, bitCount)) != SUSIE_OK)
        return result;
    // The frame's place on the reduced canvas.
    const uint32_t x0 =
        std::min<uint32_t>(outW - 1, static_cast<uint32_t>(static_cast<uint64_t>(frameX) * outW / width));
    const uint32_t y0 =
        std::min<uint32_t>(outH - 1, static_cast<uint32_t>(static_cast<uint64_t>(frameY) * outH / height));
    const uint32_t w = std::max<uint32_t>(
        1, std::min<uint32_t>(outW - x0, static_cast<uint32_t>(static_cast<uint64_t>(frameW) * outW / width)));
    const uint32_t h = std::max<uint32_t>(
        1, std::min<uint32_t>(outH - y0, static_cast<uint32_t>(static_cast<uint64_t>(frameH) * outH / height)));
    if (f.has_animation)
        for (uint32_t y = 0; y < outH; ++y)
            std::memset(target->Row(y), 0, target->Stride());
    const bool scaled = w != frameW || h != frameH;
    result = DecodeInto(frameData, frameSize, w, h, scaled, alpha,
                        target->Row(y0 + h - 1) + static_cast<size_t>(x0) * (bitCount / 8), target->Stride(), progress);
    if (result != SUSIE_OK || orientation == 1)
        return result;
    spi::Canvas canvas;
    if ((result = canvas.Create(dib, outW, outH, bitCount / 8, 1, orientation, false, request)) != SUSIE_OK)
        return result;
    for (uint32_t y = 0; y < outH; ++y)
        canvas.Put(y, upright.Row(y), outW);
    return SUSIE_OK;
}

}  // namespace

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

}  // extern "C"

SPI_PICTURE_ENTRIES(Decode)
