#include "archive/Tar32.h"

#include "archive/ArchiveFile.h"
#include "archive/SelfExtract.h"

TBindingSlot TTar32::Binding("tar/tgz/taz/bz2 形式書庫", "Tar", "TAR32.DLL");

void TTar32::LoadDLL() { Binding.LoadDLL(); }
void TTar32::FreeDLL() { Binding.FreeDLL(); }

std::string TTar32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                     const std::string& destDir, const TFileArgs& files, bool useResFile,
                                     const TArchiverOptions& o) const {
  opt.QuoteSeparately = true;
  if (o.a > 0) opt.Add("-AH");
  if (o.a == 0) opt.Add("-I");
  if (!HasOwnerWindow() && o.n > 0) opt.Add("--display-dialog=0");
  if (o.o > 0) opt.Add("-g");
  opt.AddNumber("-check-all-path=", o.p);
  opt.AddNumber("-use-directory=", o.x);
  AddCompression(opt, o);
  opt.Add(o.UserOptions);
  if (!archive.empty()) opt.AddValue("f", archive);
  if (!destDir.empty()) opt.AddDirectory("o", destDir);
  AddFileArgs(opt, o, useResFile, files);
  return word + opt.CommandLine;
}

void TTgz32::AddCompression(TCmdOpt& opt, const TArchiverOptions& o) const {
  if (o.jm > 0)
    opt.AddNumber("z", o.jm);
  else
    opt.Add("-z");
}

void TBZ232::AddCompression(TCmdOpt& opt, const TArchiverOptions& o) const {
  if (o.jm > 0)
    opt.AddNumber("B", o.jm);
  else
    opt.Add("-B");
}

int TTar32::Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "x", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TTar32::Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "c", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TTar32::Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  opt.Add("--delete");
  std::string line = BuildCommandLine(opt, "c", fileName, "", files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TTar32::MakeSfx(ArcHWND, const std::string& fileName, std::string&, const std::string& destDir,
                    const TArchiverOptions&) {
  std::string stub = FindSfxStub("kmtarsef.exe");
  if (stub.empty()) throw ESfxNoRequiredFile("tar/tgz", "", "kmtarsef.exe");
  WriteSfxFile(stub, fileName, SfxOutputPath(fileName, ".EXE", destDir));
  return 0;
}

int TBZ232::MakeSfx(ArcHWND, const std::string&, std::string&, const std::string&, const TArchiverOptions&) {
  throw EArchiver("BZ2 形式書庫は自己解凍形式にできません。");
}

int TTar32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  TCmdOpt opt;
  CommandLine = BuildCommandLine(opt, "", fileName, "", {entryName}, false, options);
  return Dll().ExtractMem(wnd, CommandLine, buffer, size, time, attr, written);
}

TArchiverType ProbeTar(const std::string& fileName) {
  try {
    TTar32::LoadDLL();
    switch (TTar32::Binding.Get().GetArchiveType(fileName)) {
      case 1:
        return atTar;
      case 2:
      case 3:
      case 4:
      case 5:
        return atTgz;
      case 6:
      case 7:
        return atBZ2;
      default:
        return atNone;
    }
  } catch (const std::exception&) {
    return atNone;
  }
}
