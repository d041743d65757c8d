// ifgif.spi: the first picture of a GIF file through giflib. Without transparency it
// comes back as an 8-bit DIB with a 256-entry colour table; with a transparent colour
// as 32-bit BGRA. Only the first frame is read, so an animation costs no more than one
// picture.
#include "SpiCommon.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace {

const char *const Info[] = {
    "00IN", "GIF plug-in for Tolvane (giflib)", "*.GIF", "GIF", nullptr,
};

int ReadFn(GifFileType *gif, GifByteType *dest, int n)
{
    auto *input = static_cast<spi::Input *>(gif->UserData);
    return n > 0 ? static_cast<int>(input->Read(dest, static_cast<size_t>(n))) : 0;
}

struct Gif {
    GifFileType *file = nullptr;
    ~Gif()
    {
        if (file)
            DGifCloseFile(file, nullptr);
    }
};

int32_t Decode(const char *buf, intptr_t len, uint32_t flag, spi::Dib *dib, spi::Progress *progress,
               SusiePictureInfo *info)
{
    spi::Input input;
    int32_t result = input.Open(buf, len, flag);
    if (result != SUSIE_OK)
        return result;
    Gif gif;
    int error = 0;
    gif.file = DGifOpen(&input, ReadFn, &error);
    if (!gif.file)
        return error == D_GIF_ERR_NOT_ENOUGH_MEM ? SUSIE_NO_MEMORY : SUSIE_UNKNOWN_FORMAT;
    GifFileType *g = gif.file;
    if (info) {
        if (!spi::AcceptableSize(static_cast<uint32_t>(g->SWidth), static_cast<uint32_t>(g->SHeight)))
            return SUSIE_CORRUPT;
        spi::FillPictureInfo(info, static_cast<uint32_t>(g->SWidth), static_cast<uint32_t>(g->SHeight), 8);
        return SUSIE_OK;
    }

    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(g, &type) == GIF_ERROR)
            return SUSIE_CORRUPT;
        if (type == TERMINATE_RECORD_TYPE)
            return SUSIE_CORRUPT;  // no picture at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType *block = nullptr;
            if (DGifGetExtension(g, &code, &block) == GIF_ERROR)
                return SUSIE_CORRUPT;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK)
                    transparent = gcb.TransparentColor;
            }
            while (block)
                if (DGifGetExtensionNext(g, &block) == GIF_ERROR)
                    return SUSIE_CORRUPT;
            continue;
        }
        if (type == IMAGE_DESC_RECORD_TYPE)
            break;
    }
    if (DGifGetImageDesc(g) == GIF_ERROR)
        return SUSIE_CORRUPT;
    const GifImageDesc &frame = g->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
        return SUSIE_CORRUPT;
    // The picture is the logical screen, grown when the frame reaches past it.
    uint64_t width = static_cast<uint64_t>(g->SWidth > 0 ? g->SWidth : 0);
    uint64_t height = static_cast<uint64_t>(g->SHeight > 0 ? g->SHeight : 0);
    if (width < static_cast<uint64_t>(frame.Left) + frame.Width)
        width = static_cast<uint64_t>(frame.Left) + frame.Width;
    if (height < static_cast<uint64_t>(frame.Top) + frame.Height)
        height = static_cast<uint64_t>(frame.Top) + frame.Height;
    if (!spi::AcceptableSize(width, height))
        return SUSIE_CORRUPT;
    const ColorMapObject *map = frame.ColorMap ? frame.ColorMap : g->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0 || map->ColorCount > 256)
        return SUSIE_CORRUPT;
    RGBQUAD colors[256] = {};
    for (int i = 0; i < map->ColorCount; ++i)
        colors[i] = RGBQUAD{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 255};
    const bool alpha = transparent >= 0 && transparent < 256;
    if (alpha)
        colors[transparent].rgbReserved = 0;

    result = dib->Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), alpha ? 32 : 8);
    if (result != SUSIE_OK)
        return result;
    // Around the frame: transparent, or the background colour.
    RGBQUAD fill = alpha ? RGBQUAD{0, 0, 0, 0} : RGBQUAD{};
    uint8_t background = g->SBackGroundColor < 256 ? static_cast<uint8_t>(g->SBackGroundColor) : 0;
    if (alpha) {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                std::memcpy(dib->Row(y) + x * 4, &fill, 4);
    } else {
        std::memcpy(dib->Colors(), colors, sizeof colors);
        for (uint32_t y = 0; y < height; ++y)
            std::memset(dib->Row(y), background, width);
    }

    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    progress->SetTotal(static_cast<uint64_t>(frame.Height));
    uint64_t done = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (int r = frame.Interlace ? start[pass] : 0; r < frame.Height; r += frame.Interlace ? step[pass] : 1) {
            if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR)
                return SUSIE_CORRUPT;
            uint8_t *row = dib->Row(static_cast<uint32_t>(frame.Top + r)) + static_cast<size_t>(frame.Left) * (alpha ? 4 : 1);
            if (alpha) {
                for (int x = 0; x < frame.Width; ++x)
                    if (line[static_cast<size_t>(x)] != transparent)
                        std::memcpy(row + x * 4, &colors[line[static_cast<size_t>(x)]], 4);
            } else {
                std::memcpy(row, line.data(), line.size());
            }
            if (progress->Step(++done))
                return SUSIE_ABORTED;
        }
    }
    return SUSIE_OK;
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
    return std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0;
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
