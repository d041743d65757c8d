// The plug-in host: search, class choice, registration, loader order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "EnvGuard.h"
#include "SpiTestSupport.h"
#include "image/SPIBitmap.h"
#include "image/SPIs.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/state/IniFile.h"
#include "platform/state/Registry.h"

namespace {

std::vector<std::string> Names(const TSPIs& host) {
  std::vector<std::string> names;
  for (int i = 0; i < host.Count(); ++i)
    names.push_back(std::filesystem::path(host.Items(i)->FileName).filename().string());
  return names;
}

std::vector<std::string> Names(const std::vector<TSPI*>& list) {
  std::vector<std::string> names;
  for (TSPI* spi : list) names.push_back(std::filesystem::path(spi->FileName).filename().string());
  return names;
}

void SetSusiePath(const std::string& folder) {
  TIniFile ini(RegistryFilePath());
  ini.WriteString(kSusiePluginKey, "Path", folder);
  ini.UpdateFile();
}

// The process's current folder for the span of a scope.
class CwdGuard {
 public:
  explicit CwdGuard(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~CwdGuard() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

}  // namespace

TEST(SPIHost, SearchChoosesTheClassByVersionAndSkipsWhatItCannotUse) {
  TempDir dir;
  CopySpi(dir.path(), "tstam", "am.spi");
  CopySpi(dir.path(), "tstin", "in.spi");
  CopySpi(dir.path(), "tstin", "other.spi", "version=ZZ01\n");
  CopySpi(dir.path(), "tstin", "xn.spi", "version=00XN\n");
  CopySpi(dir.path(), "tstnoinfo", "noinfo.spi");        // no GetPluginInfo
  CopySpi(dir.path(), "tstnopicture", "nopicture.spi");  // "00IN" without GetPicture
  CopySpi(dir.path(), "tstin", ".hidden.spi");
  dir.dir("folder.spi");
  dir.file("broken.spi", "not a library");
  dir.file("readme.txt", "x");

  TSPIs host;
  host.Search(dir.path() + "/*.spi");
  ASSERT_EQ(Names(host), (std::vector<std::string>{"am.spi", "in.spi", "other.spi", "xn.spi"}));

  EXPECT_EQ(host.Items(0)->ClassType(), TAmSPI::StaticClass());
  EXPECT_TRUE(host.Items(0)->FKnownKind);
  EXPECT_TRUE(host.Items(0)->InheritsFrom(TLoaderSPI::StaticClass()));
  EXPECT_EQ(host.Items(1)->ClassType(), TInSPI::StaticClass());
  EXPECT_TRUE(host.Items(1)->KnownKind());
  EXPECT_EQ(host.Items(2)->ClassType(), TSPI::StaticClass());
  EXPECT_FALSE(host.Items(2)->KnownKind());
  EXPECT_EQ(host.Items(3)->ClassType(), TXnSPI::StaticClass());
  EXPECT_FALSE(host.Items(3)->FKnownKind);

  TSPI* in = host.Items(1);
  EXPECT_EQ(in->FileName, dir / "in.spi");
  EXPECT_EQ(in->APIVersion, "00IN");
  EXPECT_EQ(in->PluginInfo, "Tolvane test plug-in");
  EXPECT_EQ(in->Extensions, std::vector<std::string>{"*.TST"});
  EXPECT_EQ(in->Descriptions, std::vector<std::string>{"Tolvane test picture"});

  // A second search loads nothing twice.
  host.Search(dir.path() + "/*.spi");
  EXPECT_EQ(host.Count(), 4);
}

TEST(SPIHost, LoadFailuresCarryTheirMessages) {
  TempDir dir;
  std::string broken = dir.file("broken.spi", "not a library");
  try {
    TSPI::Create(broken);
    FAIL() << "loaded a text file";
  } catch (const ESPIFOpenErrorSPI& e) {
    EXPECT_EQ(e.Message, broken + ":Susie Pluginがロードできませんでした");
  }
  EXPECT_EQ(CreateSPI(broken), nullptr);
  EXPECT_EQ(CreateSPI(dir / "missing.spi"), nullptr);

  std::unique_ptr<TSPI> spi = CreateSPI(CopySpi(dir.path(), "tstnopreview", "np.spi"));
  ASSERT_NE(spi, nullptr);
  auto* in = dynamic_cast<TInSPI*>(spi.get());
  ASSERT_NE(in, nullptr);
  void* info = nullptr;
  void* bits = nullptr;
  try {
    in->GetPreview("x", 0, 0, &info, &bits, nullptr, 0);
    FAIL() << "called a missing entry point";
  } catch (const ESPIInvalidAPI& e) {
    EXPECT_EQ(e.Message, "GetPreviewは[" + dir / "np.spi" + "]では使えないSusie Plugin APIです");
  }
  // As an archive plug-in the picture plug-in misses GetArchiveInfo.
  EXPECT_THROW(TAmSPI::Create(dir / "np.spi"), ESPIInvalidAPI);
}

TEST(SPIHost, OnlyOneHostAtATime) {
  auto first = std::make_unique<TSPIs>();
  EXPECT_EQ(CurrentSPIs, first.get());
  try {
    TSPIs second;
    FAIL() << "a second host was made";
  } catch (const ESPIDupCreateSPIs& e) {
    EXPECT_EQ(e.Message, "TSPIs は複数生成できません");
  }
  EXPECT_EQ(CurrentSPIs, first.get());
  first.reset();
  EXPECT_EQ(CurrentSPIs, nullptr);
  TSPIs again;
  EXPECT_EQ(CurrentSPIs, &again);
}

TEST(SPIHost, DefaultsAndTheEndOfLoading) {
  TempDir home;
  TempDir plugins;
  EnvGuard env("TOLVANE_HOME", home.path());
  CopySpi(plugins.path(), "tstin", "in.spi");
  SetSusiePath(plugins.path());

  TSPIs host;
  EXPECT_TRUE(host.MacBinary);
  EXPECT_FALSE(host.GraphicPreview);
  EXPECT_EQ(host.GraphicForcedLoader, nullptr);
  EXPECT_TRUE(host.AutoSearch);
  EXPECT_EQ(host.SearchOptions, (TSPISearchOptions{spsSusieDir, spsAppDir}));
  EXPECT_EQ(host.Count(), 0);  // made in code: no search of its own

  host.AutoSearch = false;
  host.Loaded();
  EXPECT_EQ(host.Count(), 0);
  host.AutoSearch = true;
  host.Loaded();
  EXPECT_EQ(Names(host), std::vector<std::string>{"in.spi"});
}

TEST(SPIHost, SearchVisitsTheRegistryPathAndTheCurrentFolderEachPluginOnce) {
  TempDir home;
  TempDir plugins;
  EnvGuard env("TOLVANE_HOME", home.path());
  CopySpi(plugins.path(), "tstin", "a.spi");
  CopySpi(plugins.path(), "tstnopreview", "b.spi");
  std::filesystem::create_directory_symlink(plugins.path(), home / "link");

  {
    // No registry value: the Susie folder is simply not searched.
    TSPIs host;
    host.SearchOptions = {spsSusieDir};
    host.Search("*.spi");
    EXPECT_EQ(host.Count(), 0);
  }
  SetSusiePath(plugins.path());
  {
    TSPIs host;
    host.SearchOptions = {spsSusieDir, spsCurrentDir};
    CwdGuard cwd(plugins.path());
    host.Search("*.spi");
    EXPECT_EQ(Names(host), (std::vector<std::string>{"a.spi", "b.spi"}));
    // The same files through a link to their folder.
    host.Search(home / "link" + "/*.spi");
    EXPECT_EQ(host.Count(), 2);
  }
  {
    // Only the current folder, and it holds none.
    TSPIs host;
    host.SearchOptions = {spsCurrentDir};
    CwdGuard cwd(home.path());
    host.Search("*.spi");
    EXPECT_EQ(host.Count(), 0);
  }
}

TEST(SPIHost, SearchEventsVetoFilesAndPlugins) {
  TempDir dir;
  CopySpi(dir.path(), "tstam", "am.spi");
  CopySpi(dir.path(), "tstin", "in.spi");
  CopySpi(dir.path(), "tstin", "skip.spi");
  CopySpi(dir.path(), "tstin", "throws.spi");
  CopySpi(dir.path(), "tstnopreview", "z.spi");

  TSPIs host;
  std::vector<std::string> asked;
  host.OnSearching = [&](TSPIs* sender, const std::string& fileName, bool& accept) {
    EXPECT_EQ(sender, &host);
    EXPECT_TRUE(accept);
    asked.push_back(std::filesystem::path(fileName).filename().string());
    if (fileName.ends_with("/skip.spi")) accept = false;
  };
  // As the main window does: only picture plug-ins stay.
  host.OnSearch = [&](TSPIs*, TSPI* spi, bool& accept) {
    EXPECT_TRUE(accept);
    if (spi->FileName.ends_with("/throws.spi")) throw Exception("broken handler");
    accept = spi->InheritsFrom(TInSPI::StaticClass());
  };
  host.Search(dir.path() + "/*.spi");
  EXPECT_EQ(asked, (std::vector<std::string>{"am.spi", "in.spi", "skip.spi", "throws.spi", "z.spi"}));
  EXPECT_EQ(Names(host), (std::vector<std::string>{"in.spi", "z.spi"}));
}

TEST(SPIHost, PictureFormatsAreRegisteredPerExtension) {
  TempDir dir;
  UnregisterGraphicClass(TSPIBitmap::StaticClass());
  ASSERT_EQ(TSPIs::GraphicClass(), TSPIBitmap::StaticClass());
  TSPIs host;
  std::vector<std::string> seen;
  host.OnPictureRegister = [&](TSPIs*, TInSPI* spi, const std::string& ext, const std::string& desc,
                               TGraphicClass& cls) {
    EXPECT_EQ(cls, ext == "PIC" ? TSPIBitmap::StaticClass() : nullptr);
    seen.push_back(ext + "|" + desc);
    if (ext == "PIC") cls = nullptr;  // carries over to the format's other extensions
  };
  host.Add(CreateSPI(CopySpi(dir.path(), "tstthree", "three.spi")));
  EXPECT_EQ(seen, (std::vector<std::string>{"PIC|Tolvane test picture", "PI2|Tolvane test picture",
                                            "PI3|Tolvane test picture"}));
  EXPECT_EQ(GraphicClassForExtension("pic"), nullptr);
  EXPECT_EQ(GraphicClassForExtension(".PI3"), nullptr);

  host.OnPictureRegister = nullptr;
  host.Add(CreateSPI(CopySpi(dir.path(), "tstthree", "three2.spi")));
  for (const char* ext : {"PIC", "pi2", ".Pi3"}) {
    EXPECT_EQ(GraphicClassForExtension(ext), TSPIBitmap::StaticClass()) << ext;
    EXPECT_EQ(GraphicDescriptionForExtension(ext), "Tolvane test picture") << ext;
  }
  // Archive plug-ins register nothing; a plug-in that takes ".bmp" over wins.
  host.Add(CreateSPI(CopySpi(dir.path(), "tstam", "am.spi", "filter=*.ZZA\n")));
  EXPECT_EQ(GraphicClassForExtension("zza"), nullptr);
  EXPECT_EQ(GraphicClassForExtension("bmp"), TBitmap::StaticClass());
  host.Add(CreateSPI(CopySpi(dir.path(), "tstin", "bmp.spi", "filter=*.bmp;*.dib\n")));
  EXPECT_EQ(GraphicClassForExtension("BMP"), TSPIBitmap::StaticClass());
  EXPECT_EQ(GraphicClassForExtension("dib"), TSPIBitmap::StaticClass());

  // The unit's end takes its class out; the bitmap reader has ".bmp" again.
  UnregisterGraphicClass(TSPIBitmap::StaticClass());
  EXPECT_EQ(GraphicClassForExtension("bmp"), TBitmap::StaticClass());
  EXPECT_EQ(GraphicClassForExtension("pic"), nullptr);
}

TEST(SPIHost, LoadersThatClaimTheExtensionComeFirstTheLastOfThemFirstOfAll) {
  TempDir dir;
  TSPIs host;
  host.Add(CreateSPI(CopySpi(dir.path(), "tstin", "A.spi", "filter=*.JPG\n")));
  host.Add(CreateSPI(CopySpi(dir.path(), "tstin", "B.spi", "filter=*.BMP\n")));
  host.Add(CreateSPI(CopySpi(dir.path(), "tstin", "C.spi", "filter=*.JPG\n")));
  host.Add(CreateSPI(CopySpi(dir.path(), "tstam", "D.spi", "filter=*.JPG\n")));
  ASSERT_EQ(host.Count(), 4);

  std::vector<TSPI*> list;
  host.GetLoaders({TInSPI::StaticClass()}, list, "/pictures/photo.jpg");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"C.spi", "A.spi", "B.spi"}));

  list.clear();
  host.GetLoaders({TLoaderSPI::StaticClass()}, list, "/pictures.jpg/photo");  // no extension
  EXPECT_EQ(Names(list), (std::vector<std::string>{"A.spi", "B.spi", "C.spi", "D.spi"}));

  list.clear();
  host.GetLoaders({TAmSPI::StaticClass()}, list, "x.JPG");
  EXPECT_EQ(Names(list), std::vector<std::string>{"D.spi"});

  // Only the whole filter's last extension counts: *.JPG;*.JPEG claims .jpeg, not .jpg.
  host.Delete(0);
  host.Insert(0, CreateSPI(CopySpi(dir.path(), "tstin", "A2.spi", "filter=*.JPG;*.JPEG\n")));
  list.clear();
  host.GetLoaders({TInSPI::StaticClass()}, list, "photo.jpg");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"C.spi", "A2.spi", "B.spi"}));
  list.clear();
  host.GetLoaders({TInSPI::StaticClass()}, list, "photo.jpeg");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"A2.spi", "B.spi", "C.spi"}));
}

