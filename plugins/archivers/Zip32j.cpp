// ZIP32J: makes ZIP archives, adds to, refreshes in and deletes from them.
#include "core/Exports.h"

namespace {
// Both ZIP readers: the central directory one, and the streaming one for a ZIP behind a stub.
void Formats(struct archive* a) { archive_read_support_format_zip(a); }
const arc::LibraryDef kLibrary{"ZIP32J", arc::Dialect::Zip, {Formats, false}, true, arc::WriteFormat::Zip};
}  // namespace

ARC_EXPORT int Zip(ArcHWND wnd, const char* cmdLine, char* output, uint32_t outputSize) {
  return arc::RunCommand(kLibrary, wnd, cmdLine, output, outputSize);
}
ARC_EXPORT int ZipSetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  if (!ArcIsWindow(wnd)) return 0;
  arc::SetOwner(wnd, callback);
  return 1;
}
ARC_EXPORT int ZipKillOwnerWindowEx(ArcHWND wnd) { return arc::KillOwner(wnd) ? 1 : 0; }
