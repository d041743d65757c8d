// Icons and type names of namespace items (SHGetFileInfo). A file's icon and
// type name depend on its extension alone, looked up once per extension in
// the MIME database by name; file contents are never read.
#include <QLocale>
#include <QMimeDatabase>
#include <QMimeType>
#include <dirent.h>
#include <unordered_map>

#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"
#include "platform/namespace/SystemImageList.h"

namespace {

const char* const kFolderType = "ファイル フォルダー";
const char* const kSystemFolderType = "システム フォルダー";

struct ExtensionInfo {
  int icon = -1;
  // Read from the MIME comments when first asked: an icon alone (a launcher
  // button, a row in the icon view) never parses them.
  QMimeType type;
  std::string ext;
  bool named = false;
  std::string typeName;
};

// Type names come from the MIME comments in the default locale's language.
void EnsureJapanese() {
  static bool done = false;
  if (done) return;
  done = true;
  if (QLocale().language() != QLocale::Japanese) QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

int IconIndex(const QString& name, const QStringList& fallbacks) {
  return SystemImageList::Instance().IndexOf(name, fallbacks);
}

int FolderIcon(bool open) {
  return open ? IconIndex(QStringLiteral("folder-open"), {QStringLiteral("folder")})
              : IconIndex(QStringLiteral("folder"), {QStringLiteral("inode-directory")});
}

std::string UpperAsciiName(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The extension of a file name: what follows its last '.', empty without one.
std::string_view ExtensionOf(std::string_view name) {
  size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

ExtensionInfo& InfoForExtension(std::string_view ext) {
  static std::unordered_map<std::string, ExtensionInfo> cache;
  auto it = cache.find(std::string(ext));
  if (it != cache.end()) return it->second;

  EnsureJapanese();
  static QMimeDatabase db;
  QMimeType type;
  if (!ext.empty()) {
    QString probe = QStringLiteral("x.") + QString::fromUtf8(ext.data(), static_cast<qsizetype>(ext.size()));
    const QList<QMimeType> types = db.mimeTypesForFileName(probe);
    if (!types.isEmpty()) type = types.first();
  }
  ExtensionInfo info;
  const QStringList generic{QStringLiteral("text-x-generic"), QStringLiteral("application-x-generic"),
                            QStringLiteral("unknown")};
  if (type.isValid() && !type.isDefault()) {
    QStringList fallbacks;
    if (!type.genericIconName().isEmpty()) fallbacks << type.genericIconName();
    fallbacks << generic;
    info.icon = IconIndex(type.iconName(), fallbacks);
    info.type = type;
  } else {
    info.icon = IconIndex(QStringLiteral("application-octet-stream"), generic);
  }
  info.ext = std::string(ext);
  return cache.emplace(std::string(ext), std::move(info)).first->second;
}

const std::string& TypeNameOf(ExtensionInfo& info) {
  if (info.named) return info.typeName;
  info.named = true;
  if (info.type.isValid()) info.typeName = info.type.comment().trimmed().toStdString();
  if (info.typeName.empty()) {
    // Unknown extensions read as Windows names them: "XYZ ファイル".
    info.typeName = info.ext.empty() ? "ファイル" : UpperAsciiName(info.ext) + " ファイル";
  }
  return info.typeName;
}

bool TrashHasFiles() {
  DIR* dir = ::opendir(HomeTrashDirectory().c_str());
  if (!dir) return false;
  bool any = false;
  while (dirent* e = ::readdir(dir)) {
    std::string_view n = e->d_name;
    if (n != "." && n != "..") {
      any = true;
      break;
    }
  }
  ::closedir(dir);
  return any;
}

struct ItemLook {
  int icon = -1;
  std::string typeName;
};

bool LookOf(PCItemIDList list, bool open, bool typeName, ItemLook& look) {
  if (CountIDs(list) == 0) {
    look.icon = IconIndex(QStringLiteral("user-desktop"), {QStringLiteral("desktop"), QStringLiteral("folder")});
    look.typeName = kSystemFolderType;
    return true;
  }
  PCItemIDList last = LastID(list);
  uint8_t flags = IDFlags(last);
  switch (IDKind(last)) {
    case ItemKind::Home:
      look.icon = IconIndex(QStringLiteral("user-home"), {QStringLiteral("folder")});
      look.typeName = kFolderType;
      return true;
    case ItemKind::Computer:
      look.icon = IconIndex(QStringLiteral("computer"), {QStringLiteral("folder")});
      look.typeName = kSystemFolderType;
      return true;
    case ItemKind::Network:
      look.icon =
          IconIndex(QStringLiteral("network-workgroup"),
                    {QStringLiteral("network-server"), QStringLiteral("folder-remote"), QStringLiteral("folder")});
      look.typeName = kSystemFolderType;
      return true;
    case ItemKind::RecycleBin:
      look.icon = TrashHasFiles() ? IconIndex(QStringLiteral("user-trash-full"),
                                              {QStringLiteral("user-trash"), QStringLiteral("folder")})
                                  : IconIndex(QStringLiteral("user-trash"), {QStringLiteral("folder")});
      look.typeName = kSystemFolderType;
      return true;
    case ItemKind::Drive:
      if (flags & itemflag::kNetwork) {
        look.icon =
            IconIndex(QStringLiteral("folder-remote"), {QStringLiteral("network-server"), QStringLiteral("folder")});
        look.typeName = "ネットワーク ドライブ";
      } else {
        look.icon = IconIndex(QStringLiteral("drive-harddisk"), {QStringLiteral("folder")});
        look.typeName = "ローカル ディスク";
      }
      return true;
    case ItemKind::Results:
      look.icon = IconIndex(QStringLiteral("system-search"), {QStringLiteral("edit-find"), QStringLiteral("folder")});
      look.typeName = "検索結果";
      return true;
    case ItemKind::Location:
      look.icon =
          IconIndex(QStringLiteral("folder-remote"), {QStringLiteral("network-server"), QStringLiteral("folder")});
      look.typeName = "ネットワークの場所";
      return true;
    case ItemKind::FileEntry:
    case ItemKind::TrashEntry:
    case ItemKind::PathEntry:
    case ItemKind::ArchiveEntry:
      if (flags & itemflag::kFolder) {
        look.icon = FolderIcon(open);
        look.typeName = kFolderType;
      } else {
        std::string_view name = IDPayloadText(last);
        if (size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
        ExtensionInfo& info = InfoForExtension(ExtensionOf(name));
        look.icon = info.icon;
        if (typeName) look.typeName = TypeNameOf(info);
      }
      return true;
    case ItemKind::Invalid:
      break;
  }
  return false;
}

}  // namespace

bool SHGetFileInfo(PCItemIDList absoluteList, uint32_t flags, SHFILEINFO& info) {
  if (!absoluteList) return false;
  bool ok = true;
  if (flags & (SHGFI_SYSICONINDEX | SHGFI_TYPENAME)) {
    ItemLook look;
    if (!LookOf(absoluteList, (flags & SHGFI_OPENICON) != 0, (flags & SHGFI_TYPENAME) != 0, look)) return false;
    if (flags & SHGFI_SYSICONINDEX) info.iIcon = look.icon;
    if (flags & SHGFI_TYPENAME) info.szTypeName = look.typeName;
  }
  if (flags & (SHGFI_DISPLAYNAME | SHGFI_ATTRIBUTES)) {
    ShellFolderPtr desktop = SHGetDesktopFolder();
    if (!desktop) return false;
    if (flags & SHGFI_DISPLAYNAME) {
      std::string name;
      if (desktop->GetDisplayNameOf(absoluteList, SHGDN_NORMAL, name))
        info.szDisplayName = name;
      else
        ok = false;
    }
    if (flags & SHGFI_ATTRIBUTES) {
      uint32_t attributes = 0xFFFFFFFFu;
      if (desktop->GetAttributesOf(1, &absoluteList, attributes))
        info.dwAttributes = attributes;
      else
        ok = false;
    }
  }
  return ok;
}

ImageListHandle SHGetSysImageList(bool large) { return {&SystemImageList::Instance(), large ? 32 : 16}; }
