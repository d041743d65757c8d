#include "archive/ArchiverDll.h"

#include <cstring>
#include <dlfcn.h>
#include <link.h>

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

template <class F>
F As(void* p) {
  return reinterpret_cast<F>(p);
}

}  // namespace

bool DosDateTimeToFileTime(uint16_t date, uint16_t time, ArcFileTime* out) {
  unsigned day = date & 31, month = (date >> 5) & 15, year = 1980 + (date >> 9);
  unsigned sec = (time & 31) * 2, minute = (time >> 5) & 63, hour = time >> 11;
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  unsigned last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day > last || hour > 23 || minute > 59 || sec > 59) return false;
  // 1601-01-01 is 134774 days before 1970-01-01.
  int64_t days = DaysFromCivil(year, month, day) + 134774;
  uint64_t ticks = (static_cast<uint64_t>(days) * 86400 + hour * 3600 + minute * 60 + sec) * 10000000ull;
  // The record sits packed inside an entry record: copied, not assigned.
  const ArcFileTime value{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  std::memcpy(out, &value, sizeof value);
  return true;
}

std::string ModuleFileName(HMODULE module) {
  if (!module) return {};
  link_map* map = nullptr;
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  std::string path = map->l_name;
  if (path.size() > 256) {
    size_t cut = 256;
    while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
    path.resize(cut);
  }
  return path;
}

// ---- TCustomArchiverDll: calls whatever the slots hold ----

void TCustomArchiverDll::Unload() {
  for (void*& e : Entries) e = nullptr;
}

bool TCustomArchiverDll::ResolveEntry(void*& slot, HMODULE module, const std::string& entryName, bool raiseIfMissing) {
  if (slot) return true;
  if (void* p = GetProcAddress(module, entryName.c_str())) {
    slot = p;
    return true;
  }
  if (raiseIfMissing)
    throw EEntryNotFound(ModuleFileName(module) + " に " + entryName + " のエントリが見つかりません。");
  return false;
}

int TCustomArchiverDll::Command(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  if (!Entries[esCommand]) return -1;
  std::string line = cmdLine;
  return As<ArcCommandProc>(Entries[esCommand])(wnd, line.c_str(), outputSize ? output : nullptr, outputSize);
}

int TCustomArchiverDll::CheckArchive(const std::string& fileName, int mode) {
  if (!Entries[esCheckArchive]) return 0;
  std::string name = fileName;
  return As<ArcCheckArchiveProc>(Entries[esCheckArchive])(name.c_str(), mode);
}

int TCustomArchiverDll::CloseArchive(HARC handle) {
  if (!Entries[esCloseArchive]) return -1;
  return As<ArcCloseArchiveProc>(Entries[esCloseArchive])(handle);
}

int TCustomArchiverDll::ExtractMem(ArcHWND wnd, const std::string& cmdLine, void* buffer, uint32_t size, int64_t* time,
                                   uint16_t* attr, uint32_t* written) {
  if (!Entries[esExtractMem]) return -1;
  std::string line = cmdLine;
  return As<ArcExtractMemProc>(Entries[esExtractMem])(wnd, line.c_str(), buffer, size, time, attr, written);
}

int TCustomArchiverDll::FindFirst(HARC handle, const std::string& wildName, TArchiveEntryInfo* info) {
  if (!Entries[esFindFirst]) return -1;
  std::string wild = wildName;
  int result = As<ArcFindFirstProc>(Entries[esFindFirst])(handle, wild.c_str(), &info->Info);
  if (result == 0) CompleteEntryInfo(handle, info);
  return result;
}

int TCustomArchiverDll::FindNext(HARC handle, TArchiveEntryInfo* info) {
  if (!Entries[esFindNext]) return -1;
  int result = As<ArcFindNextProc>(Entries[esFindNext])(handle, &info->Info);
  if (result == 0) CompleteEntryInfo(handle, info);
  return result;
}

int TCustomArchiverDll::KillOwnerWindowEx(ArcHWND wnd) {
  if (!Entries[esKillOwnerWindowEx]) return 0;
  return As<ArcKillOwnerWindowExProc>(Entries[esKillOwnerWindowEx])(wnd);
}

