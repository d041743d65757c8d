#include "archive/Bga32.h"

#include <sys/stat.h>

#include "archive/Lha32.h"

TBindingSlot TBGA32::Binding("BGA 形式書庫", "Bga", "BGA32.DLL");

void TBGA32::LoadDLL() { Binding.LoadDLL(); }
void TBGA32::FreeDLL() { Binding.FreeDLL(); }

std::string TBGA32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                     const std::string& destDir, const TFileArgs& files, bool useResFile,
                                     const TArchiverOptions& o) const {
  opt.AddFlag("a", o.a > 0);
  opt.Add(o.c <= 0 ? "-n" : "-o");
  opt.AddFlag("i", o.n > 0 || HasOwnerWindow());
  opt.AddFlag("r", o.r > 0);
  opt.AddFlag("j", o.x <= 0);
  opt.AddNumber("l", o.jm);
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return word + opt.CommandLine;
}

int TBGA32::Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "x", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TBGA32::Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "a", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TBGA32::Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "d", fileName, "", files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TBGA32::MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                    const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line =
      BuildCommandLine(opt, "s", fileName, destDir, {}, options.ResFileUsage.Contains(ruOnRemoveItem), options);
  return RunDll(wnd, line, opt, output);
}

int TBGA32::CheckArchive(const std::string& fileName, int mode, int extra) {
  return TDllArchiver::CheckArchive(fileName, mode == 2 ? 1 : mode, extra);
}

bool ProbeBga(const std::string& fileName) {
  try {
    TBGA32::LoadDLL();
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) return false;
    TArchiverDll& dll = TBGA32::Binding.Get();
    HARC h = dll.OpenArchive(nullptr, ExpandFileName(fileName), kProbeOpenMode);
    dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}
