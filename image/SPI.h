#pragma once
// One loaded Susie plug-in (a shared library "*.spi"), of the class its API
// version asks for. The object owns the library: it is loaded in the
// constructor's second phase and released when the object dies.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "image/SusiePluginApi.h"
#include "platform/system/Exception.h"

class ESPIInvalidSPI : public Exception {
 public:
  using Exception::Exception;
};
// "%s:Susie Pluginがロードできませんでした"
class ESPIFOpenErrorSPI : public Exception {
 public:
  using Exception::Exception;
};
// "%sは[%s]では使えないSusie Plugin APIです"
class ESPIInvalidAPI : public Exception {
 public:
  using Exception::Exception;
};
// "TSPIs は複数生成できません"
class ESPIDupCreateSPIs : public Exception {
 public:
  using Exception::Exception;
};

class TSPI;

// A class reference: the run-time choice of a plug-in class, its virtual
// constructor and the answer of KnownKind.
struct TSPIClassInfo {
  const char* ClassName;
  const TSPIClassInfo* Parent;
  std::unique_ptr<TSPI> (*Create)(const std::string& FileName);  // null: never created directly
  bool KnownKind;
};
using TSPIClass = const TSPIClassInfo*;

class TSPI {
 public:
  virtual ~TSPI();
  TSPI(const TSPI&) = delete;
  TSPI& operator=(const TSPI&) = delete;

  // Loads FileName as an object of this class; throws ESPIFOpenErrorSPI or
  // ESPIInvalidAPI (the library is released again then).
  static std::unique_ptr<TSPI> Create(const std::string& FileName);
  static TSPIClass StaticClass();
  virtual TSPIClass ClassType() const;
  bool InheritsFrom(TSPIClass cls) const;

  // Throws ESPIInvalidAPI for the first required entry point that is missing.
  virtual void CheckAPI();
  virtual bool KnownKind() const { return ClassType()->KnownKind; }

  void* GetProc(const char* Name) const;
  // Throws ESPIInvalidAPI when Proc is null.
  void CheckProc(const void* Proc, const char* Name) const;

  int32_t GetPluginInfo(int32_t InfoNo, char* Buf, int32_t BufLen);

  void* Handle = nullptr;
  std::string FileName;
  std::string APIVersion;
  std::string PluginInfo;
  std::vector<std::string> Extensions;    // filter of format i: "*.JPG;*.JPEG"
  std::vector<std::string> Descriptions;  // name of format i
  bool FKnownKind = false;
  // The file's identity, so that one file reached by two paths loads once.
  dev_t Device = 0;
  ino_t Inode = 0;

  SusieGetPluginInfoFunc FGetPluginInfo = nullptr;
  SusieIsSupportedFunc FIsSupported = nullptr;
  SusieGetPictureInfoFunc FGetPictureInfo = nullptr;
  SusieGetPictureFunc FGetPicture = nullptr;
  SusieGetPreviewFunc FGetPreview = nullptr;
  SusieGetPictureFitFunc FGetPictureFit = nullptr;  // our own, optional
  SusieGetArchiveInfoFunc FGetArchiveInfo = nullptr;
  SusieGetFileInfoFunc FGetFileInfo = nullptr;
  SusieGetFileFunc FGetFile = nullptr;
  SusieConfigurationDlgFunc FConfigurationDlg = nullptr;

 protected:
  TSPI() = default;
  // The constructor proper, run once the object's class is final so that
  // CheckAPI is the actual class's.
  void Load(const std::string& FileName);

  template <class T>
  static std::unique_ptr<TSPI> CreateAs(const std::string& FileName) {
    std::unique_ptr<TSPI> spi(new T());
    spi->Load(FileName);
    return spi;
  }
};

class TLoaderSPI : public TSPI {
 public:
  static TSPIClass StaticClass();
  TSPIClass ClassType() const override;
  void CheckAPI() override;

  int32_t IsSupported(const char* FileName, const void* Head);

 protected:
  TLoaderSPI() = default;
};

// "00IN": reads pictures.
class TInSPI : public TLoaderSPI {
 public:
  static std::unique_ptr<TSPI> Create(const std::string& FileName) { return CreateAs<TInSPI>(FileName); }
  static TSPIClass StaticClass();
  TSPIClass ClassType() const override;
  void CheckAPI() override;

  int32_t GetPictureInfo(const char* Buf, intptr_t Len, uint32_t Flag, SusiePictureInfo* Info);
  int32_t GetPicture(const char* Buf, intptr_t Len, uint32_t Flag, void** HBInfo, void** HBm,
                     SusieProgressCallback Callback, intptr_t Data);
  // Optional: throws ESPIInvalidAPI when the plug-in has none.
  int32_t GetPreview(const char* Buf, intptr_t Len, uint32_t Flag, void** HBInfo, void** HBm,
                     SusieProgressCallback Callback, intptr_t Data);
  // Our own entry point, in our plug-ins only: a picture fitted while it decodes.
  bool HasPictureFit() const { return FGetPictureFit != nullptr; }
  // Optional: throws ESPIInvalidAPI when the plug-in has none.
  int32_t GetPictureFit(const char* Buf, intptr_t Len, uint32_t Flag, int32_t MaxWidth, int32_t MaxHeight,
                        uint64_t MemoryLimit, void** HBInfo, void** HBm, SusieProgressCallback Callback, intptr_t Data);

 protected:
  friend class TSPI;
  TInSPI() = default;
};

// "00AM": reads archives. Loaded and checked, never called.
class TAmSPI : public TLoaderSPI {
 public:
  static std::unique_ptr<TSPI> Create(const std::string& FileName) { return CreateAs<TAmSPI>(FileName); }
  static TSPIClass StaticClass();
  TSPIClass ClassType() const override;
  void CheckAPI() override;

 protected:
  friend class TSPI;
  TAmSPI() = default;
};

// "00XN".
class TXnSPI : public TSPI {
 public:
  static std::unique_ptr<TSPI> Create(const std::string& FileName) { return CreateAs<TXnSPI>(FileName); }
  static TSPIClass StaticClass();
  TSPIClass ClassType() const override;

 protected:
  friend class TSPI;
  TXnSPI() = default;
};

// The plug-in for FileName as the class its API version names, or null when
// it cannot be loaded or lacks an entry point that class needs.
std::unique_ptr<TSPI> CreateSPI(const std::string& FileName);