HARC TCustomArchiverDll::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  if (!Entries[esOpenArchive]) return nullptr;
  std::string name = fileName;
  return As<ArcOpenArchiveProc>(Entries[esOpenArchive])(wnd, name.c_str(), mode);
}

int TCustomArchiverDll::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  if (!Entries[esSetOwnerWindowEx]) return 0;
  return As<ArcSetOwnerWindowExProc>(Entries[esSetOwnerWindowEx])(wnd, callback);
}

int TCustomArchiverDll::GetWriteTimeEx(HARC handle, ArcFileTime* time) {
  return Entries[esGetWriteTimeEx] ? As<ArcGetTimeExProc>(Entries[esGetWriteTimeEx])(handle, time) : 0;
}

int TCustomArchiverDll::GetCreateTimeEx(HARC handle, ArcFileTime* time) {
  return Entries[esGetCreateTimeEx] ? As<ArcGetTimeExProc>(Entries[esGetCreateTimeEx])(handle, time) : 0;
}

int TCustomArchiverDll::GetAccessTimeEx(HARC handle, ArcFileTime* time) {
  return Entries[esGetAccessTimeEx] ? As<ArcGetTimeExProc>(Entries[esGetAccessTimeEx])(handle, time) : 0;
}

int TCustomArchiverDll::GetOriginalSizeEx(HARC handle, int64_t* size) {
  return Entries[esGetOriginalSizeEx] ? As<ArcGetSizeExProc>(Entries[esGetOriginalSizeEx])(handle, size) : 0;
}

int TCustomArchiverDll::GetCompressedSizeEx(HARC handle, int64_t* size) {
  return Entries[esGetCompressedSizeEx] ? As<ArcGetSizeExProc>(Entries[esGetCompressedSizeEx])(handle, size) : 0;
}

int TCustomArchiverDll::GetArchiveType(const std::string& fileName) {
  if (!Entries[esGetArchiveType]) return 0;
  std::string name = fileName;
  return As<ArcGetArchiveTypeProc>(Entries[esGetArchiveType])(name.c_str());
}

void TCustomArchiverDll::CompleteEntryInfo(HARC handle, TArchiveEntryInfo* info) {
  if (!GetWriteTimeEx(handle, &info->LastWriteTime))
    DosDateTimeToFileTime(info->Info.wDate, info->Info.wTime, &info->LastWriteTime);
  if (!GetAccessTimeEx(handle, &info->LastAccessTime))
    DosDateTimeToFileTime(info->Info.wDate, info->Info.wTime, &info->LastAccessTime);
  if (!GetCreateTimeEx(handle, &info->CreationTime))
    DosDateTimeToFileTime(info->Info.wDate, info->Info.wTime, &info->CreationTime);
  if (!GetOriginalSizeEx(handle, &info->OriginalSize)) info->OriginalSize = info->Info.dwOriginalSize;
  if (!GetCompressedSizeEx(handle, &info->CompressedSize)) info->CompressedSize = info->Info.dwCompressedSize;
}

// ---- TArchiverDll: one library, entries named prefix + suffix ----

TArchiverDll::~TArchiverDll() {
  if (Handle) FreeLibrary(Handle);
}

void TArchiverDll::Load() {
  if (!Handle) Handle = LoadLibrary(DllName);
  if (!Handle) throw ENoArchiverDLL(Caption + " を扱うには " + DllName + " が 必要です。");
}

void TArchiverDll::Unload() {
  TCustomArchiverDll::Unload();
  if (Handle) FreeLibrary(Handle);
  Handle = nullptr;
}

bool TArchiverDll::Resolve(TEntrySlot slot, const char* suffix, bool required) {
  return ResolveEntry(Entries[slot], Handle, Prefix + suffix, required);
}

int TArchiverDll::Command(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  Load();
  Resolve(esCommand, "");
  return TCustomArchiverDll::Command(wnd, cmdLine, output, outputSize);
}

int TArchiverDll::CheckArchive(const std::string& fileName, int mode) {
  Load();
  Resolve(esCheckArchive, "CheckArchive");
  return TCustomArchiverDll::CheckArchive(fileName, mode);
}

int TArchiverDll::CloseArchive(HARC handle) {
  Load();
  Resolve(esCloseArchive, "CloseArchive");
  return TCustomArchiverDll::CloseArchive(handle);
}

