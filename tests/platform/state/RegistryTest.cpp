#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempDir.h"
#include "platform/state/Registry.h"
#include "platform/state/StateFolder.h"

namespace {

// Points the state folder somewhere else for one test.
class StateHome {
 public:
  explicit StateHome(const std::string& path) {
    if (const char* old = std::getenv("TOLVANE_HOME")) old_ = old, had_ = true;
    setenv("TOLVANE_HOME", path.c_str(), 1);
  }
  ~StateHome() {
    if (had_)
      setenv("TOLVANE_HOME", old_.c_str(), 1);
    else
      unsetenv("TOLVANE_HOME");
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(StateFolder, EnvironmentOverridesAndIsCreated) {
  TempDir tmp;
  StateHome home(tmp / "state/");
  EXPECT_EQ(StateFolder(), tmp / "state");
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "state"));
  EXPECT_EQ(IniFilePath(), tmp / "state/tolvane.ini");
  EXPECT_EQ(LogFolder(), tmp / "state/log");
  EXPECT_EQ(RegistryFilePath(), tmp / "state/registry.ini");
}

TEST(Registry, ReadsValuesByKeyPath) {
  TempDir tmp;
  StateHome home(tmp.path());
  EXPECT_FALSE(RegKeyExists("HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in"));  // no file yet

  tmp.file("registry.ini",
           "[HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in]\r\n"
           "Path=/opt/tolvane/spi\r\n"
           "Empty=\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\7-ZIP]\r\n"
           "@=default value\r\n");
  std::string value = "untouched";
  EXPECT_TRUE(RegReadString("HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in", "Path", value));
  EXPECT_EQ(value, "/opt/tolvane/spi");
  value.clear();
  EXPECT_TRUE(RegReadString("\\hkcu\\SOFTWARE\\kirinaro\\\\Susie\\Plug-in\\", "PATH", value));
  EXPECT_EQ(value, "/opt/tolvane/spi");
  EXPECT_TRUE(RegReadString("HKCU\\Software\\Kirinaro\\Susie\\Plug-in", "Empty", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(RegReadString("HKLM\\SOFTWARE\\7-Zip", "", value));
  EXPECT_EQ(value, "default value");

  value = "untouched";
  EXPECT_FALSE(RegReadString("HKLM\\SOFTWARE\\7-Zip", "Path", value));
  EXPECT_FALSE(RegReadString("HKCU\\Software\\Nothing", "Path", value));
  EXPECT_FALSE(RegReadString("", "Path", value));
  EXPECT_EQ(value, "untouched");
  EXPECT_TRUE(RegKeyExists("hkey_local_machine\\software\\7-zip"));
  EXPECT_FALSE(RegKeyExists("HKCU\\Software\\Kirinaro"));  // a parent is no section of its own
}
