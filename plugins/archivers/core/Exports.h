#pragma once
// The entries every archiver library exports, named by its prefix: "Unlha",
// "UnlhaOpenArchive", ... Each library file says ARCHIVER_EXPORTS(Unlha, kLibrary).
#include "Feedback.h"
#include "Library.h"

#define ARC_EXPORT extern "C" __attribute__((visibility("default")))

#define ARC_ENTRY(prefix, suffix) prefix##suffix

#define ARCHIVER_EXPORTS(prefix, lib)                                                                                  \
  ARC_EXPORT int prefix(ArcHWND wnd, const char* cmdLine, char* output, uint32_t outputSize) {                         \
    return arc::RunCommand(lib, wnd, cmdLine, output, outputSize);                                                     \
  }                                                                                                                    \
  ARC_EXPORT HARC ARC_ENTRY(prefix, OpenArchive)(ArcHWND wnd, const char* fileName, uint32_t mode) {                   \
    return arc::OpenArchiveHandle(lib, wnd, fileName, mode);                                                           \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, CloseArchive)(HARC arc) { return arc::CloseArchiveHandle(arc); }                    \
  ARC_EXPORT int ARC_ENTRY(prefix, FindFirst)(HARC arc, const char* wildName, ArcIndividualInfo* info) {               \
    return arc::FindFirstEntry(arc, wildName, info);                                                                   \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, FindNext)(HARC arc, ArcIndividualInfo * info) {                                     \
    return arc::FindNextEntry(arc, info);                                                                              \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, ExtractMem)(ArcHWND wnd, const char* cmdLine, void* buffer, uint32_t size,          \
                                               int64_t* time, uint16_t* attr, uint32_t* written) {                     \
    return arc::RunExtractMem(lib, wnd, cmdLine, buffer, size, time, attr, written);                                   \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, CheckArchive)(const char* fileName, int mode) {                                     \
    return arc::CheckArchiveFile(lib, fileName, mode);                                                                 \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, SetOwnerWindowEx)(ArcHWND wnd, ArcArchiverProc callback) {                          \
    if (!ArcIsWindow(wnd)) return 0;                                                                                   \
    arc::SetOwner(wnd, callback);                                                                                      \
    return 1;                                                                                                          \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, KillOwnerWindowEx)(ArcHWND wnd) { return arc::KillOwner(wnd) ? 1 : 0; }             \
  ARC_EXPORT int ARC_ENTRY(prefix, GetWriteTimeEx)(HARC arc, ArcFileTime * t) { return arc::GetEntryTime(arc, t, 0); } \
  ARC_EXPORT int ARC_ENTRY(prefix, GetCreateTimeEx)(HARC arc, ArcFileTime * t) {                                       \
    return arc::GetEntryTime(arc, t, 1);                                                                               \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, GetAccessTimeEx)(HARC arc, ArcFileTime * t) {                                       \
    return arc::GetEntryTime(arc, t, 2);                                                                               \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, GetOriginalSizeEx)(HARC arc, int64_t * size) {                                      \
    return arc::GetEntrySize(arc, size, false);                                                                        \
  }                                                                                                                    \
  ARC_EXPORT int ARC_ENTRY(prefix, GetCompressedSizeEx)(HARC arc, int64_t * size) {                                    \
    return arc::GetEntrySize(arc, size, true);                                                                         \
  }