int TArchiverDll::ExtractMem(ArcHWND wnd, const std::string& cmdLine, void* buffer, uint32_t size, int64_t* time,
                             uint16_t* attr, uint32_t* written) {
  Resolve(esExtractMem, "ExtractMem");
  return TCustomArchiverDll::ExtractMem(wnd, cmdLine, buffer, size, time, attr, written);
}

int TArchiverDll::FindFirst(HARC handle, const std::string& wildName, TArchiveEntryInfo* info) {
  Load();
  Resolve(esFindFirst, "FindFirst");
  return TCustomArchiverDll::FindFirst(handle, wildName, info);
}

int TArchiverDll::FindNext(HARC handle, TArchiveEntryInfo* info) {
  Resolve(esFindNext, "FindNext");
  return TCustomArchiverDll::FindNext(handle, info);
}

int TArchiverDll::KillOwnerWindowEx(ArcHWND wnd) {
  Resolve(esKillOwnerWindowEx, "KillOwnerWindowEx");
  return TCustomArchiverDll::KillOwnerWindowEx(wnd);
}

HARC TArchiverDll::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  Load();
  Resolve(esOpenArchive, "OpenArchive");
  return TCustomArchiverDll::OpenArchive(wnd, fileName, mode);
}

int TArchiverDll::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  Resolve(esSetOwnerWindowEx, "SetOwnerWindowEx");
  return TCustomArchiverDll::SetOwnerWindowEx(wnd, callback);
}

int TArchiverDll::GetWriteTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(esGetWriteTimeEx, "GetWriteTimeEx", false);
  return TCustomArchiverDll::GetWriteTimeEx(handle, time);
}

int TArchiverDll::GetCreateTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(esGetCreateTimeEx, "GetCreateTimeEx", false);
  return TCustomArchiverDll::GetCreateTimeEx(handle, time);
}

int TArchiverDll::GetAccessTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(esGetAccessTimeEx, "GetAccessTimeEx", false);
  return TCustomArchiverDll::GetAccessTimeEx(handle, time);
}

int TArchiverDll::GetOriginalSizeEx(HARC handle, int64_t* size) {
  Resolve(esGetOriginalSizeEx, "GetOriginalSizeEx", false);
  return TCustomArchiverDll::GetOriginalSizeEx(handle, size);
}

int TArchiverDll::GetCompressedSizeEx(HARC handle, int64_t* size) {
  Resolve(esGetCompressedSizeEx, "GetCompressedSizeEx", false);
  return TCustomArchiverDll::GetCompressedSizeEx(handle, size);
}

int TArchiverDll::GetArchiveType(const std::string& fileName) {
  Load();
  Resolve(esGetArchiveType, "GetArchiveType");
  return TCustomArchiverDll::GetArchiveType(fileName);
}

// ---- TZipDll: the first loaded library that exports a name wins ----

const char* const TZipDll::kDllNames[kZipModuleCount] = {"UNZIP32.DLL", "LMZIP32.DLL", "ZIP32J.DLL"};

TZipDll::~TZipDll() {
  for (HMODULE& m : Modules)
    if (m) FreeLibrary(m);
}

void TZipDll::Load() {
  for (TZipModule m : {zmUnzip32, zmZip32j, zmLmzip32})
    if (!Modules[m]) Modules[m] = LoadLibrary(DllNames[m]);
}

void TZipDll::Unload() {
  for (HMODULE& m : Modules) {
    if (m) FreeLibrary(m);
    m = nullptr;
  }
  ZipEntry = nullptr;
  UnZipEntry = nullptr;
  TCustomArchiverDll::Unload();
}

bool TZipDll::Resolve(void*& slot, const char* name, std::initializer_list<TZipModule> order, bool required) {
  if (slot) return true;
  for (TZipModule m : order) {
    if (!Modules[m]) continue;
    std::string entry = name;
    // LMZIP32 spells its extraction entries "Unzip...".
    if (m == zmLmzip32 && entry.size() > 2 && entry[2] == 'Z') entry[2] = 'z';
    if (void* p = GetProcAddress(Modules[m], entry.c_str())) {
      slot = p;
      return true;
    }
  }
  if (required) throw EEntryNotFound(std::string(name) + " のエントリが DLL に見つかりませんでした。");
  return false;
}

