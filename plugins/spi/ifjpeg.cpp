// ifjpeg.spi: JPEG pictures through libjpeg-turbo (baseline, progressive, grey, CMYK),
// turned upright by their EXIF orientation. Colour pictures are decoded straight into
// the DIB's bottom-up BGR rows; a fitted request is met by the library's DCT scaling
// (1/2, 1/4, 1/8), then by averaging blocks of rows as they come.
#include "SpiCommon.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace {

const char *const Info[] = {
    "00IN", "JPEG plug-in for Tolvane (libjpeg-turbo)", "*.JPE;*.JFIF;*.JPEG;*.JPG", "JPEG", nullptr,
};

// A hostile progressive file can hold thousands of tiny scans, each a full pass.
constexpr int MaxScans = 1000;

struct Context {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errorMgr;
    jpeg_progress_mgr progressMgr;
    jmp_buf jump;
    int32_t error = SUSIE_CORRUPT;
    bool created = false;
    bool rowsDone = false;
    spi::Input *input = nullptr;
    spi::Dib *dib = nullptr;  // null: header only
    spi::Progress *progress = nullptr;
    SusiePictureInfo *pictureInfo = nullptr;
    const spi::Request *request = nullptr;
    spi::Canvas canvas;
    uint8_t *rowBuffer = nullptr;
    uint8_t *cmykRow = nullptr;

    ~Context()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
        std::free(rowBuffer);
        std::free(cmykRow);
    }
};

// The orientation of the first EXIF record.
int OrientationOf(j_decompress_ptr cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return spi::ExifOrientation(m->data + 6, m->data_length - 6);
    return 1;
}

Context *ContextOf(j_common_ptr cinfo)
{
    return static_cast<Context *>(cinfo->client_data);
}

[[noreturn]] void Fail(Context *ctx, int32_t error)
{
    ctx->error = error;
    longjmp(ctx->jump, 1);
}

void ErrorExit(j_common_ptr cinfo)
{
    Context *ctx = ContextOf(cinfo);
    // Without backing store, a progressive picture whose coefficients pass the memory
    // limit ends here, before they are allocated.
    const int code = cinfo->err->msg_code;
    Fail(ctx, code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? SUSIE_NO_MEMORY : SUSIE_CORRUPT);
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    // A file whose data ends (or meets a marker) before its last row is refused rather
    // than padded with grey; a missing end marker after the last row is harmless.
    const int code = cinfo->err->msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) && !ContextOf(cinfo)->rowsDone)
        Fail(ContextOf(cinfo), SUSIE_CORRUPT);
}

void OutputMessage(j_common_ptr) {}

void Monitor(j_common_ptr cinfo)
{
    Context *ctx = ContextOf(cinfo);
    auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > MaxScans)
        Fail(ctx, SUSIE_CORRUPT);
    const jpeg_progress_mgr *p = &ctx->progressMgr;
    if (!ctx->progress || p->total_passes <= 0 || p->pass_limit <= 0)
        return;
    // Passes weigh alike: progressive files spend them reading scans, baseline files
    // spend the one pass producing rows.
    uint64_t total = static_cast<uint64_t>(p->total_passes) * 10000;
    if (total != ctx->progress->Total())
        ctx->progress->SetTotal(total);
    uint64_t done = static_cast<uint64_t>(p->completed_passes) * 10000 +
                    static_cast<uint64_t>(p->pass_counter) * 10000 / static_cast<uint64_t>(p->pass_limit);
    if (ctx->progress->Step(done))
        Fail(ctx, SUSIE_ABORTED);
}

void CmykToBgr(const uint8_t *in, uint8_t *out, uint32_t width, bool inverted)
{
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = static_cast<uint8_t>(y * k / 255);
        out[1] = static_cast<uint8_t>(m * k / 255);
        out[2] = static_cast<uint8_t>(c * k / 255);
    }
}

