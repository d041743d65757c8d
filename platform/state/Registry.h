#pragma once
// The read-only registry: "registry.ini" in the state folder, one section per
// key path ("[HKEY_CURRENT_USER\Software\Kirinaro\Susie\Plug-in]"), one
// entry per value ("Path=/opt/spi"); "@" names a key's default value. Key
// paths and value names are compared without regard to ASCII case.
#include <string>

// "HKCU\\x", "\\HKEY_CURRENT_USER\\x\\" and "HKEY_CURRENT_USER\\\\x" all name the same key.
std::string NormalizeRegistryKey(const std::string& keyPath);

// False when the key or the value does not exist (out is then left alone).
bool RegReadString(const std::string& keyPath, const std::string& valueName, std::string& out);
// True when the key has at least one value.
bool RegKeyExists(const std::string& keyPath);

// StateFolder() + "/registry.ini".
std::string RegistryFilePath();
