// UNZIP32: reads ZIP archives, under the names the ZIP binding looks for.
#include "core/Exports.h"

namespace {
// Both ZIP readers: the central directory one, and the streaming one for a ZIP behind a stub.
void Formats(struct archive* a) { archive_read_support_format_zip(a); }
const arc::LibraryDef kLibrary{"UNZIP32", arc::Dialect::UnZip, {Formats, false}, false, arc::WriteFormat::Zip};
}  // namespace

ARCHIVER_EXPORTS(UnZip, kLibrary)

// The write-time entry of the ZIP tools is spelled with a lower-case z.
ARC_EXPORT int UnzipGetWriteTimeEx(HARC arc, ArcFileTime* t) { return arc::GetEntryTime(arc, t, 0); }
