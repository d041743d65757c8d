#include "platform/state/Registry.h"

#include "platform/state/IniFile.h"
#include "platform/state/StateFolder.h"

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::string NormalizeRegistryKey(const std::string& keyPath) {
  // Split at backslashes, drop empty components, spell the root out.
  std::string result;
  size_t pos = 0;
  bool first = true;
  while (pos <= keyPath.size()) {
    size_t end = keyPath.find('\\', pos);
    if (end == std::string::npos) end = keyPath.size();
    std::string part = keyPath.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    if (first) {
      std::string root = UpperAscii(part);
      if (root == "HKCU")
        part = "HKEY_CURRENT_USER";
      else if (root == "HKLM")
        part = "HKEY_LOCAL_MACHINE";
      else if (root == "HKCR")
        part = "HKEY_CLASSES_ROOT";
      else if (root == "HKU")
        part = "HKEY_USERS";
      first = false;
    } else {
      result += '\\';
    }
    result += part;
  }
  return result;
}

std::string RegistryFilePath() { return StateFolder() + "/registry.ini"; }

bool RegReadString(const std::string& keyPath, const std::string& valueName, std::string& out) {
  std::string key = NormalizeRegistryKey(keyPath);
  if (key.empty()) return false;
  TIniFile ini(RegistryFilePath());
  std::string name = valueName.empty() ? "@" : valueName;
  if (!ini.ValueExists(key, name)) return false;
  out = ini.ReadString(key, name, "");
  return true;
}

bool RegKeyExists(const std::string& keyPath) {
  std::string key = NormalizeRegistryKey(keyPath);
  return !key.empty() && TIniFile(RegistryFilePath()).SectionExists(key);
}
