// UNRAR32: reads RAR 4 and RAR 5 archives.
#include "core/Exports.h"

namespace {
void Formats(struct archive* a) {
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
}
const arc::LibraryDef kLibrary{"UNRAR32", arc::Dialect::Rar, {Formats, false}, false, arc::WriteFormat::Zip};
}  // namespace

ARCHIVER_EXPORTS(Unrar, kLibrary)
