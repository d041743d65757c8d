// One row of a folder list: what the list view paints, cached per item.
#include <QLocale>
#include <new>

#include "platform/namespace/ItemID.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"
#include "shell/RowPool.h"

TShellFileItem::TShellFileItem(TShellFileList* fileList, PItemIDList relative) : FileList(fileList) {
  RelativeIDList.reset(relative);
}

// The pool holds rows of one size; anything larger comes from the heap.
void* TShellFileItem::operator new(size_t size) {
  if (size != sizeof(TShellFileItem)) return ::operator new(size);
  if (void* item = rowpool::Allocate(size)) return item;
  throw std::bad_alloc();
}

void TShellFileItem::operator delete(void* item, size_t size) {
  if (size != sizeof(TShellFileItem))
    ::operator delete(item);
  else
    rowpool::Free(item);
}

std::string_view TShellFileItem::EntryName() const {
  PCItemIDList id = RelativeIDList.get();
  return IDKind(id) == ItemKind::FileEntry ? IDPayloadText(id) : std::string_view();
}

ShellFolderPtr TShellFileItem::BindParentFolder() {
  // Every row shares its list's folder; binding it once per row would cost a
  // folder object per file.
  if (FileList) {
    ShellFolderPtr folder;
    if (FileList->GetFolder(folder)) return folder;
  }
  return TShellDataItem::BindParentFolder();
}

int TShellFileItem::GetImageIndex() {
  if (!FileList || FileList->ViewStyle() != vsIcon) return TShellDataItem::GetImageIndex();
  if (LargeImageIndex == -1) {
    ShellFolderPtr folder;
    int index = -1;
    if (FileList->GetFolder(folder) && folder->GetIconOf(RelativeIDList.get(), GIL_FORSHELL, index) && index >= 0)
      LargeImageIndex = index;
    else
      LargeImageIndex = GetSysIconIndex(GetAbsoluteIDList(), true, false);
  }
  return LargeImageIndex;
}

int TShellFileItem::GetIndex() { return FileList ? FileList->IndexOf(this) : -1; }

int TShellFileItem::GetLevel() { return FileList ? FileList->GetLevel() + 1 : -1; }

PCItemIDList TShellFileItem::GetParentIDList() { return FileList ? FileList->FolderIDList.get() : nullptr; }

PCItemIDList TShellFileItem::GetAbsoluteIDList() {
  if (!AbsoluteIDList && FileList && FileList->FolderIDList) {
    if (FileList->GetLevel() == 0)
      AbsoluteIDList.reset(CopyIDList(RelativeIDList.get()));
    else
      AbsoluteIDList.reset(ConcatIDLists(FileList->FolderIDList.get(), RelativeIDList.get()));
  }
  return AbsoluteIDList.get();
}

int TShellFileItem::GetSelectedIndex() {
  bool large = FileList && FileList->ViewStyle() == vsIcon;
  return GetSysIconIndex(GetAbsoluteIDList(), large, true);
}

bool TShellFileItem::IsValid() { return FileList && RelativeIDList; }

const WIN32_FIND_DATAA& TShellFileItem::FindDataRef() {
  if (!FindData) FindData = std::make_unique<WIN32_FIND_DATAA>();
  if (FindData->cFileName[0] == 0) {
    WIN32_FIND_DATAA data{};
    bool ok = false;
    if (GetLevel() == 1) {
      std::string path = GetItemPath();
      ok = !path.empty() && FindFirstFile(path, data);
    } else {
      ShellFolderPtr folder;
      ok = GetParentFolder(folder) && folder->GetFindData(RelativeIDList.get(), data);
    }
    // A failed fetch leaves the record empty, so the next call tries again.
    if (ok && data.cFileName[0]) *FindData = data;
  }
  return *FindData;
}

WIN32_FIND_DATAA TShellFileItem::GetFindData() { return FindDataRef(); }

uint32_t TShellFileItem::GetItemAttributes() { return FindDataRef().dwFileAttributes; }

uint64_t TShellFileItem::GetSize() {
  // Sizes read ahead in bulk live in the ID; folders count nothing.
  if (!HasFindData() && RelativeIDList && IDKind(RelativeIDList.get()) == ItemKind::FileEntry) {
    if (IDFlags(RelativeIDList.get()) & itemflag::kFolder) return 0;
    FileStat stat;
    if (IDFileStat(RelativeIDList.get(), stat)) return stat.size;
  }
  const WIN32_FIND_DATAA& data = FindDataRef();
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string TShellFileItem::GetSizeText() {
  // Entries inside archives have sizes of their own.
  if ((!HasAttribute(SFGAO_FILESYSTEM) && !HasAttribute(SFGAO_STREAM)) || HasAttribute(SFGAO_FOLDER)) return {};
  uint64_t size = GetSize();
  uint64_t kb = size / 1024 + (size % 1024 ? 1 : 0);
  // "#,##0KB": thousands grouped with commas whatever the locale.
  std::string digits = std::to_string(kb), text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text + "KB";
}

std::string TShellFileItem::GetModifiedText() {
  return FormatDateTime(FileTimeToLocalDateTime(FindDataRef().ftLastWriteTime));
}

std::string TShellFileItem::GetTypeName() {
  SHFILEINFO info;
  if (!SHGetFileInfo(GetAbsoluteIDList(), SHGFI_PIDL | SHGFI_TYPENAME, info)) return {};
  std::string name = info.szTypeName;
  // At most 80 characters; cut on a character boundary.
  size_t chars = 0, i = 0;
  for (; i < name.size() && chars < 80; ++i)
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) ++chars;
  while (i < name.size() && (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) ++i;
  name.resize(i);
  return name;
}

uint32_t TShellFileItem::GetOverlayMask() {
  uint32_t overlay = 0;
  if (HasAttribute(SFGAO_SHARE))
    overlay = 1;
  else if (HasAttribute(SFGAO_LINK))
    overlay = 2;
  return overlay << 8;
}

bool TShellFileItem::Rename(const std::string& newName) {
  ShellFolderPtr folder;
  if (!GetParentFolder(folder)) return false;
  PItemIDList renamed = nullptr;
  const bool done = folder->SetNameOf(RelativeIDList.get(), newName, SHGDN_INFOLDER | 0x60, &renamed);
  IDListPtr owned(renamed);
  if (!done || !owned) return false;
  RelativeIDList = std::move(owned);
  ResetCaches();
  if (FileList) FileList->RowRenamed();
  return true;
}

void TShellFileItem::ResetCaches() {
  TShellDataItem::ResetCaches();
  LargeImageIndex = -1;
  // The cached record still carries the old name.
  FindData.reset();
}

void TShellFileItem::RefreshFindData() {
  if (!HasFindData()) return;
  std::string path = GetItemPath();
  WIN32_FIND_DATAA data{};
  if (!path.empty() && FindFirstFile(path, data)) *FindData = data;
}
