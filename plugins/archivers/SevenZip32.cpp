// 7-zip32: reads and makes 7z archives.
#include "core/Exports.h"

namespace {
void Formats(struct archive* a) { archive_read_support_format_7zip(a); }
const arc::LibraryDef kLibrary{
    "7-zip32", arc::Dialect::SevenZip, {Formats, false, true}, true, arc::WriteFormat::SevenZip};
}  // namespace

ARCHIVER_EXPORTS(SevenZip, kLibrary)