// Does all the work under one setjmp; keeps its state in ctx so that nothing of this
// frame is read after a jump back.
int32_t Run(Context *ctx)
{
    j_decompress_ptr cinfo = &ctx->cinfo;
    if (setjmp(ctx->jump))
        return ctx->error;

    cinfo->err = jpeg_std_error(&ctx->errorMgr);
    ctx->errorMgr.error_exit = ErrorExit;
    ctx->errorMgr.emit_message = EmitMessage;
    ctx->errorMgr.output_message = OutputMessage;
    cinfo->client_data = ctx;  // kept by jpeg_create_decompress
    jpeg_create_decompress(cinfo);
    ctx->created = true;
    ctx->progressMgr.progress_monitor = Monitor;
    cinfo->progress = &ctx->progressMgr;

    spi::Input *in = ctx->input;
    if (in->IsMemory()) {
        if (in->Size() == 0)
            return SUSIE_CORRUPT;
        jpeg_mem_src(cinfo, in->Data(), static_cast<unsigned long>(in->Size()));
    } else {
        jpeg_stdio_src(cinfo, in->File());
    }
    // Markers we do not use are skipped, not kept in memory; EXIF is kept for its orientation.
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    if (ctx->request && ctx->request->memoryLimit)
        cinfo->mem->max_memory_to_use = static_cast<long>(ctx->request->memoryLimit);
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return SUSIE_CORRUPT;
    if (!spi::AcceptableSize(cinfo->image_width, cinfo->image_height))
        return SUSIE_CORRUPT;

    const int orientation = OrientationOf(cinfo);
    const bool turned = spi::Turns(orientation);
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    if (ctx->pictureInfo) {
        spi::FillPictureInfo(ctx->pictureInfo, turned ? cinfo->image_height : cinfo->image_width,
                             turned ? cinfo->image_width : cinfo->image_height, grey ? 8 : 24);
        if (cinfo->density_unit == 1) {
            ctx->pictureInfo->x_density = cinfo->X_density;
            ctx->pictureInfo->y_density = cinfo->Y_density;
        }
    }
    if (!ctx->dib)
        return SUSIE_OK;

    cinfo->out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    cinfo->dct_method = JDCT_ISLOW;
    uint32_t factor = spi::ReduceFactor(cinfo->image_width, cinfo->image_height, ctx->request, turned);
    cinfo->scale_num = 1;
    cinfo->scale_denom = factor >= 8 ? 8 : factor >= 4 ? 4 : factor >= 2 ? 2 : 1;
    // A picture of several scans keeps all its coefficients, whatever the scale.
    if (ctx->request && jpeg_has_multiple_scans(cinfo)) {
        uint64_t blocks = 0;
        for (int i = 0; i < cinfo->num_components; ++i)
            blocks += static_cast<uint64_t>(cinfo->comp_info[i].width_in_blocks) * cinfo->comp_info[i].height_in_blocks;
        if (!ctx->request->Allows(blocks * DCTSIZE2 * sizeof(JCOEF)))
            return SUSIE_NO_MEMORY;
    }
    jpeg_start_decompress(cinfo);
    uint32_t width = cinfo->output_width, height = cinfo->output_height;
    // What the DCT scaling left to reduce is averaged in blocks as the rows come.
    uint32_t rest = grey ? 1 : spi::ReduceFactor(width, height, ctx->request, turned);
    spi::Canvas &canvas = ctx->canvas;
    int32_t result = canvas.Create(ctx->dib, width, height, grey ? 1 : 3, rest, orientation, false, ctx->request);
    if (result != SUSIE_OK)
        return result;
    spi::Dib *dib = ctx->dib;
    if (grey)
        for (int i = 0; i < 256; ++i)
            dib->Colors()[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    if (cinfo->density_unit == 1)
        dib->SetDensity(cinfo->X_density * 10000 / 254, cinfo->Y_density * 10000 / 254);
    else if (cinfo->density_unit == 2)
        dib->SetDensity(cinfo->X_density * 100, cinfo->Y_density * 100);

    if (cmyk) {
        ctx->cmykRow = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(width) * 4));
        ctx->rowBuffer = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(width) * 3));
        if (!ctx->cmykRow || !ctx->rowBuffer)
            return SUSIE_NO_MEMORY;
        bool inverted = cinfo->saw_Adobe_marker;
        while (cinfo->output_scanline < height) {
            uint32_t y = cinfo->output_scanline;
            JSAMPROW row = ctx->cmykRow;
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
                return SUSIE_CORRUPT;
            uint8_t *out = canvas.Direct() ? canvas.Row(y) : ctx->rowBuffer;
            CmykToBgr(ctx->cmykRow, out, width, inverted);
            if (!canvas.Direct())
                canvas.Put(y, out, width);
        }
    } else if (canvas.Direct()) {
        JSAMPROW rows[16];
        while (cinfo->output_scanline < height) {
            uint32_t y = cinfo->output_scanline;
            uint32_t n = height - y < 16 ? height - y : 16;
            for (uint32_t i = 0; i < n; ++i)
                rows[i] = canvas.Row(y + i);
            if (jpeg_read_scanlines(cinfo, rows, n) == 0)
                return SUSIE_CORRUPT;
        }
    } else {
        const size_t stride = static_cast<size_t>(width) * (grey ? 1 : 3);
        ctx->rowBuffer = static_cast<uint8_t *>(std::malloc(stride * 16));
        if (!ctx->rowBuffer)
            return SUSIE_NO_MEMORY;
        JSAMPROW rows[16];
        for (int i = 0; i < 16; ++i)
            rows[i] = ctx->rowBuffer + stride * static_cast<size_t>(i);
        while (cinfo->output_scanline < height) {
            uint32_t y = cinfo->output_scanline;
            uint32_t got = jpeg_read_scanlines(cinfo, rows, 16);
            if (got == 0)
                return SUSIE_CORRUPT;
            for (uint32_t i = 0; i < got; ++i)
                canvas.Put(y + i, rows[i], width);
        }
    }
    ctx->rowsDone = true;
    // Trailing garbage or a missing end marker does not spoil a complete picture.
    jpeg_abort_decompress(cinfo);
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
    const auto *h = static_cast<const uint8_t *>(head);
    return h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF;
}

}  // extern "C"

SPI_PICTURE_ENTRIES(Decode)
