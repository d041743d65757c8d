#include "platform/namespace/ShellFolderBase.h"

#include <algorithm>
#include <cstring>

#include "platform/namespace/ContextMenuProvider.h"

ShellFolderBase::ShellFolderBase(IDListPtr absolute, std::string path)
    : absolute_(std::move(absolute)), path_(std::move(path)) {
  if (!absolute_) absolute_.reset(AllocIDList(2));
}

ShellFolderPtr ShellFolderBase::BindToObject(PCItemIDList list) {
  if (!list) return nullptr;
  IDListPtr full(ConcatIDLists(absolute_.get(), list));
  return full ? BindAbsoluteIDList(full.get()) : nullptr;
}

bool ShellFolderBase::Descend(PCItemIDList list, ShellFolderPtr& holder, PCItemIDList& last) {
  IDListPtr parent(CopyParentIDList(list));
  last = LastID(list);
  if (!parent || !last) return false;
  holder = BindToObject(parent.get());
  return holder != nullptr;
}

bool ShellFolderBase::CompareIDs(int column, PCItemIDList a, PCItemIDList b, int& result) {
  if (!a || !b) return false;
  bool emptyA = GetFirstIDSize(a) == 0, emptyB = GetFirstIDSize(b) == 0;
  if (emptyA || emptyB) {
    result = emptyA == emptyB ? 0 : emptyA ? -1 : 1;
    return true;
  }
  int r = CompareChildren(column, a, b);
  if (r != 0) {
    result = r;
    return true;
  }
  // Same first ID: go on one level down, a parent before its children.
  PCItemIDList nextA = NextID(a), nextB = NextID(b);
  if (!nextA || !nextB) {
    result = !nextA && !nextB ? 0 : !nextA ? -1 : 1;
    return true;
  }
  IDListPtr first(CopyFirstID(a));
  ShellFolderPtr sub = first ? BindToObject(first.get()) : nullptr;
  if (!sub) return false;
  return sub->CompareIDs(column, nextA, nextB, result);
}

bool ShellFolderBase::GetAttributesOf(int count, const PCItemIDList* items, uint32_t& inOut) {
  if (count <= 0 || !items) return false;
  uint32_t common = ~0u;
  AttributeContext context;
  for (int i = 0; i < count; ++i) {
    PCItemIDList item = items[i];
    if (!item) return false;
    if (NextID(item)) {
      ShellFolderPtr holder;
      PCItemIDList last;
      uint32_t asked = inOut;
      if (!Descend(item, holder, last) || !holder->GetAttributesOf(1, &last, asked)) return false;
      common &= asked;
    } else {
      common &= ChildAttributes(item, inOut, context);
    }
  }
  inOut &= common;
  return true;
}

bool ShellFolderBase::GetDisplayNameOf(PCItemIDList list, uint32_t flags, std::string& name) {
  name.clear();
  if (!list) return false;
  if (NextID(list)) {
    ShellFolderPtr holder;
    PCItemIDList last;
    return Descend(list, holder, last) && holder->GetDisplayNameOf(last, flags, name);
  }
  return ChildName(list, flags, name);
}

bool ShellFolderBase::SetNameOf(PCItemIDList item, std::string_view newName, uint32_t flags, PItemIDList* newItem) {
  if (newItem) *newItem = nullptr;
  if (!item || CountIDs(item) == 0 || !IsValidChildName(newName)) return false;
  if (!NextID(item)) return RenameChild(item, newName, newItem);
  ShellFolderPtr holder;
  PCItemIDList last;
  if (!Descend(item, holder, last)) return false;
  PItemIDList newLast = nullptr;
  if (!holder->SetNameOf(last, newName, flags, newItem ? &newLast : nullptr)) return false;
  if (newItem) {
    PItemIDList parent = CopyParentIDList(item);
    *newItem = AppendIDList(parent, newLast);
  }
  return true;
}

bool ShellFolderBase::GetIconOf(PCItemIDList item, uint32_t flags, int& index) {
  index = -1;
  if (!item) return false;
  IDListPtr full(ConcatIDLists(absolute_.get(), item));
  if (!full) return false;
  SHFILEINFO info;
  uint32_t asked = SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
  if (flags & GIL_OPENICON) asked |= SHGFI_OPENICON;
  if (!SHGetFileInfo(full.get(), asked, info) || info.iIcon < 0) return false;
  index = info.iIcon;
  return true;
}

bool ShellFolderBase::GetFindData(PCItemIDList item, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  if (!item || CountIDs(item) == 0) return false;
  if (NextID(item)) {
    ShellFolderPtr holder;
    PCItemIDList last;
    return Descend(item, holder, last) && holder->GetFindData(last, data);
  }
  return ChildFindData(item, data);
}

std::unique_ptr<IContextMenu> ShellFolderBase::GetContextMenu(QWidget* owner, int count, const PCItemIDList* items) {
  if (count <= 0 || !items) return nullptr;
  uint32_t attributes = SFGAO_CAPABILITYMASK | SFGAO_FILESYSTEM | SFGAO_FOLDER;
  if (!GetAttributesOf(count, items, attributes)) return nullptr;
  std::vector<ContextMenuItem> list;
  for (int i = 0; i < count; ++i) {
    ContextMenuItem item;
    item.absolute.reset(ConcatIDLists(absolute_.get(), items[i]));
    if (!item.absolute) return nullptr;
    SHGetPathFromIDList(item.absolute.get(), item.path);
    GetDisplayNameOf(items[i], SHGDN_NORMAL, item.name);
    uint32_t folder = SFGAO_FOLDER;
    item.folder = GetAttributesOf(1, &items[i], folder) && (folder & SFGAO_FOLDER);
    if (IDKind(LastID(item.absolute.get())) == ItemKind::RecycleBin) item.contentPath = HomeTrashDirectory();
    list.push_back(std::move(item));
  }
  return ProvidedContextMenu(owner, std::move(list), attributes);
}

// --- Helpers -------------------------------------------------------------------

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

bool IsValidChildName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool SplitPathLexically(std::string_view path, std::vector<std::string_view>& names) {
  names.clear();
  if (path.find('\0') != std::string_view::npos) return false;
  bool absolute = !path.empty() && path[0] == '/';
  size_t i = 0;
  while (i < path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!names.empty())
        names.pop_back();
      else if (!absolute)
        return false;
      continue;
    }
    names.push_back(part);
  }
  return true;
}

bool IDListBuilder::Add(PCItemIDList list) {
  if (!list || failed_) {
    failed_ = true;
    return false;
  }
  size_t size = GetIDListSize(list) - 2;
  if (bytes_.size() + size + 2 > 0xFFF0) {
    failed_ = true;
    return false;
  }
  bytes_.append(reinterpret_cast<const char*>(list), size);
  return true;
}

bool IDListBuilder::AddOwned(PItemIDList list) {
  bool ok = Add(list);
  ShellFree(list);
  return ok;
}

PItemIDList IDListBuilder::Finish() {
  if (failed_) return nullptr;
  PItemIDList list = AllocIDList(static_cast<uint32_t>(bytes_.size() + 2));
  if (list && !bytes_.empty()) std::memcpy(list, bytes_.data(), bytes_.size());
  return list;
}

PItemIDList MakeSpecialID(ItemKind kind) { return MakeSimpleID(kind, itemflag::kFolder); }

int CompareFirstIDBytes(PCItemIDList a, PCItemIDList b) {
  uint32_t sa = GetFirstIDSize(a), sb = GetFirstIDSize(b);
  int r = std::memcmp(a, b, std::min(sa, sb));
  return r ? Order(r, 0) : Order(sa, sb);
}
