#include "archive/Rar32.h"

#include "archive/Lha32.h"

TBindingSlot TRar32::Binding("RAR 形式書庫", "Unrar", "UNRAR32.DLL");

void TRar32::LoadDLL() { Binding.LoadDLL(); }
void TRar32::FreeDLL() { Binding.FreeDLL(); }

std::string TRar32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                     const std::string& destDir, const TFileArgs& files, bool useResFile,
                                     const TArchiverOptions& o) const {
  if (o.c <= 0) opt.Add("-u");
  if (o.m > 0) opt.Add("-y");
  if (o.p > 0) opt.Add("-s");
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return word + opt.CommandLine;
}

int TRar32::Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, options.x == 0 ? "-e" : "-x", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TRar32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  TCmdOpt opt;
  CommandLine = BuildCommandLine(opt, "", fileName, "", {entryName}, false, options);
  return Dll().ExtractMem(wnd, CommandLine, buffer, size, time, attr, written);
}

bool ProbeRar(const std::string& fileName) {
  try {
    TRar32::LoadDLL();
    TArchiverDll& dll = TRar32::Binding.Get();
    HARC h = dll.OpenArchive(nullptr, ExpandFileName(fileName), kProbeOpenMode);
    dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}
