#pragma once
// The common archiver library interface, shared by the program (archive/) and the
// archiver libraries (plugins/archivers/). Every library exports its entries with plain
// C linkage under its prefix: "Unlha" (the command), "UnlhaOpenArchive", ...
// Fixed-width types only: DWORD is uint32_t, WORD uint16_t, BOOL int; handles are pointers.
// Only compatible extensions from here on: libraries and program are built separately.
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- The owner window --------------------------------------------------------------
// There are no window handles on Linux. The program hands a library a pointer to this
// record instead; the library "sends" the registered message "wm_arcextract" to it by
// calling send_message on the library's thread (the program's GUI thread, since the
// command runs there). The answer is non-zero when the program asks to abort.
#define ARC_WINDOW_MAGIC 0x57435241u /* "ARCW" */

typedef struct ArcWindow {
  uint32_t magic;  // ARC_WINDOW_MAGIC; anything else is not a window the library may call
  uint32_t size;   // sizeof(ArcWindow) of the side that made it, for later extensions
  void* context;   // passed back to send_message unchanged
  intptr_t (*send_message)(void* context, uint32_t msg, uintptr_t wparam, intptr_t lparam);
  void* widget;  // the program's QWidget* to parent the library's dialogs on, or null
} ArcWindow;

typedef ArcWindow* ArcHWND;  // null = no owner window

// A library calls this before touching an owner window it was given.
static inline int ArcIsWindow(const ArcWindow* w) {
  return w != NULL && w->magic == ARC_WINDOW_MAGIC && w->size >= offsetof(ArcWindow, widget);
}

static inline void* ArcWindowWidget(const ArcWindow* w) {
  return ArcIsWindow(w) && w->size >= sizeof(ArcWindow) ? w->widget : NULL;
}

// Stands in for registering a window message by name: both sides compute the same number
// from the name (case-insensitive, as registered messages are), in the registered range
// 0xC000..0xFFFF.
static inline uint32_t ArcRegisterWindowMessage(const char* name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
    unsigned char c = *p;
    if (c >= 'A' && c <= 'Z') c = (unsigned char)(c - 'A' + 'a');
    h = (h ^ c) * 16777619u;
  }
  return 0xC000u | (h % 0x4000u);
}

#define ARC_WM_ARCEXTRACT_NAME "wm_arcextract"

// wparam of "wm_arcextract": the state of the extraction.
enum {
  ARCEXTRACT_BEGIN = 0,      // an entry starts
  ARCEXTRACT_INPROCESS = 1,  // an entry is being written (dwWriteSize grows)
  ARCEXTRACT_END = 2,        // the whole command has ended
  ARCEXTRACT_OPEN = 3,       // the archive is being opened
  ARCEXTRACT_COPY = 4        // the archive is being copied (creation)
};

#define ARC_FNAME_MAX32 512

// lparam of "wm_arcextract" points to this record (valid during the call only).
// Names are UTF-8 bytes, NUL-terminated.
typedef struct ArcExtractingInfo {
  uint32_t dwFileSize;                         // original size of the entry (low 32 bits)
  uint32_t dwWriteSize;                        // bytes written so far
  char szSourceFileName[ARC_FNAME_MAX32 + 1];  // entry name in the archive
  char dummy1[3];
  char szDestFileName[ARC_FNAME_MAX32 + 1];  // file being written
  char dummy[3];
} ArcExtractingInfo;

typedef struct ArcExtractingInfoEx {
  ArcExtractingInfo exinfo;
  uint32_t dwCompressedSize;
  uint32_t dwCRC;
  uint32_t uOSType;
  uint16_t wRatio;
  uint16_t wDate;
  uint16_t wTime;
  char szAttribute[8];
  char szMode[8];
} ArcExtractingInfoEx;