TEST(SPIHost, IndexOfIgnoresLetterCaseAndDeleteForgetsTheForcedLoader) {
  TempDir dir;
  std::string folder = dir.dir("PLUGINS");
  std::string path = CopySpi(folder, "tstin", "PICTURE.SPI");
  TSPIs host;
  host.Add(CreateSPI(path));
  host.Add(CreateSPI(CopySpi(folder, "tstin", "other.spi")));
  std::string lower = path;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(host.IndexOf(lower), 0);
  EXPECT_EQ(host.IndexOf(path), 0);
  EXPECT_EQ(host.IndexOf(folder + "/OTHER.SPI"), 1);
  EXPECT_EQ(host.IndexOf(folder + "/PICTURE.SP"), -1);

  host.GraphicForcedLoader = dynamic_cast<TInSPI*>(host.Items(1));
  host.Delete(0);
  EXPECT_NE(host.GraphicForcedLoader, nullptr);
  host.Clear();
  EXPECT_EQ(host.GraphicForcedLoader, nullptr);
  EXPECT_EQ(host.Count(), 0);
  EXPECT_THROW(host.Items(0), EListError);
}

TEST(SPIHost, AFreshInstallationPointsAtTheBundledFolder) {
  TempDir home;
  EnvGuard env("TOLVANE_HOME", home.path());
  SeedSusiePluginPath();
  std::string path;
  ASSERT_TRUE(RegReadString(kSusiePluginKey, "Path", path));
  EXPECT_EQ(path, BundledSpiFolder());
  EXPECT_TRUE(path.ends_with("/spi"));
  // A path the user set stays.
  SetSusiePath("/opt/my-plugins");
  SeedSusiePluginPath();
  ASSERT_TRUE(RegReadString(kSusiePluginKey, "Path", path));
  EXPECT_EQ(path, "/opt/my-plugins");
}
