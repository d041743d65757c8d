// The Susie picture plug-in interface on Linux: shared by the host (image/) and the
// plug-ins (plugins/spi/). Plug-ins are shared libraries with the extension ".spi" that
// export these entry points with C linkage.
//
// Differences from the Windows interface, all forced by the platform:
// - no __stdcall; 32-bit integers are int32_t/uint32_t;
// - values that carry an address or a memory size are pointer-sized: the data length or
//   file offset of the picture calls (intptr_t), the caller value handed back to the
//   progress callback (intptr_t), IsSupported's head pointer, the text handle of the
//   picture-info record;
// - a "local-memory handle" is a plain pointer that the plug-in allocates with malloc()
//   and the receiver releases with free();
// - IsSupported always gets a pointer to the first bytes of the data (at least
//   SUSIE_HEAD_SIZE readable, zero-padded), never a file handle.
//
// The picture handed back is a Windows DIB, which is a data format: a BITMAPINFO
// (BITMAPINFOHEADER followed by the colour table) and the pixel rows, bottom-up, each
// padded to a multiple of 4 bytes, little-endian.
#ifndef TOLVANE_SUSIE_PLUGIN_API_H
#define TOLVANE_SUSIE_PLUGIN_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define SUSIE_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define SUSIE_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

// Marks an entry point for export from a plug-in built with -fvisibility=hidden.
#define SUSIE_EXPORT __attribute__((visibility("default")))

#define SUSIE_PLUGIN_EXTENSION ".spi"

// Bytes of the data's start that IsSupported may read.
#define SUSIE_HEAD_SIZE 2048

// Result codes of the picture and archive calls.
#define SUSIE_NO_FUNCTION (-1)  // not implemented by this plug-in
#define SUSIE_OK 0
#define SUSIE_ABORTED 1  // the progress callback returned non-zero
#define SUSIE_UNKNOWN_FORMAT 2
#define SUSIE_CORRUPT 3  // the data is broken (also: refused as too large)
#define SUSIE_NO_MEMORY 4
#define SUSIE_MEMORY_ERROR 5
#define SUSIE_FILE_READ_ERROR 6
#define SUSIE_WINDOW_ERROR 7
#define SUSIE_INTERNAL_ERROR 8
#define SUSIE_FILE_WRITE_ERROR 9
#define SUSIE_END_OF_FILE 10

// The flag argument: bits 0..2 say where the input is, bits 8..10 (GetFile only) where
// the output goes.
#define SUSIE_INPUT_MASK 0x7u
#define SUSIE_INPUT_FILE 0x0u    // buf = file name, len = offset of the data in the file
#define SUSIE_INPUT_MEMORY 0x1u  // buf = data, len = its length in bytes
#define SUSIE_OUTPUT_MASK 0x700u
#define SUSIE_OUTPUT_FILE 0x000u
#define SUSIE_OUTPUT_MEMORY 0x100u

// Plug-ins never decode pictures with more pixels than this.
#define SUSIE_MAX_PIXELS (UINT64_C(1) << 28)

#pragma pack(push, 1)

typedef struct BITMAPFILEHEADER {
  uint16_t bfType;  // "BM"
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
} BITMAPFILEHEADER;

typedef struct BITMAPINFOHEADER {
  uint32_t biSize;  // 40
  int32_t biWidth;
  int32_t biHeight;        // positive: rows bottom-up
  uint16_t biPlanes;       // 1
  uint16_t biBitCount;     // 1, 4, 8, 24 or 32
  uint32_t biCompression;  // BI_RGB
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;  // 0: all 2^biBitCount colours for up to 8 bits
  uint32_t biClrImportant;
} BITMAPINFOHEADER;

typedef struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
} RGBQUAD;

typedef struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];  // the colour table, biClrUsed (or 2^biBitCount) entries
} BITMAPINFO;

#define BI_RGB 0u
#define BI_BITFIELDS 3u

// The picture-info record: fields in this order, byte-packed.
typedef struct SusiePictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t colorDepth;  // bits per pixel
  void *hInfo;         // malloc'ed text information or NULL; the caller frees it
} SusiePictureInfo;

// One entry of an archive listing (GetArchiveInfo hands back an array of them, ended by
// an entry whose method starts with a zero byte).
typedef struct SusieFileInfo {
  uint8_t method[8];
  uint64_t position;
  uint64_t compsize;
  uint64_t filesize;
  int64_t timestamp;  // seconds since 1970, UTC
  char path[200];
  char filename[200];
  uint32_t crc;
} SusieFileInfo;

#pragma pack(pop)

