// ifgif.spi: the first picture of a GIF file through giflib, the size of its logical
// screen. Without transparency it comes back as an 8-bit DIB with a 256-entry colour
// table; with a transparent colour as 32-bit BGRA; reduced for a fitted request as BGR.
// Only the first frame is read, so an animation costs no more than one picture.
#include "SpiCommon.h"

#include <cstdlib>
#include <algorithm>
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
               SusiePictureInfo *info, const spi::Request *request)
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
    // The picture is the logical screen; a frame reaching past it is clipped. A file
    // without a screen size is the size of its frame.
    const bool screen = g->SWidth > 0 && g->SHeight > 0;
    const uint32_t width = static_cast<uint32_t>(screen ? g->SWidth : frame.Width);
    const uint32_t height = static_cast<uint32_t>(screen ? g->SHeight : frame.Height);
    const int64_t left = screen ? frame.Left : 0, top = screen ? frame.Top : 0;
    if (!spi::AcceptableSize(width, height))
        return SUSIE_CORRUPT;
    if (info) {
        spi::FillPictureInfo(info, width, height, 8);
        return SUSIE_OK;
    }
    const ColorMapObject *map = frame.ColorMap ? frame.ColorMap : g->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0 || map->ColorCount > 256)
        return SUSIE_CORRUPT;
    RGBQUAD colors[256] = {};
    for (int i = 0; i < map->ColorCount; ++i)
        colors[i] = RGBQUAD{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 255};
    const bool alpha = transparent >= 0 && transparent < 256;
    if (alpha)
        colors[transparent].rgbReserved = 0;

    // Indexes as they are, unless transparency or a reduction asks for colour.
    const uint32_t factor = spi::ReduceFactor(width, height, request, false);
    const int bpp = alpha ? 4 : factor > 1 ? 3 : 1;
    spi::Canvas canvas;
    if ((result = canvas.Create(dib, width, height, bpp, factor, 1, frame.Interlace, request)) != SUSIE_OK)
        return result;
    if (bpp == 1)
        std::memcpy(dib->Colors(), colors, sizeof colors);
    // Around the frame: transparent, or the background colour.
    const uint8_t background =
        g->SBackGroundColor >= 0 && g->SBackGroundColor < 256 ? static_cast<uint8_t>(g->SBackGroundColor) : 0;
    uint8_t fill[4] = {background, 0, 0, 0};
    if (bpp == 3)
        std::memcpy(fill, &colors[background], 3);
    else if (bpp == 4)
        std::memset(fill, 0, 4);
    std::vector<uint8_t> blank(static_cast<size_t>(width) * bpp), row(blank.size());
    for (size_t x = 0; x < width; ++x)
        std::memcpy(&blank[x * bpp], fill, bpp);
    // The visible columns of the frame.
    const int64_t x0 = left, x1 = std::min<int64_t>(width, left + frame.Width);
    const int64_t y1 = std::min<int64_t>(height, top + frame.Height);
    auto putBlank = [&](uint32_t y) { canvas.Put(y, blank.data(), width); };
    // Rows above and below the frame; in order, unless rows may come in any order.
    if (frame.Interlace)
        for (uint32_t y = 0; y < height; ++y)
            if (y < top || y >= y1)
                putBlank(y);
    uint32_t nextBlank = 0;  // in order: the next row not yet given
    auto blankUpTo = [&](int64_t end) {
        for (; !frame.Interlace && nextBlank < end && nextBlank < height; ++nextBlank)
            putBlank(nextBlank);
    };

    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    progress->SetTotal(static_cast<uint64_t>(frame.Height));
    uint64_t done = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (int r = frame.Interlace ? start[pass] : 0; r < frame.Height; r += frame.Interlace ? step[pass] : 1) {
            if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR)
                return SUSIE_CORRUPT;
            const int64_t y = top + r;
            if (y < y1) {
                blankUpTo(y);
                row = blank;
                for (int64_t x = x0; x < x1; ++x) {
                    const GifPixelType index = line[static_cast<size_t>(x - left)];
                    uint8_t *p = &row[static_cast<size_t>(x) * bpp];
                    if (bpp == 1)
                        *p = index;
                    else if (bpp == 3)
                        std::memcpy(p, &colors[index], 3);
                    else if (index != transparent)
                        std::memcpy(p, &colors[index], 4);
                }
                canvas.Put(static_cast<uint32_t>(y), row.data(), width);
                nextBlank = static_cast<uint32_t>(y + 1);
            }
            if (progress->Step(++done))
                return SUSIE_ABORTED;
        }
    }
    blankUpTo(height);
    canvas.Finish();
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
    return std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0;
}

}  // extern "C"

SPI_PICTURE_ENTRIES(Decode)
