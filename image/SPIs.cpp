#include "image/SPIs.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

// Wherever the host is, the plug-in graphics unit starts too: it names the
// class that plug-in formats are registered with.
#include "image/SPIBitmap.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/state/IniFile.h"
#include "platform/system/Library.h"
#include "platform/state/Registry.h"

TSPIs* CurrentSPIs = nullptr;

const char* const kSusiePluginKey = "HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in";

namespace {

TGraphicClass spiGraphicClass = nullptr;

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// From the last '.' of the text, with the dot; empty when none.
std::string LastExtension(const std::string& text) {
  size_t dot = text.rfind('.');
  return dot == std::string::npos ? std::string() : text.substr(dot);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TSPIs::TSPIs() {
  if (CurrentSPIs) throw ESPIDupCreateSPIs("TSPIs は複数生成できません");
  CurrentSPIs = this;
}

TSPIs::~TSPIs() {
  if (CurrentSPIs == this) CurrentSPIs = nullptr;
  GraphicForcedLoader = nullptr;
  FList.clear();
}

void TSPIs::Loaded() {
  if (AutoSearch) Search("*.spi");
}

TSPI* TSPIs::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Index);
  return FList[size_t(Index)].get();
}

void TSPIs::Insert(int Index, std::unique_ptr<TSPI> ASPI) {
  if (!ASPI) return;
  if (Index < 0 || Index > Count()) throw EListError(Index);
  TSPI* spi = ASPI.get();
  FList.insert(FList.begin() + Index, std::move(ASPI));
  if (spi->InheritsFrom(TInSPI::StaticClass())) RegisterFormats(static_cast<TInSPI*>(spi));
}

void TSPIs::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EListError(Index);
  // The forced loader must never point at a freed plug-in.
  if (GraphicForcedLoader == FList[size_t(Index)].get()) GraphicForcedLoader = nullptr;
  FList.erase(FList.begin() + Index);
}

void TSPIs::Clear() {
  while (Count() > 0) Delete(0);
}

int TSPIs::IndexOf(const std::string& FileName) const {
  for (int i = 0; i < Count(); ++i)
    if (EqualNoCase(FList[size_t(i)]->FileName, FileName)) return i;
  return -1;
}

void TSPIs::SetGraphicClass(TGraphicClass AClass) { spiGraphicClass = AClass; }
TGraphicClass TSPIs::GraphicClass() { return spiGraphicClass; }

void TSPIs::RegisterFormats(TInSPI* ASPI) {
  for (size_t i = 0; i < ASPI->Extensions.size(); ++i) {
    TGraphicClass cls = spiGraphicClass;  // once per format: a handler's change carries over
    const std::string& filter = ASPI->Extensions[i];
    const std::string description = i < ASPI->Descriptions.size() ? ASPI->Descriptions[i] : std::string();
    size_t pos = 0;
    while (pos <= filter.size()) {
      size_t end = filter.find(';', pos);
      if (end == std::string::npos) end = filter.size();
      std::string piece = filter.substr(pos, end - pos);
      pos = end + 1;
      size_t dot = piece.find('.');
      std::string ext = dot == std::string::npos ? piece : piece.substr(dot + 1);
      if (ext.empty()) continue;  // "*.JPG;" names nothing after its ';'
      if (OnPictureRegister) OnPictureRegister(this, ASPI, ext, description, cls);
      if (cls) RegisterFileFormat(ext, description, cls);
    }
  }
}

bool TSPIs::Loads(const std::string& path) const {
  if (IndexOf(path) >= 0) return true;
  // The same file reached through another spelling or a link.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return std::any_of(FList.begin(), FList.end(), [&](const std::unique_ptr<TSPI>& spi) {
    return spi->Inode != 0 && spi->Device == st.st_dev && spi->Inode == st.st_ino;
  });
}

