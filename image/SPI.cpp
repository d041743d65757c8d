#include "image/SPI.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/system/Library.h"

namespace {

// A plug-in that keeps answering would make the format list endless.
constexpr int kMaxFormats = 1024;

std::string Answer(const char* buf) { return std::string(buf, ::strnlen(buf, 255)); }

// The path the dynamic loader reports for the module; empty when none.
std::string ModuleFileName(void* handle) {
  struct link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;  // whole: a cut path would name another file
}

}  // namespace

TSPI::~TSPI() {
  if (Handle) FreeLibrary(Handle);
}

TSPIClass TSPI::StaticClass() {
  static const TSPIClassInfo info{"TSPI", nullptr, &TSPI::CreateAs<TSPI>, false};
  return &info;
}
TSPIClass TSPI::ClassType() const { return StaticClass(); }

std::unique_ptr<TSPI> TSPI::Create(const std::string& FileName) { return CreateAs<TSPI>(FileName); }

bool TSPI::InheritsFrom(TSPIClass cls) const {
  for (TSPIClass c = ClassType(); c; c = c->Parent)
    if (c == cls) return true;
  return false;
}

void TSPI::Load(const std::string& fileName) {
  // Only a path: a bare name would send the loader through its own search.
  std::string path = fileName.find('/') == std::string::npos ? "./" + fileName : fileName;
  Handle = LoadLibrary(path);
  if (!Handle) throw ESPIFOpenErrorSPI(fileName + ":Susie Pluginがロードできませんでした");
  std::string reported = ModuleFileName(Handle);
  FileName = reported.empty() ? fileName : reported;
  struct stat st {};
  if (::stat(FileName.c_str(), &st) == 0) {
    Device = st.st_dev;
    Inode = st.st_ino;
  }

  FGetPluginInfo = reinterpret_cast<SusieGetPluginInfoFunc>(GetProc("GetPluginInfo"));
  FConfigurationDlg = reinterpret_cast<SusieConfigurationDlgFunc>(GetProc("ConfigurationDlg"));
  FIsSupported = reinterpret_cast<SusieIsSupportedFunc>(GetProc("IsSupported"));
  FGetPictureInfo = reinterpret_cast<SusieGetPictureInfoFunc>(GetProc("GetPictureInfo"));
  FGetPicture = reinterpret_cast<SusieGetPictureFunc>(GetProc("GetPicture"));
  FGetPreview = reinterpret_cast<SusieGetPreviewFunc>(GetProc("GetPreview"));
  FGetPictureFit = reinterpret_cast<SusieGetPictureFitFunc>(GetProc(SUSIE_GET_PICTURE_FIT));
  FGetArchiveInfo = reinterpret_cast<SusieGetArchiveInfoFunc>(GetProc("GetArchiveInfo"));
  FGetFileInfo = reinterpret_cast<SusieGetFileInfoFunc>(GetProc("GetFileInfo"));
  FGetFile = reinterpret_cast<SusieGetFileFunc>(GetProc("GetFile"));

  CheckAPI();

  char buf[256];
  std::memset(buf, 0, sizeof buf);
  if (GetPluginInfo(0, buf, 255) > 0) APIVersion = Answer(buf);
  std::memset(buf, 0, sizeof buf);
  if (GetPluginInfo(1, buf, 255) > 0) PluginInfo = Answer(buf);

  for (int n = 2; n < 2 + 2 * kMaxFormats; n += 2) {
    char ext[256], desc[256];
    std::memset(ext, 0, sizeof ext);
    std::memset(desc, 0, sizeof desc);
    if (GetPluginInfo(n, ext, 255) <= 0) break;
    if (GetPluginInfo(n + 1, desc, 255) <= 0) break;
    Extensions.push_back(Answer(ext));
    Descriptions.push_back(Answer(desc));
  }
  FKnownKind = KnownKind();
}

void* TSPI::GetProc(const char* Name) const {
  if (!Handle) return nullptr;
  dlerror();
  return ::dlsym(Handle, Name);
}

void TSPI::CheckProc(const void* Proc, const char* Name) const {
  if (!Proc) throw ESPIInvalidAPI(std::string(Name) + "は[" + FileName + "]では使えないSusie Plugin APIです");
}

void TSPI::CheckAPI() { CheckProc(reinterpret_cast<const void*>(FGetPluginInfo), "GetPluginInfo"); }

int32_t TSPI::GetPluginInfo(int32_t InfoNo, char* Buf, int32_t BufLen) {
  CheckProc(reinterpret_cast<const void*>(FGetPluginInfo), "GetPluginInfo");
  return FGetPluginInfo(InfoNo, Buf, BufLen);
}

