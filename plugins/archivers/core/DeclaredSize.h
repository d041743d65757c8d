#pragma once
// What an archive says its entries add up to, read from its own headers before anything is
// written, so that an archive larger than the free space is asked about first.
#include <cstdint>

#include "ArchiveReader.h"

namespace arc {

// The declared total of the archive open on fd (a regular file of fileSize bytes) whose
// first entry libarchive has read as format and filter (archive_format, archive_filter_code).
// -1 when the archive does not tell it without decompressing (bzip2, a solid stream).
// For a compressed stream it is the stream's declared size, which also counts the headers.
int64_t DeclaredTotal(int fd, int64_t fileSize, const ReadFormats& formats, int format, int filter);

// The parts, each -1 when the file is not of its kind or its headers do not add up.
int64_t CabDeclaredTotal(int fd, int64_t fileSize);
int64_t RarDeclaredTotal(int fd, int64_t fileSize);
int64_t GzipDeclaredSize(int fd, int64_t fileSize);
int64_t XzDeclaredSize(int fd, int64_t fileSize);

}  // namespace arc
