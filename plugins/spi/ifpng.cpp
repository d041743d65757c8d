// ifpng.spi: PNG pictures through libpng. Palette and grey pictures come back as 8-bit
// DIBs with a 256-entry colour table, colour as 24-bit BGR, anything with transparency
// as 32-bit BGRA with straight alpha; 16-bit samples are rounded to 8 bits. An EXIF
// orientation turns the picture upright. A fitted
// request averages blocks of rows as they stream in, so memory stays near that size.
#include "SpiCommon.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <png.h>

namespace {

const char *const Info[] = {
    "00IN", "PNG plug-in for Tolvane (libpng)", "*.PNG", "PNG", nullptr,
};

struct Context {
    jmp_buf jump;
    int32_t error = SUSIE_CORRUPT;
    png_structp png = nullptr;
    png_infop info = nullptr;
    spi::Input *input = nullptr;
    spi::Dib *dib = nullptr;  // null: header only
    spi::Progress *progress = nullptr;
    SusiePictureInfo *pictureInfo = nullptr;
    const spi::Request *request = nullptr;
    spi::Canvas canvas;
    std::vector<uint8_t> row;

    ~Context()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

[[noreturn]] void Fail(Context *ctx, int32_t error)
{
    ctx->error = error;
    longjmp(ctx->jump, 1);
}

void ErrorFn(png_structp png, png_const_charp)
{
    Fail(static_cast<Context *>(png_get_error_ptr(png)), SUSIE_CORRUPT);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, size_t length)
{
    auto *ctx = static_cast<Context *>(png_get_io_ptr(png));
    if (ctx->input->Read(data, length) != length)
        Fail(ctx, ctx->input->IsMemory() ? SUSIE_CORRUPT : SUSIE_FILE_READ_ERROR);
}

enum class Output { Indexed, Grey, Bgr, Bgra };

int32_t Run(Context *ctx)
{
    if (setjmp(ctx->jump))
        return ctx->error;
    ctx->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, ctx, ErrorFn, WarningFn);
    if (!ctx->png)
        return SUSIE_NO_MEMORY;
    ctx->info = png_create_info_struct(ctx->png);
    if (!ctx->info)
        return SUSIE_NO_MEMORY;
    png_structp png = ctx->png;
    png_infop info = ctx->info;
    png_set_read_fn(png, ctx, ReadFn);
    // Ancillary chunks of a hostile file may not make us allocate much or often.
    png_set_chunk_cache_max(png, 128);
    png_set_chunk_malloc_max(png, 4 << 20);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    // This libpng does not hold text chunks to that size: a few bytes claiming
    // a 2 GB comment made it allocate 2 GB. Only transparency, density and the
    // EXIF record (held to the chunk limit above) are read; every other
    // ancillary chunk is skipped unread.
    static const png_byte kUsedChunks[] = "tRNS\0pHYs\0eXIf\0";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedChunks, 3);

    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    if (!spi::AcceptableSize(width, height))
        return SUSIE_CORRUPT;
    // A camera's EXIF record before the pixels says which way is up.
    int orientation = 1;
    png_uint_32 exifSize = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif)
        orientation = spi::ExifOrientation(exif, exifSize);
    const bool turned = spi::Turns(orientation);
    bool transparent = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    Output output = transparent                           ? Output::Bgra
                    : colorType == PNG_COLOR_TYPE_PALETTE ? Output::Indexed
                    : colorType == PNG_COLOR_TYPE_GRAY    ? Output::Grey
                                                          : Output::Bgr;
    int bitCount = output == Output::Bgra ? 32 : output == Output::Bgr ? 24 : 8;
    if (ctx->pictureInfo) {
        spi::FillPictureInfo(ctx->pictureInfo, turned ? height : width, turned ? width : height, bitCount);
        png_uint_32 xRes = 0, yRes = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &xRes, &yRes, &unit) && unit == PNG_RESOLUTION_METER) {
            ctx->pictureInfo->x_density = static_cast<uint16_t>(xRes * 254 / 10000 > 65535 ? 0 : xRes * 254 / 10000);
            ctx->pictureInfo->y_density = static_cast<uint16_t>(yRes * 254 / 10000 > 65535 ? 0 : yRes * 254 / 10000);
        }
    }
    if (!ctx->dib)
        return SUSIE_OK;

    // Reduced pictures are averaged in colour, and turned interlaced ones gathered in
    // colour, so palette and grey come as BGR(A).
    const uint32_t factor = spi::ReduceFactor(width, height, ctx->request, turned);
    const bool passesApart = interlace != PNG_INTERLACE_NONE && (factor > 1 || orientation != 1);
    if ((factor > 1 || passesApart) && (output == Output::Indexed || output == Output::Grey)) {
        output = Output::Bgr;
        bitCount = 24;
        png_set_expand(png);
        png_set_gray_to_rgb(png);
    }
    if (bitDepth == 16)
        png_set_scale_16(png);
    switch (output) {
    case Output::Indexed:
        png_set_packing(png);
        break;
    case Output::Grey:
        png_set_expand_gray_1_2_4_to_8(png);
        break;
    case Output::Bgr:
        png_set_bgr(png);
        break;
    case Output::Bgra:
        png_set_expand(png);
        png_set_tRNS_to_alpha(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        break;
    }
    // Reduced or turned interlaced pictures take each pass's pixels where they belong;
    // the others let the library put the passes together in the DIB's rows.
    int passes = passesApart ? 1 : png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int bpp = bitCount / 8;
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * bpp)
        return SUSIE_INTERNAL_ERROR;

    spi::Dib *dib = ctx->dib;
    spi::Canvas &canvas = ctx->canvas;
    int32_t result = canvas.Create(dib, width, height, bpp, factor, orientation, passesApart, ctx->request);
    if (result != SUSIE_OK)
        return result;
    if (factor == 1) {
        png_uint_32 xRes = 0, yRes = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &xRes, &yRes, &unit) && unit == PNG_RESOLUTION_METER && xRes <= INT32_MAX &&
            yRes <= INT32_MAX)
            dib->SetDensity(static_cast<int32_t>(xRes), static_cast<int32_t>(yRes));
    }
    if (output == Output::Grey) {
        for (int i = 0; i < 256; ++i)
            dib->Colors()[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    } else if (output == Output::Indexed) {
        // Indices past the palette's end show black instead of reading past the table.
        std::memset(dib->Colors(), 0, 256 * sizeof(RGBQUAD));
        png_colorp palette = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &palette, &count))
            return SUSIE_CORRUPT;
        for (int i = 0; i < count && i < 256; ++i)
            dib->Colors()[i] = RGBQUAD{palette[i].blue, palette[i].green, palette[i].red, 0};
    }

    spi::Progress *progress = ctx->progress;
    if (passesApart) {
        progress->SetTotal(height);
        ctx->row.resize(static_cast<size_t>(width) * bpp);
        uint64_t done = 0;
        for (int pass = 0; pass < 7; ++pass) {
            const png_uint_32 cols = PNG_PASS_COLS(width, pass), rows = PNG_PASS_ROWS(height, pass);
            if (cols == 0 || rows == 0)
                continue;
            for (png_uint_32 r = 0; r < rows; ++r) {
                png_read_row(png, ctx->row.data(), nullptr);
                canvas.Put(PNG_PASS_START_ROW(pass) + (r << PNG_PASS_ROW_SHIFT(pass)), ctx->row.data(), cols,
                           PNG_PASS_START_COL(pass), 1u << PNG_PASS_COL_SHIFT(pass));
                // Rows weigh by their share of the pixels.
                done += static_cast<uint64_t>(cols) * height / width;
                if (progress->Step(done))
                    return SUSIE_ABORTED;
            }
        }
        canvas.Finish();
        return SUSIE_OK;
    }
    progress->SetTotal(static_cast<uint64_t>(passes) * height);
    if (!canvas.Direct())
        ctx->row.resize(static_cast<size_t>(width) * bpp);
    uint64_t done = 0;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            if (canvas.Direct()) {
                png_read_row(png, canvas.Row(y), nullptr);
            } else {
                png_read_row(png, ctx->row.data(), nullptr);
                canvas.Put(y, ctx->row.data(), width);
            }
            if (progress->Step(++done))
                return SUSIE_ABORTED;
        }
    // What follows the last row (text chunks, the end chunk) is not needed.
    return SUSIE_OK;
}

int32_t Decode(const char *buf, intptr_t len, uint32_t flag, spi::Dib *dib, spi::Progress *progress,
               SusiePictureInfo *info, const spi::Request *request)
{
    return spi::DecodeInContext(Run, buf, len, flag, dib, progress, info, request);
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
    return png_sig_cmp(static_cast<png_const_bytep>(head), 0, 8) == 0;
}

}  // extern "C"

SPI_PICTURE_ENTRIES(Decode)
