#include "archive/Archiver.h"

#include <filesystem>

EAssertionFailed::EAssertionFailed(const std::string& message, const char* file, int line)
    : Exception(message + " (" + file + ", line " + std::to_string(line) + ")") {}

void TArchiver::LoadDLL() { throw EArchiver("Abstract method 'TArchiver.LoadDLL' was called"); }

void TArchiver::FreeDLL() { throw EArchiver("Abstract method 'TArchiver.FreeDLL' was called"); }

HARC TArchiver::OpenArchive(ArcHWND, const std::string&, uint32_t) { return nullptr; }

int TArchiver::FindFirst(HARC, TArchiveEntryInfo*, const std::string&) { return -1; }

int TArchiver::FindNext(HARC, TArchiveEntryInfo*) { return -1; }

int TArchiver::CloseArchive(HARC) { return 0; }

int TArchiver::Pack(ArcHWND, const std::string&, std::string&, bool, const TFileArgs&, const std::string&,
                    const TArchiverOptions&) {
  throw EArchiver("この形式では書庫ファイルの作成をサポートしておりません。");
}

int TArchiver::Delete(ArcHWND, const std::string&, std::string&, bool, const TFileArgs&, const std::string&,
                      const TArchiverOptions&) {
  throw EArchiver("この形式の書庫ではファイルの削除をサポートしておりません。");
}

int TArchiver::Update(ArcHWND, const std::string&, std::string&, bool, const TFileArgs&, const std::string&,
                      const TArchiverOptions&) {
  throw EArchiver("この形式の書庫では書庫の更新をサポートしておりません。");
}

int TArchiver::MakeSfx(ArcHWND, const std::string&, std::string&, const std::string&, const TArchiverOptions&) {
  throw EArchiver("この形式では自己解凍書庫の作成をサポートしておりません。");
}

int TArchiver::ExtractMem(ArcHWND, const std::string&, const TArchiverOptions&, const std::string&, void*, uint32_t,
                          int64_t*, uint16_t*, uint32_t*) {
  throw EArchiver("この形式ではメモリへの展開をサポートしておりません。");
}

int TArchiver::CheckArchive(const std::string&, int, int) {
  throw EArchiver("この形式では書庫チェック機能をサポートしておりません。");
}

bool TArchiver::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc) {
  OwnerWindow = wnd;
  return false;
}

bool TArchiver::KillOwnerWindowEx(ArcHWND) {
  OwnerWindow = nullptr;
  return false;
}

void TArchiver::AddArchiveAndDir(TCmdOpt& opt, const std::string& archive, const std::string& dir) {
  opt.AddValue("", archive);
  opt.AddDirectory("", dir);
}

int TArchiver::AddFileArgs(TCmdOpt& opt, const TArchiverOptions& options, bool useResFile, const TFileArgs& files) {
  int count;
  if (useResFile && !options.ResFileName.empty() && !IsNotSetString(options.ResFileName))
    count = opt.AddResponseFile(files, options.ResFileName);
  else
    count = opt.AddFileNames("", files);
  opt.Add(options.UserFileList);
  return count;
}

int TArchiver::RunCommand(const std::string& line, const TCmdOpt& opt, const std::function<int()>& call) {
  CommandLine = line;
  struct Cleanup {
    const TCmdOpt& opt;
    ~Cleanup() { RemoveResponseFile(opt.ResponseFile()); }
  } cleanup{opt};
  return call();
}

std::string ExpandFileName(const std::string& name) {
  if (name.empty() || name[0] == '/') return name;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return full.string();
}

// ---- one library per format ----

void TBindingSlot::LoadDLL() {
  if (Dll) return;
  Dll = std::make_unique<TArchiverDll>(Caption, Prefix, DllName);
  Dll->Load();
}

TArchiverDll& TBindingSlot::Get() {
  if (!Dll) LoadDLL();
  return *Dll;
}

HARC TDllArchiver::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  return Dll().OpenArchive(wnd, ExpandFileName(fileName), mode);
}

int TDllArchiver::FindFirst(HARC handle, TArchiveEntryInfo* info, const std::string& wildName) {
  return Dll().FindFirst(handle, wildName, info);
}

int TDllArchiver::FindNext(HARC handle, TArchiveEntryInfo* info) { return Dll().FindNext(handle, info); }

int TDllArchiver::CloseArchive(HARC handle) { return Dll().CloseArchive(handle); }

int TDllArchiver::CheckArchive(const std::string& fileName, int mode, int extra) {
  return Dll().CheckArchive(fileName, mode + extra);
}

bool TDllArchiver::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  OwnerWindow = wnd;
  return Dll().SetOwnerWindowEx(wnd, callback) != 0;
}

bool TDllArchiver::KillOwnerWindowEx(ArcHWND wnd) {
  int result = Dll().KillOwnerWindowEx(wnd);
  OwnerWindow = nullptr;
  return result != 0;
}

int TDllArchiver::RunDll(ArcHWND wnd, const std::string& line, const TCmdOpt& opt, std::string& output) {
  return RunCommand(line, opt, [&] { return Dll().Command(wnd, line, OutputData(output), OutputLength(output)); });
}