TSPIClass TLoaderSPI::StaticClass() {
  static const TSPIClassInfo info{"TLoaderSPI", TSPI::StaticClass(), nullptr, false};
  return &info;
}
TSPIClass TLoaderSPI::ClassType() const { return StaticClass(); }

void TLoaderSPI::CheckAPI() {
  TSPI::CheckAPI();
  CheckProc(reinterpret_cast<const void*>(FIsSupported), "IsSupported");
}

int32_t TLoaderSPI::IsSupported(const char* FileName, const void* Head) {
  CheckProc(reinterpret_cast<const void*>(FIsSupported), "IsSupported");
  return FIsSupported(FileName, Head);
}

TSPIClass TInSPI::StaticClass() {
  static const TSPIClassInfo info{"TInSPI", TLoaderSPI::StaticClass(), &TInSPI::Create, true};
  return &info;
}
TSPIClass TInSPI::ClassType() const { return StaticClass(); }

void TInSPI::CheckAPI() {
  TLoaderSPI::CheckAPI();
  CheckProc(reinterpret_cast<const void*>(FGetPictureInfo), "GetPictureInfo");
  CheckProc(reinterpret_cast<const void*>(FGetPicture), "GetPicture");
}

int32_t TInSPI::GetPictureInfo(const char* Buf, intptr_t Len, uint32_t Flag, SusiePictureInfo* Info) {
  CheckProc(reinterpret_cast<const void*>(FGetPictureInfo), "GetPictureInfo");
  return FGetPictureInfo(Buf, Len, Flag, Info);
}

int32_t TInSPI::GetPicture(const char* Buf, intptr_t Len, uint32_t Flag, void** HBInfo, void** HBm,
                           SusieProgressCallback Callback, intptr_t Data) {
  CheckProc(reinterpret_cast<const void*>(FGetPicture), "GetPicture");
  return FGetPicture(Buf, Len, Flag, HBInfo, HBm, Callback, Data);
}

int32_t TInSPI::GetPreview(const char* Buf, intptr_t Len, uint32_t Flag, void** HBInfo, void** HBm,
                           SusieProgressCallback Callback, intptr_t Data) {
  CheckProc(reinterpret_cast<const void*>(FGetPreview), "GetPreview");
  return FGetPreview(Buf, Len, Flag, HBInfo, HBm, Callback, Data);
}

int32_t TInSPI::GetPictureFit(const char* Buf, intptr_t Len, uint32_t Flag, int32_t MaxWidth, int32_t MaxHeight,
                              uint64_t MemoryLimit, void** HBInfo, void** HBm, SusieProgressCallback Callback,
                              intptr_t Data) {
  CheckProc(reinterpret_cast<const void*>(FGetPictureFit), SUSIE_GET_PICTURE_FIT);
  return FGetPictureFit(Buf, Len, Flag, MaxWidth, MaxHeight, MemoryLimit, HBInfo, HBm, Callback, Data);
}

TSPIClass TAmSPI::StaticClass() {
  static const TSPIClassInfo info{"TAmSPI", TLoaderSPI::StaticClass(), &TAmSPI::Create, true};
  return &info;
}
TSPIClass TAmSPI::ClassType() const { return StaticClass(); }

void TAmSPI::CheckAPI() {
  TLoaderSPI::CheckAPI();
  CheckProc(reinterpret_cast<const void*>(FGetArchiveInfo), "GetArchiveInfo");
  CheckProc(reinterpret_cast<const void*>(FGetFileInfo), "GetFileInfo");
  CheckProc(reinterpret_cast<const void*>(FGetFile), "GetFile");
}

TSPIClass TXnSPI::StaticClass() {
  static const TSPIClassInfo info{"TXnSPI", TSPI::StaticClass(), &TXnSPI::Create, false};
  return &info;
}
TSPIClass TXnSPI::ClassType() const { return StaticClass(); }

std::unique_ptr<TSPI> CreateSPI(const std::string& FileName) {
  try {
    std::unique_ptr<TSPI> probe = TSPI::Create(FileName);
    TSPIClass cls = probe->APIVersion == "00IN"   ? TInSPI::StaticClass()
                    : probe->APIVersion == "00AM" ? TAmSPI::StaticClass()
                    : probe->APIVersion == "00XN" ? TXnSPI::StaticClass()
                                                  : TSPI::StaticClass();
    std::unique_ptr<TSPI> result = cls->Create(FileName);
    probe.reset();
    return result;
  } catch (const ESPIFOpenErrorSPI&) {
  } catch (const ESPIInvalidSPI&) {
  } catch (const ESPIInvalidAPI&) {
  }
  return nullptr;
}
