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

template <class Proc>
Proc TCustomArchiverDll::Entry(TEntrySlot slot) {
  Bind(slot);
  return As<Proc>(Entries[slot]);
}

int TCustomArchiverDll::Command(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  auto proc = Entry<ArcCommandProc>(esCommand);
  return proc ? proc(wnd, cmdLine.c_str(), outputSize ? output : nullptr, outputSize) : -1;
}

int TCustomArchiverDll::CheckArchive(const std::string& fileName, int mode) {
  auto proc = Entry<ArcCheckArchiveProc>(esCheckArchive);
  return proc ? proc(fileName.c_str(), mode) : 0;
}

int TCustomArchiverDll::CloseArchive(HARC handle) {
  auto proc = Entry<ArcCloseArchiveProc>(esCloseArchive);
  return proc ? proc(handle) : -1;
}

int TCustomArchiverDll::ExtractMem(ArcHWND wnd, const std::string& cmdLine, void* buffer, uint32_t size, int64_t* time,
                                   uint16_t* attr, uint32_t* written) {
  auto proc = Entry<ArcExtractMemProc>(esExtractMem);
  return proc ? proc(wnd, cmdLine.c_str(), buffer, size, time, attr, written) : -1;
}

int TCustomArchiverDll::FindFirst(HARC handle, const std::string& wildName, TArchiveEntryInfo* info) {
  auto proc = Entry<ArcFindFirstProc>(esFindFirst);
  if (!proc) return -1;
  int result = proc(handle, wildName.c_str(), &info->Info);
  if (result == 0) CompleteEntryInfo(handle, info);
  return result;
}

int TCustomArchiverDll::FindNext(HARC handle, TArchiveEntryInfo* info) {
  auto proc = Entry<ArcFindNextProc>(esFindNext);
  if (!proc) return -1;
  int result = proc(handle, &info->Info);
  if (result == 0) CompleteEntryInfo(handle, info);
  return result;
}

int TCustomArchiverDll::KillOwnerWindowEx(ArcHWND wnd) {
  auto proc = Entry<ArcKillOwnerWindowExProc>(esKillOwnerWindowEx);
  return proc ? proc(wnd) : 0;
}

HARC TCustomArchiverDll::OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode) {
  auto proc = Entry<ArcOpenArchiveProc>(esOpenArchive);
  return proc ? proc(wnd, fileName.c_str(), mode) : nullptr;
}

int TCustomArchiverDll::SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback) {
  auto proc = Entry<ArcSetOwnerWindowExProc>(esSetOwnerWindowEx);
  return proc ? proc(wnd, callback) : 0;
}

int TCustomArchiverDll::GetWriteTimeEx(HARC handle, ArcFileTime* time) {
  auto proc = Entry<ArcGetTimeExProc>(esGetWriteTimeEx);
  return proc ? proc(handle, time) : 0;
}

int TCustomArchiverDll::GetCreateTimeEx(HARC handle, ArcFileTime* time) {
  auto proc = Entry<ArcGetTimeExProc>(esGetCreateTimeEx);
  return proc ? proc(handle, time) : 0;
}

int TCustomArchiverDll::GetAccessTimeEx(HARC handle, ArcFileTime* time) {
  auto proc = Entry<ArcGetTimeExProc>(esGetAccessTimeEx);
  return proc ? proc(handle, time) : 0;
}

int TCustomArchiverDll::GetOriginalSizeEx(HARC handle, int64_t* size) {
  auto proc = Entry<ArcGetSizeExProc>(esGetOriginalSizeEx);
  return proc ? proc(handle, size) : 0;
}

int TCustomArchiverDll::GetCompressedSizeEx(HARC handle, int64_t* size) {
  auto proc = Entry<ArcGetSizeExProc>(esGetCompressedSizeEx);
  return proc ? proc(handle, size) : 0;
}

int TCustomArchiverDll::GetArchiveType(const std::string& fileName) {
  auto proc = Entry<ArcGetArchiveTypeProc>(esGetArchiveType);
  return proc ? proc(fileName.c_str()) : 0;
}

// The record is packed (its layout is fixed), so its fields are filled through aligned
// locals: the libraries write through the pointers they are given.
void TCustomArchiverDll::CompleteEntryInfo(HARC handle, TArchiveEntryInfo* info) {
  const auto time = [&](int (TCustomArchiverDll::*get)(HARC, ArcFileTime*)) {
    ArcFileTime t{};
    if (!(this->*get)(handle, &t)) DosDateTimeToFileTime(info->Info.wDate, info->Info.wTime, &t);
    return t;
  };
  info->LastWriteTime = time(&TCustomArchiverDll::GetWriteTimeEx);
  info->LastAccessTime = time(&TCustomArchiverDll::GetAccessTimeEx);
  info->CreationTime = time(&TCustomArchiverDll::GetCreateTimeEx);
  int64_t size = 0;
  info->OriginalSize = GetOriginalSizeEx(handle, &size) ? size : info->Info.dwOriginalSize;
  info->CompressedSize = GetCompressedSizeEx(handle, &size) ? size : info->Info.dwCompressedSize;
}

// ---- TArchiverDll: one library, entries named prefix + suffix ----

