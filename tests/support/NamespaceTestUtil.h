#pragma once
// Small helpers for the namespace tests.
#include <string>
#include <vector>

#include "EnvGuard.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"

inline IDListPtr ParsePath(const std::string& path) {
  PItemIDList list = nullptr;
  if (!SHGetDesktopFolder()->ParseDisplayName(path, list)) return nullptr;
  return IDListPtr(list);
}

inline ShellFolderPtr BindPath(const std::string& path) {
  IDListPtr list = ParsePath(path);
  return list ? SHGetDesktopFolder()->BindToObject(list.get()) : nullptr;
}

// All children of a folder, as owned relative lists, in enumeration order.
inline std::vector<IDListPtr> EnumIDs(IShellFolder& folder, uint32_t flags) {
  std::vector<IDListPtr> ids;
  auto e = folder.EnumObjects(flags);
  PItemIDList id;
  while (e && e->Next(id)) ids.emplace_back(id);
  return ids;
}

inline std::string NameOf(IShellFolder& folder, PCItemIDList id, uint32_t flags = SHGDN_INFOLDER) {
  std::string name;
  folder.GetDisplayNameOf(id, flags, name);
  return name;
}

inline std::vector<std::string> EnumNames(IShellFolder& folder, uint32_t flags) {
  std::vector<std::string> names;
  for (const IDListPtr& id : EnumIDs(folder, flags)) names.push_back(NameOf(folder, id.get()));
  return names;
}

inline uint32_t AttributesOf(IShellFolder& folder, PCItemIDList id, uint32_t asked = ~0u) {
  return folder.GetAttributesOf(1, &id, asked) ? asked : 0;
}

inline std::string PathOf(PCItemIDList list) {
  std::string path;
  SHGetPathFromIDList(list, path);
  return path;
}