int TZipDll::ZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  Load();
  Resolve(ZipEntry, "Zip", {zmZip32j, zmLmzip32}, true);
  std::string line = cmdLine;
  return As<ArcCommandProc>(ZipEntry)(wnd, line.c_str(), outputSize ? output : nullptr, outputSize);
}

int TZipDll::UnZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  Load();
  Resolve(UnZipEntry, "UnZip", {zmUnzip32, zmLmzip32}, true);
  std::string line = cmdLine;
  return As<ArcCommandProc>(UnZipEntry)(wnd, line.c_str(), outputSize ? output : nullptr, outputSize);
}

int TZipDll::CheckArchive(const std::string& fileName, int mode) {
  Load();
  Resolve(Entries[esCheckArchive], "UnZipCheckArchive", {zmUnzip32, zmLmzip32, zmZip32j}, true);
  return TCustomArchiverDll::CheckArchive(fileName, mode);
}

int TZipDll::CloseArchive(HARC handle) {
  Load();
  Resolve(Entries[esCloseArchive], "UnZipCloseArchive", {zmLmzip32, zmZip32j, zmUnzip32}, true);
  return TCustomArchiverDll::CloseArchive(handle);
}

int TZipDll::ExtractMem(ArcHWND wnd, const std::string& cmdLine, void* buffer, uint32_t size, int64_t* time,
                        uint16_t* attr, uint32_t* written) {
  Resolve(Entries[esExtractMem], "UnZipExtractMem", {zmUnzip32, zmLmzip32, zmZip32j}, true);
  return TCustomArchiverDll::ExtractMem(wnd, cmdLine, buffer, size, time, attr, written);
}

int TZipDll::FindFirst(HARC handle, const std::string& wildName, TArchiveEntryInfo* info) {
  Load();
  Resolve(Entries[esFindFirst], "UnZipFindFirst", {zmLmzip32, zmZip32j, zmUnzip32}, true);
  return TCustomArchiverDll::FindFirst(handle, wildName, info);
}

int TZipDll::FindNext(HARC handle, TArchiveEntryInfo* info) {
  Resolve(Entries[esFindNext], "UnZipFindNext", {zmLmzip32, zmZip32j, zmUnzip32}, true);
  return TCustomArchiverDll::FindNext(handle, info);
}

void TZipDll::ResolveInUnzip32(void*& slot, const char* name) {
  if (!slot && !Modules[zmUnzip32])
    throw EEntryNotFound(DllNames[zmUnzip32] + " に " + name + " のエントリが見つかりません。");
  ResolveEntry(slot, Modules[zmUnzip32], name, true);
}

int TZipDll::KillOwnerWindowEx(ArcHWND wnd) {
  ResolveInUnzip32(Entries[esKillOwnerWindowEx], "UnZipKillOwnerWindowEx");
  return TCustomArchiverDll::KillOwnerWindowEx(wnd);
}

HARC TZipDll::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  Load();
  Resolve(Entries[esOpenArchive], "UnZipOpenArchive", {zmLmzip32, zmZip32j, zmUnzip32}, true);
  return TCustomArchiverDll::OpenArchive(wnd, fileName, mode);
}

int TZipDll::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  ResolveInUnzip32(Entries[esSetOwnerWindowEx], "UnZipSetOwnerWindowEx");
  return TCustomArchiverDll::SetOwnerWindowEx(wnd, callback);
}

int TZipDll::GetWriteTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(Entries[esGetWriteTimeEx], "UnzipGetWriteTimeEx", {zmLmzip32, zmZip32j, zmUnzip32}, false);
  return TCustomArchiverDll::GetWriteTimeEx(handle, time);
}

int TZipDll::GetCreateTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(Entries[esGetCreateTimeEx], "UnZipGetCreateTimeEx", {zmLmzip32, zmZip32j, zmUnzip32}, false);
  return TCustomArchiverDll::GetCreateTimeEx(handle, time);
}

int TZipDll::GetAccessTimeEx(HARC handle, ArcFileTime* time) {
  Resolve(Entries[esGetAccessTimeEx], "UnZipGetAccessTimeEx", {zmLmzip32, zmZip32j, zmUnzip32}, false);
  return TCustomArchiverDll::GetAccessTimeEx(handle, time);
}
