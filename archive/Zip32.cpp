#include "archive/Zip32.h"

#include <sys/stat.h>

#include "archive/Lha32.h"
#include "archive/SelfExtract.h"

std::unique_ptr<TZipDll> TZip32::Binding;

namespace {
// Destroyed before Binding: the libraries stay loaded until the process ends,
// the binding itself is freed.
struct KeepLoadedAtExit {
  ~KeepLoadedAtExit() {
    if (TZip32::Binding)
      for (HMODULE& module : TZip32::Binding->Modules) module = nullptr;
  }
} keepLoadedAtExit;
}  // namespace

void TZip32::LoadDLL() {
  if (Binding) return;
  Binding = std::make_unique<TZipDll>();
  Binding->Load();
}

void TZip32::FreeDLL() { Binding.reset(); }

TZipDll& TZip32::Dll() {
  LoadDLL();
  return *Binding;
}

std::string ZipNameConverter(const std::string& name) {
  std::string out;
  size_t i = 0;
  if (!name.empty() && name[0] == '-') {
    out = "[-]";
    i = 1;
  }
  for (; i < name.size(); ++i) {
    if (name[i] == '[')
      out += "[[]";
    else
      out += name[i];
  }
  return out;
}

namespace {

void UseConverter(TCmdOpt& opt) { opt.NameConverter = ZipNameConverter; }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string TZip32::ExtractLine(TCmdOpt& opt, const std::string& archive, const std::string& destDir,
                                const TFileArgs& files, bool useResFile, const TArchiverOptions& o) const {
  UseConverter(opt);
  if (o.c == 1) opt.Add("-o");
  if (o.n > 0 || HasOwnerWindow()) opt.Add("--i");
  if (o.x == 0) opt.Add("-j");
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return opt.CommandLine;
}

std::string TZip32::Zip32jLine(TCmdOpt& opt, const std::string& archive, const std::string& destDir,
                               const TFileArgs& files, bool useResFile, const TArchiverOptions& o) const {
  UseConverter(opt);
  if (o.a > 0) opt.Add("-S");
  if (o.a < 2) opt.Add("-D");
  if (o.l > 0) opt.Add("-v");
  if (o.n > 0) opt.Add("-q");
  if (o.r > 0) opt.Add("-r");
  if (o.n > 0) opt.Add("-o");
  if (o.u > 0) opt.Add("-u");
  if (o.x == 0) opt.Add("-j");
  if (o.jc > 0) opt.Add("-FF");
  if (o.ji > 0) opt.Add("-k");
  opt.AddNumber("", o.jm);
  if (o.gd > 0) opt.Add("-J");
  opt.Add(o.UserOptions);
  AddArchiveAndDir(opt, archive, destDir);
  AddFileArgs(opt, o, useResFile, files);
  return opt.CommandLine;
}

std::string TZip32::LmzipPackLine(TCmdOpt& opt, const std::string& archive, const TFileArgs& files, bool useResFile,
                                  const TArchiverOptions& o) const {
  if (o.c == 1) opt.Add("-o");
  if (o.x == 0) opt.Add("-j");
  opt.Add(o.UserOptions);
  opt.AddValue("", archive);
  AddFileArgs(opt, o, useResFile, files);
  return opt.CommandLine;
}

int TZip32::RunZip(ArcHWND wnd, const std::string& line, const TCmdOpt& opt, std::string& output) {
  return RunCommand(line, opt, [&] { return Dll().ZipCommand(wnd, line, OutputData(output), OutputLength(output)); });
}

HARC TZip32::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  return Dll().OpenArchive(wnd, ExpandFileName(fileName), mode);
}

int TZip32::FindFirst(HARC handle, TArchiveEntryInfo* info, const std::string& wildName) {
  return Dll().FindFirst(handle, wildName, info);
}

int TZip32::FindNext(HARC handle, TArchiveEntryInfo* info) { return Dll().FindNext(handle, info); }

int TZip32::CloseArchive(HARC handle) { return Dll().CloseArchive(handle); }

