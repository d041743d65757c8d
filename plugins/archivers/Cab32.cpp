// CAB32: reads Microsoft cabinet archives.
#include "core/Exports.h"

namespace {
void Formats(struct archive* a) { archive_read_support_format_cab(a); }
const arc::LibraryDef kLibrary{"CAB32", arc::Dialect::Cab, {Formats, false}, false, arc::WriteFormat::Zip};
}  // namespace

ARCHIVER_EXPORTS(Cab, kLibrary)
