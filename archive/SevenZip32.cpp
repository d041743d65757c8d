#include "archive/SevenZip32.h"

#include "archive/SelfExtract.h"

TBindingSlot TSevenZip32::Binding("7z 形式書庫", "SevenZip", "7-zip32.dll");

void TSevenZip32::LoadDLL() { Binding.LoadDLL(); }
void TSevenZip32::FreeDLL() { Binding.FreeDLL(); }

std::string TSevenZip32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                          const std::string& destDir, const TFileArgs& files, bool useResFile,
                                          const TArchiverOptions& o) const {
  if (word == "x") {
    if (o.m == 2)
      opt.Add("-aou");
    else if (o.jn > 0)
      opt.Add("-aos");
    else if (o.c > 0)
      opt.Add("-aoa");
  }
  if (o.n > 0) opt.Add("-hide");
  if (o.r == 0) opt.Add("-r-");
  if (o.r > 1) opt.Add("-r");
  opt.AddDirectory("w", o.w);
  if (o.y > 0) opt.Add("-y");
  opt.AddFileNames("x!", o.jx);
  opt.AddDirectory("o", destDir);
  opt.Add(o.UserOptions);
  opt.AddValue("", archive);
  AddFileArgs(opt, o, useResFile, files);
  return (word == "x" && o.x == 0 ? std::string("e") : word) + opt.CommandLine;
}

int TSevenZip32::Extract(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "x", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TSevenZip32::Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "u", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TSevenZip32::Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "d", fileName, "", files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TSevenZip32::MakeSfx(ArcHWND, const std::string& fileName, std::string&, const std::string& destDir,
                         const TArchiverOptions& options) {
  if (options.gw <= 0) throw EArchiver("16bit SFX を作成することはできません。");
  std::string stub = FindSevenZipSfxStub();
  if (stub.empty()) throw ESfxNoRequiredFile("7z", "", "7z.sfx");
  WriteSfxFile(stub, fileName, SfxOutputPath(fileName, ".exe", destDir));
  return 0;
}
