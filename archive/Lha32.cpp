#include "archive/Lha32.h"

TBindingSlot TLha32::Binding("LHA 形式書庫", "Unlha", "UNLHA32.DLL");
TBindingSlot TArj32::Binding("ARJ 形式書庫", "Unarj", "UNARJ32J.DLL");

void TLha32::LoadDLL() { Binding.LoadDLL(); }
void TLha32::FreeDLL() { Binding.FreeDLL(); }
void TArj32::LoadDLL() { Binding.LoadDLL(); }
void TArj32::FreeDLL() { Binding.FreeDLL(); }

std::string TLha32::BuildCommandLine(TCmdOpt& opt, const std::string& word, const std::string& archive,
                                     const std::string& destDir, const TFileArgs& files, bool useResFile,
                                     const TArchiverOptions& o) const {
  opt.Add("-+");
  if (word == "x" && o.jse == -1) throw EAssertionFailed("jse オプションが設定されていません。", __FILE__, __LINE__);
  if (o.jso == -1) throw EAssertionFailed("jso オプションが設定されていません。", __FILE__, __LINE__);
  opt.AddNumber("a", o.a);
  opt.AddNumber("c", o.c);
  opt.AddNumber("e", o.e);
  opt.AddNumber("f", o.f);
  opt.AddNumber("h", o.h);
  opt.AddNumber("i", o.i);
  opt.AddNumber("l", o.l);
  opt.AddNumber("m", o.m);
  opt.AddNumber("n", HasOwnerWindow() ? 1 : o.n);
  opt.AddNumber("o", o.o);
  opt.AddNumber("p", o.p);
  opt.AddNumber("r", o.r);
  opt.AddNumber("s", o.s);
  opt.AddNumber("t", o.t);
  opt.AddNumber("u", o.u);
  opt.AddDirectory("w", o.w);
  opt.AddNumber("x", o.x);
  opt.AddNumber("y", o.y);
  opt.AddNumber("z", o.z);
  opt.AddNumber("jc", o.jc);
  opt.AddNumber("jd", o.jd);
  opt.AddNumber("je", o.je);
  opt.AddNumber("jf", o.jf);
  opt.AddNumber("jh", o.jh);
  opt.AddNumber("ji", o.ji);
  opt.AddNumber("jm", o.jm);
  opt.AddNumber("jn", o.jn);
  opt.AddValue("jo", o.jo);
  opt.AddValue("job", o.job);
  opt.AddNumber("jp", o.jp);
  opt.AddNumber("jr", o.jr);
  opt.AddNumber("jsb", o.jsb);
  opt.AddNumber("jsc", o.jsc);
  opt.AddNumber("jsd", o.jsd);
  opt.AddNumber("jse", o.jse);
  opt.AddNumber("jsf", o.jsf);
  opt.AddNumber("jsl", o.jsl);
  opt.AddNumber("jso", o.jso);
  opt.AddNumber("jss", o.jss);
  opt.AddNumber("jst", o.jst);
  opt.AddNumber("jsv", o.jsv);
  opt.AddNumber("jsz", o.jsz);
  opt.AddNumber("jw", o.jw);
  opt.AddFileNames("jx", o.jx);
  opt.AddNumber("jyc", o.jyc);
  opt.AddNumber("jyd", o.jyd);
  opt.AddNumber("jyk", o.jyk);
  opt.AddNumber("jyn", o.jyn);
  opt.AddNumber("jyo", o.jyo);
  opt.AddValue("jz", o.jz);
  opt.AddNumber("ga", o.ga);
  opt.AddNumber("gd", o.gd);
  opt.AddNumber("ge", o.ge);
  opt.AddNumber("gf", o.gf);
  opt.AddNumber("gj", o.gj);
  opt.AddNumber("gm", o.gm);
  opt.AddNumber("gn", o.gn);
  opt.AddNumber("go", o.go);
  opt.AddNumber("gp", o.gp);
  opt.AddValue("gr", o.gr);
  opt.AddNumber("gs", o.gs);
  opt.AddNumber("gu", o.gu);
  opt.AddNumber("gw", o.gw);
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return word + opt.CommandLine;
}

int TLha32::Extract(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                    const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "x", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TLha32::Pack(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
                 const std::string& destDir, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "u", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TLha32::Delete(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                   const TFileArgs& files, const std::string&, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "d", fileName, "", files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TLha32::Update(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                   const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "f", fileName, destDir, files, useResFile, options);
  return RunDll(wnd, line, opt, output);
}

int TLha32::MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                    const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = BuildCommandLine(opt, "s", fileName, destDir, {}, false, options);
  return RunDll(wnd, line, opt, output);
}

int TLha32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  TCmdOpt opt;
  CommandLine = BuildCommandLine(opt, "", fileName, "", {entryName}, false, options);
  return Dll().ExtractMem(wnd, CommandLine, buffer, size, time, attr, written);
}

int TArj32::Pack(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  return TArchiver::Pack(wnd, fileName, output, useResFile, files, destDir, options);
}

int TArj32::Delete(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  return TArchiver::Delete(wnd, fileName, output, useResFile, files, destDir, options);
}

int TArj32::Update(TOLVANE_ARCHIVER_FILE_OP_PARAMS) {
  return TArchiver::Update(wnd, fileName, output, useResFile, files, destDir, options);
}

int TArj32::MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                    const TArchiverOptions& options) {
  return TArchiver::MakeSfx(wnd, fileName, output, destDir, options);
}

int TArj32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  return TArchiver::ExtractMem(wnd, fileName, options, entryName, buffer, size, time, attr, written);
}

bool ProbeLha(const std::string& fileName) {
  try {
    TLha32::LoadDLL();
    TArchiverDll& dll = TLha32::Binding.Get();
    std::string full = ExpandFileName(fileName);
    if (!dll.CheckArchive(full, 16)) return false;
    HARC h = dll.OpenArchive(nullptr, full, kProbeOpenMode);
    if (h) dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}

bool ProbeArj(const std::string& fileName) {
  try {
    TArj32::LoadDLL();
    TArchiverDll& dll = TArj32::Binding.Get();
    HARC h = dll.OpenArchive(nullptr, ExpandFileName(fileName), kProbeOpenMode);
    dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}
