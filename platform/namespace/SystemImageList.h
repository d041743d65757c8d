#pragma once
// The process-wide list of icons, addressed by index like the system image
// list. Icons come from the freedesktop icon theme by name; each name is
// looked up once and keeps its index for the life of the process, so a
// folder of ten thousand files costs as many look-ups as it has icon names.
// GUI thread only.
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <vector>

class SystemImageList {
 public:
  static SystemImageList& Instance();

  // Index of the named theme icon, added on first sight. When the theme has
  // no such icon, the first of the fallbacks that it has stands in (sharing
  // that icon's index); when none is there either, a drawn placeholder: a
  // folder when "folder" was among the names, else a sheet. The result is
  // always a valid index.
  int IndexOf(const QString& iconName, const QStringList& fallbacks = {});
  QIcon Icon(int index) const;
  // The icon drawn at size x size; a null pixmap for an invalid index.
  QPixmap Pixmap(int index, int size) const;
  // The same with an overlay in its lower left corner: 1 shared, 2 link, 0 none.
  QPixmap Pixmap(int index, int size, int overlay);
  int Count() const { return static_cast<int>(icons_.size()); }
  // The index of a drawn placeholder.
  int PlaceholderIndex(bool folder = false);

  // Names an icon theme when none is set (outside a desktop session Qt
  // names none) and adds the system's icon folders to the search path.
  static void EnsureIconTheme();

 private:
  SystemImageList() = default;
  // Index of the theme's own icon of that name, -1 when the theme lacks it.
  int ThemeIndex(const QString& name);

  std::vector<QIcon> icons_;
  QHash<QString, int> themeIndex_;    // name -> index or -1, what the theme itself has
  QHash<QString, int> resolved_;      // name -> index after fallbacks
  QHash<quint64, QPixmap> overlaid_;  // (index, size, overlay) -> composed pixmap
  int placeholder_ = -1;
  int folderPlaceholder_ = -1;
};