SUSIE_STATIC_ASSERT(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes");
SUSIE_STATIC_ASSERT(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
SUSIE_STATIC_ASSERT(sizeof(RGBQUAD) == 4, "RGBQUAD is 4 bytes");
SUSIE_STATIC_ASSERT(sizeof(BITMAPINFO) == 44, "BITMAPINFO is 44 bytes");
SUSIE_STATIC_ASSERT(sizeof(SusiePictureInfo) == 22 + sizeof(void *), "the picture-info record is byte-packed");
SUSIE_STATIC_ASSERT(offsetof(SusiePictureInfo, hInfo) == 22, "hInfo follows colorDepth");
SUSIE_STATIC_ASSERT(sizeof(SusieFileInfo) == 444, "SusieFileInfo is byte-packed");

// Returns non-zero to make the plug-in stop (it then answers SUSIE_ABORTED).
typedef int32_t (*SusieProgressCallback)(int32_t nNum, int32_t nDenom, intptr_t lData);

// The entry points, by the names a plug-in exports.
//   GetPluginInfo: 0 = API version ("00IN", "00AM"), 1 = description, 2+2i = filter of
//     format i ("*.JPG;*.JPEG"), 3+2i = its name. Returns the characters written into
//     buf (zero-terminated, at most buflen), 0 when infono does not exist.
//   IsSupported: non-zero when the plug-in reads the data whose head is given.
//   GetPictureInfo, GetPicture, GetPreview: 0 on success. GetPicture/GetPreview set
//     *pHBInfo (a BITMAPINFO) and *pHBm (the pixel rows), both malloc'ed.
typedef int32_t (*SusieGetPluginInfoFunc)(int32_t infono, char *buf, int32_t buflen);
typedef int32_t (*SusieIsSupportedFunc)(const char *filename, const void *head);
typedef int32_t (*SusieGetPictureInfoFunc)(const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *lpInfo);
typedef int32_t (*SusieGetPictureFunc)(const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                                       SusieProgressCallback lpPrgressCallback, intptr_t lData);
typedef SusieGetPictureFunc SusieGetPreviewFunc;
// Our own optional entry point, exported beside the standard ones: GetPicture for a
// picture shown within maxWidth x maxHeight. The plug-in may hand back a smaller picture
// than the whole, but never smaller than the whole fitted into that box keeping its
// shape (nor larger than the whole); the caller does the final fit. A 32-bit answer
// always carries straight alpha (all zero means fully transparent). A decode that would
// need more than memoryLimit bytes (0: no limit) answers SUSIE_NO_MEMORY before it
// allocates the picture.
#define SUSIE_GET_PICTURE_FIT "GetPictureFit"
typedef int32_t (*SusieGetPictureFitFunc)(const char *buf, intptr_t len, uint32_t flag, int32_t maxWidth,
                                          int32_t maxHeight, uint64_t memoryLimit, void **pHBInfo, void **pHBm,
                                          SusieProgressCallback lpPrgressCallback, intptr_t lData);
typedef int32_t (*SusieGetArchiveInfoFunc)(const char *buf, intptr_t len, uint32_t flag, void **lphInf);
typedef int32_t (*SusieGetFileInfoFunc)(const char *buf, intptr_t len, const char *filename, uint32_t flag,
                                        SusieFileInfo *lpInfo);
typedef int32_t (*SusieGetFileFunc)(const char *src, intptr_t len, char *dest, uint32_t flag,
                                    SusieProgressCallback prgressCallback, intptr_t lData);
typedef int32_t (*SusieConfigurationDlgFunc)(void *parent, int32_t fnc);

// Prototypes for the plug-ins' own definitions; the host looks them up with dlsym and
// never sees these names, so a plug-in source defines SUSIE_PLUGIN_IMPLEMENTATION first.
#ifdef SUSIE_PLUGIN_IMPLEMENTATION
SUSIE_EXPORT int32_t GetPluginInfo(int32_t infono, char *buf, int32_t buflen);
SUSIE_EXPORT int32_t IsSupported(const char *filename, const void *head);
SUSIE_EXPORT int32_t GetPictureInfo(const char *buf, intptr_t len, uint32_t flag, SusiePictureInfo *lpInfo);
SUSIE_EXPORT int32_t GetPicture(const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                                SusieProgressCallback lpPrgressCallback, intptr_t lData);
SUSIE_EXPORT int32_t GetPreview(const char *buf, intptr_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                                SusieProgressCallback lpPrgressCallback, intptr_t lData);
SUSIE_EXPORT int32_t GetPictureFit(const char *buf, intptr_t len, uint32_t flag, int32_t maxWidth, int32_t maxHeight,
                                   uint64_t memoryLimit, void **pHBInfo, void **pHBm,
                                   SusieProgressCallback lpPrgressCallback, intptr_t lData);
SUSIE_EXPORT int32_t GetArchiveInfo(const char *buf, intptr_t len, uint32_t flag, void **lphInf);
SUSIE_EXPORT int32_t GetFileInfo(const char *buf, intptr_t len, const char *filename, uint32_t flag,
                                 SusieFileInfo *lpInfo);
SUSIE_EXPORT int32_t GetFile(const char *src, intptr_t len, char *dest, uint32_t flag,
                             SusieProgressCallback prgressCallback, intptr_t lData);
SUSIE_EXPORT int32_t ConfigurationDlg(void *parent, int32_t fnc);
#endif

#ifdef __cplusplus
}
#endif

#endif
