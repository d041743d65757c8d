#pragma once
// The plug-in host: finds "*.spi" files in its search folders, keeps the
// loaded plug-ins in order, registers the picture formats of picture
// plug-ins, and tells the plug-in graphics which plug-ins try a file first.
// One host per process (CurrentSPIs); it runs on the GUI thread only.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "image/SPI.h"
#include "platform/graphics/Graphic.h"

enum TSPISearchOption { spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir };
using TSPISearchOptions = std::set<TSPISearchOption>;

class TSPIs;
using TSPISearchEvent = std::function<void(TSPIs* Sender, TSPI* ASPI, bool& Accept)>;
using TSPISearchingEvent = std::function<void(TSPIs* Sender, const std::string& FileName, bool& Accept)>;
using TSPIPictureRegisterEvent = std::function<void(TSPIs* Sender, TInSPI* ASPI, const std::string& AExtension,
                                                    const std::string& ADescription, TGraphicClass& AGraphicClass)>;

// Where the Susie plug-in path is kept in the registry file.
extern const char* const kSusiePluginKey;  // "HKEY_CURRENT_USER\Software\Kirinaro\Susie\Plug-in"

class TSPIs {
 public:
  // Throws ESPIDupCreateSPIs "TSPIs は複数生成できません" while another host exists.
  TSPIs();
  ~TSPIs();
  TSPIs(const TSPIs&) = delete;
  TSPIs& operator=(const TSPIs&) = delete;

  // The end of loading from the form: searches "*.spi" when AutoSearch is set.
  // A host made in code and never "loaded" does not search by itself.
  void Loaded();

  int Count() const { return int(FList.size()); }
  TSPI* Items(int Index) const;
  void Add(std::unique_ptr<TSPI> ASPI) { Insert(Count(), std::move(ASPI)); }
  // Registers the formats of a picture plug-in; what OnPictureRegister
  // throws passes on (the plug-in stays in the list).
  void Insert(int Index, std::unique_ptr<TSPI> ASPI);
  void Delete(int Index);
  void Clear();
  // Compares ignoring ASCII case; -1 when none.
  int IndexOf(const std::string& FileName) const;
  // "*.spi" visits SearchOptions' folders; a mask with a folder visits only it.
  void Search(const std::string& Mask);
  // Appends to List the plug-ins of the given classes, those claiming
  // FileName's extension first (the last claimant in front), then the rest.
  void GetLoaders(const std::vector<TSPIClass>& Classes, std::vector<TSPI*>& List, const std::string& FileName) const;

  // The graphic class registered for plug-in formats.
  static void SetGraphicClass(TGraphicClass AClass);
  static TGraphicClass GraphicClass();

  // The folder searched for spsSystemDir / spsWindowsDir ("" when none).
  static std::string SystemFolder();
  static std::string WindowsFolder();

  bool MacBinary = true;
  bool GraphicPreview = false;
  TInSPI* GraphicForcedLoader = nullptr;  // not owned; Delete clears it
  bool AutoSearch = true;
  TSPISearchOptions SearchOptions{spsSusieDir, spsAppDir};
  TSPISearchEvent OnSearch;
  TSPISearchingEvent OnSearching;
  TSPIPictureRegisterEvent OnPictureRegister;

 private:
  void SearchFolder(std::string Folder, const std::string& Mask);
  void RegisterFormats(TInSPI* ASPI);
  bool Loads(const std::string& path) const;

  std::vector<std::unique_ptr<TSPI>> FList;
};

// The one host of the process, or null.
extern TSPIs* CurrentSPIs;

// The plug-in folder of this installation: spi/ beside the executable, or
// ../lib/tolvane/spi for an installed program.
std::string BundledSpiFolder();
// A fresh installation's registry points the Susie plug-in path at the
// bundled folder; an existing value is left alone.
void SeedSusiePluginPath();