// The callback of SetOwnerWindowEx: called with the same arguments as the message
// (state, pointer to ArcExtractingInfoEx); returning 0 aborts the command.
typedef int (*ArcArchiverProc)(ArcHWND wnd, uint32_t msg, uint32_t state, void* eis);

// ---- The entry record ---------------------------------------------------------------
// 558 bytes, no padding. Filled by FindFirst/FindNext. Names are UTF-8.
#pragma pack(push, 1)
typedef struct ArcIndividualInfo {
  uint32_t dwOriginalSize;  // low 32 bits when larger (see GetOriginalSizeEx)
  uint32_t dwCompressedSize;
  uint32_t dwCRC;
  uint32_t uFlag;  // 0; non-zero when the entry cannot be read
  uint32_t uOSType;
  uint16_t wRatio;  // compressed / original, per mille
  uint16_t wDate;   // MS-DOS date, local time
  uint16_t wTime;   // MS-DOS time, local time
  char szFileName[ARC_FNAME_MAX32 + 1];
  char dummy1[3];
  char szAttribute[8];  // e.g. "-rw-----" style text of the library
  char szMode[8];       // method, e.g. "-lh5-", "deflate"
} ArcIndividualInfo;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(offsetof(ArcIndividualInfo, dwOriginalSize) == 0);
static_assert(offsetof(ArcIndividualInfo, dwCompressedSize) == 4);
static_assert(offsetof(ArcIndividualInfo, dwCRC) == 8);
static_assert(offsetof(ArcIndividualInfo, uFlag) == 12);
static_assert(offsetof(ArcIndividualInfo, uOSType) == 16);
static_assert(offsetof(ArcIndividualInfo, wRatio) == 20);
static_assert(offsetof(ArcIndividualInfo, wDate) == 22);
static_assert(offsetof(ArcIndividualInfo, wTime) == 24);
static_assert(offsetof(ArcIndividualInfo, szFileName) == 26);
static_assert(offsetof(ArcIndividualInfo, dummy1) == 539);
static_assert(offsetof(ArcIndividualInfo, szAttribute) == 542);
static_assert(offsetof(ArcIndividualInfo, szMode) == 550);
static_assert(sizeof(ArcIndividualInfo) == 558);
#endif

// FILETIME: 100-ns intervals since 1601-01-01 UTC, as two 32-bit halves.
typedef struct ArcFileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
} ArcFileTime;

typedef struct ArcArchive* HARC;  // an open archive; null = failure

// OpenArchive modes (bits); the libraries accept any value.
#define ARC_M_INIT_FILE_USE_TIME 0x00000008u
#define ARC_M_CHECK_ALL_PATH 0x00000100u
#define ARC_M_CHECK_FILENAME_ONLY 0x00000200u
#define ARC_M_USE_DRIVE_LETTER 0x00001000u
#define ARC_M_NOT_USE_DRIVE_LETTER 0x00002000u
#define ARC_M_ERROR_MESSAGE_ON 0x00400000u

// CheckArchive modes.
#define ARC_CHECKARCHIVE_RAPID 0
#define ARC_CHECKARCHIVE_BASIC 1
#define ARC_CHECKARCHIVE_FULLCRC 2