namespace {
// How each slot is found in a library: the name after the prefix, whether the
// call loads the library first, whether a missing entry is an error.
struct EntryName {
  const char* suffix;
  bool load;
  bool required;
};
constexpr EntryName kEntryNames[TCustomArchiverDll::kEntrySlotCount] = {
    // Command is the prefix alone.
    {"", true, true},
    {"OpenArchive", true, true},
    {"CloseArchive", true, true},
    {"FindFirst", true, true},
    {"FindNext", false, true},
    {"ExtractMem", false, true},
    {"CheckArchive", true, true},
    {"SetOwnerWindowEx", false, true},
    {"KillOwnerWindowEx", false, true},
    {"GetWriteTimeEx", false, false},
    {"GetCreateTimeEx", false, false},
    {"GetAccessTimeEx", false, false},
    {"GetOriginalSizeEx", false, false},
    {"GetCompressedSizeEx", false, false},
    {"GetArchiveType", true, true}};
}  // namespace

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

void TArchiverDll::Bind(TEntrySlot slot) {
  const EntryName& entry = kEntryNames[slot];
  if (entry.load) Load();
  if (!Entries[slot]) ResolveEntry(Entries[slot], Handle, Prefix + entry.suffix, entry.required);
}

// ---- TZipDll: the first loaded library that exports a name wins ----

const char* const TZipDll::kDllNames[kZipModuleCount] = {"UNZIP32.DLL", "LMZIP32.DLL", "ZIP32J.DLL"};

namespace {
// Where each slot is looked for, in which library first; null names a slot
// ZIP has no entry for. Only UNZIP32 has the owner-window entries.
struct ZipEntryName {
  const char* name;
  bool load;
  bool required;
  std::array<TZipDll::TZipModule, 3> order;
  bool unzip32Only;
};
constexpr std::array<TZipDll::TZipModule, 3> kUnzipFirst{TZipDll::zmUnzip32, TZipDll::zmLmzip32, TZipDll::zmZip32j};
constexpr std::array<TZipDll::TZipModule, 3> kLmzipFirst{TZipDll::zmLmzip32, TZipDll::zmZip32j, TZipDll::zmUnzip32};
constexpr ZipEntryName kZipEntryNames[TCustomArchiverDll::kEntrySlotCount] = {
    {nullptr, false, false, {}, false},  // Command: ZipCommand, UnZipCommand
    {"UnZipOpenArchive", true, true, kLmzipFirst, false},
    {"UnZipCloseArchive", true, true, kLmzipFirst, false},
    {"UnZipFindFirst", true, true, kLmzipFirst, false},
    {"UnZipFindNext", false, true, kLmzipFirst, false},
    {"UnZipExtractMem", false, true, kUnzipFirst, false},
    {"UnZipCheckArchive", true, true, kUnzipFirst, false},
    {"UnZipSetOwnerWindowEx", false, true, {}, true},
    {"UnZipKillOwnerWindowEx", false, true, {}, true},
    {"UnzipGetWriteTimeEx", false, false, kLmzipFirst, false},
    {"UnZipGetCreateTimeEx", false, false, kLmzipFirst, false},
    {"UnZipGetAccessTimeEx", false, false, kLmzipFirst, false},
    {nullptr, false, false, {}, false},   // GetOriginalSizeEx
    {nullptr, false, false, {}, false},   // GetCompressedSizeEx
    {nullptr, false, false, {}, false}};  // GetArchiveType
}  // namespace

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

template <class Order>
bool TZipDll::Resolve(void*& slot, const char* name, const Order& order, bool required) {
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

void TZipDll::Bind(TEntrySlot slot) {
  const ZipEntryName& entry = kZipEntryNames[slot];
  if (!entry.name) return;
  if (entry.load) Load();
  if (!entry.unzip32Only) {
    Resolve(Entries[slot], entry.name, entry.order, entry.required);
    return;
  }
  if (!Entries[slot] && !Modules[zmUnzip32])
    throw EEntryNotFound(DllNames[zmUnzip32] + " に " + entry.name + " のエントリが見つかりません。");
  ResolveEntry(Entries[slot], Modules[zmUnzip32], entry.name, true);
}

int TZipDll::RunCommand(void*& slot, const char* name, std::initializer_list<TZipModule> order, ArcHWND wnd,
                        const std::string& cmdLine, char* output, uint32_t outputSize) {
  Load();
  Resolve(slot, name, order, true);
  return As<ArcCommandProc>(slot)(wnd, cmdLine.c_str(), outputSize ? output : nullptr, outputSize);
}

int TZipDll::ZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  return RunCommand(ZipEntry, "Zip", {zmZip32j, zmLmzip32}, wnd, cmdLine, output, outputSize);
}

void TZipDll::SetZipWriterOwner(ArcHWND wnd, ArcArchiverProc callback) {
  Load();
  if (!Modules[zmZip32j]) return;
  if (auto set = reinterpret_cast<ArcSetOwnerWindowExProc>(GetProcAddress(Modules[zmZip32j], "ZipSetOwnerWindowEx")))
    set(wnd, callback);
}

void TZipDll::KillZipWriterOwner(ArcHWND wnd) {
  if (!Modules[zmZip32j]) return;
  if (auto kill = reinterpret_cast<ArcKillOwnerWindowExProc>(GetProcAddress(Modules[zmZip32j], "ZipKillOwnerWindowEx")))
    kill(wnd);
}

int TZipDll::UnZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize) {
  return RunCommand(UnZipEntry, "UnZip", {zmUnzip32, zmLmzip32}, wnd, cmdLine, output, outputSize);
}
