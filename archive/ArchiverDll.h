#pragma once
// The binding between the format archivers and the archiver libraries: loads a
// library on demand, resolves each entry once, calls it with the library's
// argument order, and turns a missing library or entry into an exception.
#include <array>
#include <cstdint>
#include <string>

#include "archive/ArchiverLibraryApi.h"
#include "platform/system/Exception.h"
#include "platform/system/Library.h"

class EArchiver : public Exception {
 public:
  using Exception::Exception;
};

class ENoArchiverDLL : public EArchiver {
 public:
  using EArchiver::EArchiver;
};

class EEntryNotFound : public EArchiver {
 public:
  using EArchiver::EArchiver;
};

// The library's 558-byte record followed by the 40 bytes this layer fills.
#pragma pack(push, 1)
struct TArchiveEntryInfo {
  ArcIndividualInfo Info;
  ArcFileTime LastWriteTime;
  ArcFileTime LastAccessTime;
  ArcFileTime CreationTime;
  int64_t OriginalSize;
  int64_t CompressedSize;
};
#pragma pack(pop)
static_assert(sizeof(TArchiveEntryInfo) == 598);
static_assert(offsetof(TArchiveEntryInfo, LastWriteTime) == 558);
static_assert(offsetof(TArchiveEntryInfo, LastAccessTime) == 566);
static_assert(offsetof(TArchiveEntryInfo, CreationTime) == 574);
static_assert(offsetof(TArchiveEntryInfo, OriginalSize) == 582);
static_assert(offsetof(TArchiveEntryInfo, CompressedSize) == 590);

// MS-DOS date and time to a FILETIME, taken as they are (no time-zone shift).
// False (and time untouched) for a date or time that does not exist.
bool DosDateTimeToFileTime(uint16_t date, uint16_t time, ArcFileTime* out);

// Full path of a loaded module, at most 256 characters; empty for none.
std::string ModuleFileName(HMODULE module);

class TCustomArchiverDll {
 public:
  enum TEntrySlot {
    esCommand,
    esOpenArchive,
    esCloseArchive,
    esFindFirst,
    esFindNext,
    esExtractMem,
    esCheckArchive,
    esSetOwnerWindowEx,
    esKillOwnerWindowEx,
    esGetWriteTimeEx,
    esGetCreateTimeEx,
    esGetAccessTimeEx,
    esGetOriginalSizeEx,
    esGetCompressedSizeEx,
    esGetArchiveType,
    kEntrySlotCount
  };

  virtual ~TCustomArchiverDll() = default;
  TCustomArchiverDll() = default;
  TCustomArchiverDll(const TCustomArchiverDll&) = delete;
  TCustomArchiverDll& operator=(const TCustomArchiverDll&) = delete;

  virtual void Load() = 0;
  virtual void Unload();
  virtual int Command(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize);
  virtual int CheckArchive(const std::string& fileName, int mode);
  virtual int CloseArchive(HARC handle);
  virtual int ExtractMem(ArcHWND wnd, const std::string& cmdLine, void* buffer, uint32_t size, int64_t* time,
                         uint16_t* attr, uint32_t* written);
  virtual int FindFirst(HARC handle, const std::string& wildName, TArchiveEntryInfo* info);
  virtual int FindNext(HARC handle, TArchiveEntryInfo* info);
  virtual int KillOwnerWindowEx(ArcHWND wnd);
  virtual HARC OpenArchive(ArcHWND wnd, const std::string& fileName, uint32_t mode);
  virtual int SetOwnerWindowEx(ArcHWND wnd, ArcArchiverProc callback);
  virtual int GetWriteTimeEx(HARC handle, ArcFileTime* time);
  virtual int GetCreateTimeEx(HARC handle, ArcFileTime* time);
  virtual int GetAccessTimeEx(HARC handle, ArcFileTime* time);
  virtual int GetOriginalSizeEx(HARC handle, int64_t* size);
  virtual int GetCompressedSizeEx(HARC handle, int64_t* size);
  virtual int GetArchiveType(const std::string& fileName);

  // Whether an entry slot holds an address (tests and diagnostics).
  bool IsResolved(TEntrySlot slot) const { return Entries[slot] != nullptr; }

 protected:
  // Makes the slot's entry callable if it can be: a layer over real libraries
  // loads and resolves here, and raises for what it must have.
  virtual void Bind(TEntrySlot /*slot*/) {}
  // The slot's entry after Bind; null when there is none.
  template <class Proc>
  Proc Entry(TEntrySlot slot);
  // True when the slot holds an address; a missing entry raises EEntryNotFound
  // when raiseIfMissing, else leaves the slot null.
  bool ResolveEntry(void*& slot, HMODULE module, const std::string& entryName, bool raiseIfMissing);
  void CompleteEntryInfo(HARC handle, TArchiveEntryInfo* info);

  void* Entries[kEntrySlotCount] = {};
};

class TArchiverDll : public TCustomArchiverDll {
 public:
  TArchiverDll(std::string caption, std::string prefix, std::string dllName)
      : Caption(std::move(caption)), DllName(std::move(dllName)), Prefix(std::move(prefix)) {}
  ~TArchiverDll() override;

  void Load() override;
  void Unload() override;

  HMODULE Handle = nullptr;
  const std::string Caption;
  const std::string DllName;
  const std::string Prefix;

 protected:
  void Bind(TEntrySlot slot) override;
};

// ZIP over three alternative libraries: UNZIP32 (extraction), LMZIP32
// (both), ZIP32J (creation).
class TZipDll : public TCustomArchiverDll {
 public:
  enum TZipModule { zmUnzip32, zmLmzip32, zmZip32j, kZipModuleCount };
  static const char* const kDllNames[kZipModuleCount];

  TZipDll() : DllNames{kDllNames[0], kDllNames[1], kDllNames[2]} {}
  // The same roles played by other files (the tests load theirs by path).
  explicit TZipDll(std::array<std::string, kZipModuleCount> dllNames) : DllNames(std::move(dllNames)) {}
  ~TZipDll() override;

  void Load() override;
  void Unload() override;
  int ZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize);
  int UnZipCommand(ArcHWND wnd, const std::string& cmdLine, char* output, uint32_t outputSize);
  // The owner window of the ZIP writer too: its progress goes to its own owner.
  void SetZipWriterOwner(ArcHWND wnd, ArcArchiverProc callback);
  void KillZipWriterOwner(ArcHWND wnd);

  bool IsLoaded(TZipModule m) const { return Modules[m] != nullptr; }
  bool IsUnZipResolved() const { return UnZipEntry != nullptr; }

  HMODULE Modules[kZipModuleCount] = {};
  const std::array<std::string, kZipModuleCount> DllNames;

 protected:
  void Bind(TEntrySlot slot) override;

 private:
  template <class Order>
  bool Resolve(void*& slot, const char* name, const Order& order, bool required);
  int RunCommand(void*& slot, const char* name, std::initializer_list<TZipModule> order, ArcHWND wnd,
                 const std::string& cmdLine, char* output, uint32_t outputSize);

  void* ZipEntry = nullptr;
  void* UnZipEntry = nullptr;
};