int TZip32::Extract(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                    const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options) {
  TZipDll& dll = Dll();
  if (!dll.IsLoaded(TZipDll::zmUnzip32) && !dll.IsLoaded(TZipDll::zmLmzip32))
    throw EArchiver("ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
  TCmdOpt opt;
  std::string line = "-x" + ExtractLine(opt, fileName, destDir, files, useResFile, options);
  return RunCommand(line, opt, [&] { return dll.UnZipCommand(wnd, line, OutputData(output), OutputLength(output)); });
}

int TZip32::Pack(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile, const TFileArgs& files,
                 const std::string& destDir, const TArchiverOptions& options) {
  TZipDll& dll = Dll();
  TCmdOpt opt;
  if (dll.IsLoaded(TZipDll::zmZip32j)) {
    std::string line = Zip32jLine(opt, fileName, destDir, files, useResFile, options);
    return RunZip(wnd, line, opt, output);
  }
  if (dll.IsLoaded(TZipDll::zmLmzip32)) {
    // An existing archive is added to, never deleted first.
    std::string line = "-ru" + LmzipPackLine(opt, fileName, files, useResFile, options);
    return RunZip(wnd, line, opt, output);
  }
  throw EArchiver("ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。");
}

int TZip32::Delete(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                   const TFileArgs& files, const std::string&, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = "-d" + Zip32jLine(opt, fileName, "", files, useResFile, options);
  return RunZip(wnd, line, opt, output);
}

int TZip32::Update(ArcHWND wnd, const std::string& fileName, std::string& output, bool useResFile,
                   const TFileArgs& files, const std::string& destDir, const TArchiverOptions& options) {
  TCmdOpt opt;
  std::string line = "-f" + Zip32jLine(opt, fileName, destDir, files, useResFile, options);
  return RunZip(wnd, line, opt, output);
}

int TZip32::MakeSfx(ArcHWND wnd, const std::string& fileName, std::string& output, const std::string& destDir,
                    const TArchiverOptions& options) {
  if (!Dll().IsLoaded(TZipDll::zmZip32j)) throw ESfxNoRequiredFile("zip", "", "ZIP32J.DLL");
  bool win32 = options.gw > 0;
  std::string platform = win32 ? "Win32" : "DOS";
  std::string stubName = win32 ? "sfx32gui.dat" : "sfx16.dat";
  std::string stub = FindSfxStub(stubName);
  if (stub.empty()) throw ESfxNoRequiredFile("zip", platform, stubName);
  std::string out = SfxOutputPath(fileName, ".EXE", destDir);
  WriteSfxFile(stub, fileName, out);
  TCmdOpt opt;
  return RunZip(wnd, "-A " + out, opt, output);
}

int TZip32::ExtractMem(ArcHWND wnd, const std::string& fileName, const TArchiverOptions& options,
                       const std::string& entryName, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                       uint32_t* written) {
  TCmdOpt opt;
  CommandLine = ExtractLine(opt, fileName, "", {entryName}, false, options);
  return Dll().ExtractMem(wnd, CommandLine, buffer, size, time, attr, written);
}

int TZip32::CheckArchive(const std::string& fileName, int mode, int) { return Dll().CheckArchive(fileName, mode); }

bool TZip32::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  // The library first: when it raises, no owner window is recorded.
  int result = Dll().SetOwnerWindowEx(wnd, callback);
  Dll().SetZipWriterOwner(wnd, callback);
  OwnerWindow = wnd;
  return result != 0;
}

bool TZip32::KillOwnerWindowEx(ArcHWND wnd) {
  int result = Dll().KillOwnerWindowEx(wnd);
  Dll().KillZipWriterOwner(wnd);
  OwnerWindow = nullptr;
  return result != 0;
}

bool ProbeZip(const std::string& fileName) {
  try {
    TZipDll& dll = TZip32::Dll();
    std::string full = ExpandFileName(fileName);
    if (!dll.CheckArchive(full, 24) || !FileExists(full)) return false;
    HARC h = dll.OpenArchive(nullptr, full, kProbeOpenMode);
    if (h) dll.CloseArchive(h);
    return h != nullptr;
  } catch (const std::exception&) {
    return false;
  }
}
