#include "archive/Cab32.h"

#include "archive/Lha32.h"

TBindingSlot TCab32::Binding("CAB 形式書庫", "Cab", "CAB32.DLL");

void TCab32::LoadDLL() { Binding.LoadDLL(); }
void TCab32::FreeDLL() { Binding.FreeDLL(); }

std::string TCab32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                     const std::string& destDir, const TFileArgs& files, bool useResFile,
                                     const TArchiverOptions& o) const {
  if (o.c == 1) opt.Add("-o");
  if (o.n > 0 || HasOwnerWindow()) opt.Add("-i");
  if (o.r > 0) opt.Add("-r");
  opt.AddDirectory("h", o.w);
  if (o.x == 0) opt.Add("-j");
  if (o.ji > 0) opt.Add("-q");
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return word + opt.CommandLine;
}

int TCab32::Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "-x", ExpandFileName(fileName), destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TCab32::Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "-a", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TCab32::MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                    const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "-f", fileName, destDir, {}, false, options);
  return RunDll(wnd, line, opt, output);
}

int TCab32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  TCmdOpt opt;
  CommandLine = BuildCommandLine(opt, "", fileName, "", {entryName}, false, options);
  return Dll().ExtractMem(wnd, CommandLine, buffer, size, time, attr, written);
}

bool ProbeCab(const std::string& fileName) {
  try {
    TCab32::LoadDLL();
    TArchiverDll& dll = TCab32::Binding.Get();
    HARC h = dll.OpenArchive(nullptr, ExpandFileName(fileName), kProbeOpenMode);
    dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}
