// UNLHA32: reads LHA/LZH archives.
#include "core/Exports.h"

namespace {
void Formats(struct archive* a) { archive_read_support_format_lha(a); }
const arc::LibraryDef kLibrary{"UNLHA32", arc::Dialect::Lha, {Formats, false}, false, arc::WriteFormat::Zip};
}  // namespace

ARCHIVER_EXPORTS(Unlha, kLibrary)
