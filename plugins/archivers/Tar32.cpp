// TAR32: reads tar (plain, gzip, compress, bzip2, xz), cpio, ar, deb and rpm, and single
// compressed files; makes tar, tar.gz and tar.bz2.
#include "core/Exports.h"

namespace {
void Formats(struct archive* a) {
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_compress(a);
  archive_read_support_filter_xz(a);
  archive_read_support_filter_lzma(a);
  archive_read_support_filter_zstd(a);
  archive_read_support_filter_rpm(a);
  archive_read_support_format_tar(a);
  archive_read_support_format_gnutar(a);
  archive_read_support_format_cpio(a);
  archive_read_support_format_ar(a);
  archive_read_support_format_raw(a);
}
const arc::LibraryDef kLibrary{"TAR32", arc::Dialect::Tar, {Formats, true}, true, arc::WriteFormat::Tar};
}  // namespace

ARCHIVER_EXPORTS(Tar, kLibrary)

ARC_EXPORT int TarGetArchiveType(const char* fileName) { return arc::GetTarArchiveType(kLibrary, fileName); }