void TSPIs::SearchFolder(std::string Folder, const std::string& Mask) {
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
  DIR* dir = ::opendir(Folder.empty() ? "." : Folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden, "." and ".."
    if (::fnmatch(Mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    struct stat st {};
    std::string path = (Folder.empty() ? "./" : Folder) + name;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(dir);
  // Name order, so that the loader order does not hang on the file system.
  std::sort(names.begin(), names.end());

  std::vector<std::string> paths;
  for (const std::string& name : names) {
    std::string path = (Folder.empty() ? "./" : Folder) + name;
    if (!Loads(path)) paths.push_back(path);
  }
  for (const std::string& path : paths) {
    if (Loads(path)) continue;  // an earlier path of this folder was the same file
    bool accept = true;
    if (OnSearching) OnSearching(this, path, accept);
    if (!accept) continue;
    std::unique_ptr<TSPI> spi = CreateSPI(path);
    if (!spi) continue;
    try {
      accept = true;
      if (OnSearch) OnSearch(this, spi.get(), accept);
      if (accept) Add(std::move(spi));
    } catch (const std::exception&) {
      // A veto that fails frees the plug-in; a failed registration keeps it listed.
    }
  }
}

void TSPIs::Search(const std::string& Mask) {
  size_t slash = Mask.rfind('/');
  if (slash != std::string::npos) {
    SearchFolder(Mask.substr(0, slash + 1), Mask.substr(slash + 1));
    return;
  }
  if (SearchOptions.count(spsSusieDir)) {
    try {
      std::string path;
      if (RegReadString(kSusiePluginKey, "Path", path) && !path.empty()) SearchFolder(path, Mask);
    } catch (const std::exception&) {
    }
  }
  if (SearchOptions.count(spsAppDir)) SearchFolder(ExecutableFolder(), Mask);
  if (SearchOptions.count(spsCurrentDir)) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf)) SearchFolder(buf, Mask);
  }
  if (SearchOptions.count(spsSystemDir)) {
    std::string folder = SystemFolder();
    if (!folder.empty()) SearchFolder(folder, Mask);
  }
  if (SearchOptions.count(spsWindowsDir)) {
    std::string folder = WindowsFolder();
    if (!folder.empty()) SearchFolder(folder, Mask);
  }
}

void TSPIs::GetLoaders(const std::vector<TSPIClass>& Classes, std::vector<TSPI*>& List,
                       const std::string& FileName) const {
  size_t slash = FileName.rfind('/');
  std::string ext = LastExtension(slash == std::string::npos ? FileName : FileName.substr(slash + 1));
  for (const std::unique_ptr<TSPI>& spi : FList) {
    if (std::none_of(Classes.begin(), Classes.end(), [&](TSPIClass c) { return spi->InheritsFrom(c); })) continue;
    bool claims =
        !ext.empty() && std::any_of(spi->Extensions.begin(), spi->Extensions.end(),
                                    [&](const std::string& filter) { return EqualNoCase(LastExtension(filter), ext); });
    if (claims)
      List.insert(List.begin(), spi.get());
    else
      List.push_back(spi.get());
  }
}

std::string TSPIs::SystemFolder() {
  // Where the system's own shared libraries live: the C library's folder.
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&::fopen), &info) && info.dli_fname) return FolderOf(info.dli_fname);
  return {};
}

std::string TSPIs::WindowsFolder() { return IsFolder("/usr/lib") ? "/usr/lib" : std::string(); }

std::string BundledSpiFolder() {
  const std::string exe = ExecutableFolder();
  const std::string beside = (exe == "/" ? "" : exe) + "/spi";
  if (IsFolder(beside)) return beside;
  const std::string installed = FolderOf(exe) + "/lib/tolvane/spi";
  if (IsFolder(installed)) return installed;
  return beside;
}

void SeedSusiePluginPath() {
  std::string path;
  if (RegReadString(kSusiePluginKey, "Path", path) && !path.empty()) return;
  TIniFile ini(RegistryFilePath());
  ini.WriteString(NormalizeRegistryKey(kSusiePluginKey), "Path", BundledSpiFolder());
  ini.UpdateFile();
}