// Result codes of the commands (0 = success). FindFirst/FindNext: 0 found, -1 no more.
#define ARC_ERROR_WARNING 0x8000  // some entries refused or skipped, others done
#define ARC_ERROR_USER_SKIP 0x8001
#define ARC_ERROR_DISK_SPACE 0x8005
#define ARC_ERROR_READ_ONLY 0x8006
#define ARC_ERROR_USER_CANCEL 0x8020
#define ARC_ERROR_UNKNOWN_TYPE 0x8022  // not an archive this library reads
#define ARC_ERROR_FILE_CRC 0x8027
#define ARC_ERROR_FILE_OPEN 0x8028
#define ARC_ERROR_MORE_FRESH 0x8029
#define ARC_ERROR_NOT_EXIST 0x802A
#define ARC_ERROR_ALREADY_EXIST 0x802B
#define ARC_ERROR_TOO_MANY_FILES 0x802C
#define ARC_ERROR_MAKEDIRECTORY 0x802D
#define ARC_ERROR_CANNOT_WRITE 0x802E
#define ARC_ERROR_HUFFMAN_CODE 0x802F
#define ARC_ERROR_COMMENT_HEADER 0x8030
#define ARC_ERROR_HEADER_CRC 0x8031
#define ARC_ERROR_HEADER_BROKEN 0x8032
#define ARC_ERROR_ARC_FILE_OPEN 0x8033
#define ARC_ERROR_NOT_ARC_FILE 0x8034
#define ARC_ERROR_CANNOT_READ 0x8035
#define ARC_ERROR_FILE_STYLE 0x8036
#define ARC_ERROR_COMMAND_NAME 0x8037  // bad command line
#define ARC_ERROR_MORE_HEAP_MEMORY 0x8038
#define ARC_ERROR_ENOUGH_MEMORY 0x8039
#define ARC_ERROR_NOT_SUPPORT 0x8040  // the library cannot carry the command out
#define ARC_ERROR_UNSAFE_PATH 0x8041  // an entry would be written outside the destination

// GetArchiveType results (TAR32).
enum {
  ARC_TYPE_OTHER = 0,
  ARC_TYPE_TAR = 1,
  ARC_TYPE_TAR_GZ = 2,
  ARC_TYPE_TAR_Z = 3,
  ARC_TYPE_GZ = 4,
  ARC_TYPE_Z = 5,
  ARC_TYPE_TAR_BZ2 = 6,
  ARC_TYPE_BZ2 = 7
};

// ---- The entries ----------------------------------------------------------------------
// Entry name = prefix + suffix; the command entry is the prefix alone.
// The command: runs a whole command line; messages go into output (NUL-terminated, at most
// outputSize bytes including the NUL; nothing is written when output is null or size 0).
typedef int (*ArcCommandProc)(ArcHWND wnd, const char* cmdLine, char* output, uint32_t outputSize);
typedef HARC (*ArcOpenArchiveProc)(ArcHWND wnd, const char* fileName, uint32_t mode);  // "OpenArchive"
typedef int (*ArcCloseArchiveProc)(HARC arc);                                          // "CloseArchive"
// "FindFirst": wildName matches entry names with * and ? ("" or "*" or "*.*" = all).
typedef int (*ArcFindFirstProc)(HARC arc, const char* wildName, ArcIndividualInfo* info);
typedef int (*ArcFindNextProc)(HARC arc, ArcIndividualInfo* info);  // "FindNext"
// "ExtractMem": extracts the one entry the command line names into buffer; time is the
// entry's modification time in seconds since 1970 (UTC).
typedef int (*ArcExtractMemProc)(ArcHWND wnd, const char* cmdLine, void* buffer, uint32_t size, int64_t* time,
                                 uint16_t* attr, uint32_t* written);
typedef int (*ArcCheckArchiveProc)(const char* fileName, int mode);             // "CheckArchive"
typedef int (*ArcSetOwnerWindowExProc)(ArcHWND wnd, ArcArchiverProc callback);  // "SetOwnerWindowEx"
typedef int (*ArcKillOwnerWindowExProc)(ArcHWND wnd);                           // "KillOwnerWindowEx"
// The optional entries, about the entry last found; TRUE (non-zero) on success.
typedef int (*ArcGetTimeExProc)(HARC arc, ArcFileTime* time);  // "GetWriteTimeEx", "GetCreateTimeEx", "GetAccessTimeEx"
typedef int (*ArcGetSizeExProc)(HARC arc, int64_t* size);      // "GetOriginalSizeEx", "GetCompressedSizeEx"
typedef int (*ArcGetArchiveTypeProc)(const char* fileName);    // "GetArchiveType"

#ifdef __cplusplus
}  // extern "C"
#endif
