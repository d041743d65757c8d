#include "platform/namespace/SystemImageList.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <QStandardPaths>

void SystemImageList::EnsureIconTheme() {
  static bool done = false;
  if (done) return;
  done = true;

  QStringList paths = QIcon::themeSearchPaths();
  QStringList candidates{QDir::homePath() + QStringLiteral("/.local/share/icons"),
                         QDir::homePath() + QStringLiteral("/.icons")};
  for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
    candidates << dir + QStringLiteral("/icons");
  candidates << QStringLiteral("/usr/share/icons") << QStringLiteral("/usr/local/share/icons");
  for (const QString& dir : candidates)
    if (!paths.contains(dir) && QFileInfo(dir).isDir()) paths << dir;
  QIcon::setThemeSearchPaths(paths);
  if (!QIcon::themeName().isEmpty()) return;

  auto themeExists = [&paths](const QString& name) {
    for (const QString& dir : paths)
      if (QFileInfo::exists(dir + '/' + name + QStringLiteral("/index.theme"))) return true;
    return false;
  };
  // Breeze has full-colour icons for nearly every MIME type, but only as SVG.
  bool svg = QImageReader::supportedImageFormats().contains("svg");
  if (svg && themeExists(QStringLiteral("breeze")))
    QIcon::setThemeName(QStringLiteral("breeze"));
  else if (themeExists(QStringLiteral("Adwaita")))
    QIcon::setThemeName(QStringLiteral("Adwaita"));
  else
    QIcon::setThemeName(QStringLiteral("hicolor"));
  if (QIcon::fallbackThemeName().isEmpty()) QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

SystemImageList& SystemImageList::Instance() {
  static SystemImageList list;
  return list;
}

int SystemImageList::ThemeIndex(const QString& name) {
  auto it = themeIndex_.constFind(name);
  if (it != themeIndex_.constEnd()) return *it;
  EnsureIconTheme();
  int index = -1;
  if (!name.isEmpty()) {
    QIcon icon = QIcon::fromTheme(name);
    // A theme entry whose files cannot be read (an SVG without the SVG
    // plug-in) yields a non-null icon that draws nothing.
    if (!icon.isNull() && !icon.pixmap(16, 16).isNull()) {
      index = Count();
      icons_.push_back(icon);
    }
  }
  themeIndex_.insert(name, index);
  return index;
}

int SystemImageList::IndexOf(const QString& iconName, const QStringList& fallbacks) {
  auto it = resolved_.constFind(iconName);
  if (it != resolved_.constEnd()) return *it;
  int index = ThemeIndex(iconName);
  for (int i = 0; index < 0 && i < fallbacks.size(); ++i) index = ThemeIndex(fallbacks[i]);
  if (index < 0) {
    const QString folder = QStringLiteral("folder");
    index = PlaceholderIndex(iconName == folder || fallbacks.contains(folder));
  }
  resolved_.insert(iconName, index);
  return index;
}

int SystemImageList::PlaceholderIndex(bool folder) {
  int& slot = folder ? folderPlaceholder_ : placeholder_;
  if (slot >= 0) return slot;
  // Plain shapes, so that every item still shows something and folders
  // stay apart from files when no icon theme is installed.
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    qreal m = size / 8.0;
    if (folder) {
      p.setBrush(QColor(230, 190, 90));
      QPolygonF shape;
      shape << QPointF(m, 2 * m) << QPointF(size / 2.5, 2 * m) << QPointF(size / 2.0, 3 * m) << QPointF(size - m, 3 * m)
            << QPointF(size - m, size - 1.5 * m) << QPointF(m, size - 1.5 * m);
      p.drawPolygon(shape);
    } else {
      qreal fold = size / 4.0;
      p.setBrush(QColor(250, 250, 250));
      QPolygonF sheet;
      sheet << QPointF(2 * m, m) << QPointF(size - 2 * m - fold, m) << QPointF(size - 2 * m, m + fold)
            << QPointF(size - 2 * m, size - m) << QPointF(2 * m, size - m);
      p.drawPolygon(sheet);
      p.drawLine(QPointF(size - 2 * m - fold, m), QPointF(size - 2 * m - fold, m + fold));
      p.drawLine(QPointF(size - 2 * m - fold, m + fold), QPointF(size - 2 * m, m + fold));
    }
    p.end();
    icon.addPixmap(pixmap);
  }
  slot = Count();
  icons_.push_back(icon);
  return slot;
}

QIcon SystemImageList::Icon(int index) const {
  if (index < 0 || index >= Count()) return {};
  return icons_[static_cast<size_t>(index)];
}

QPixmap SystemImageList::Pixmap(int index, int size) const {
  if (index < 0 || index >= Count() || size <= 0) return {};
  return icons_[static_cast<size_t>(index)].pixmap(size, size);
}

QPixmap SystemImageList::Pixmap(int index, int size, int overlay) {
  if (overlay != 1 && overlay != 2) return Pixmap(index, size);
  if (index < 0 || index >= Count() || size <= 0) return {};
  quint64 key = (static_cast<quint64>(index) << 24) | (static_cast<quint64>(size & 0xFFFF) << 8) | overlay;
  auto found = overlaid_.constFind(key);
  if (found != overlaid_.constEnd()) return *found;
  QPixmap base = Pixmap(index, size);
  QPixmap composed(base.size());
  composed.fill(Qt::transparent);
  QPainter painter(&composed);
  painter.drawPixmap(0, 0, base);
  int mark = std::max(8, size / 2);
  QRect corner(0, composed.height() - mark, mark, mark);
  QIcon emblem = QIcon::fromTheme(overlay == 1 ? "emblem-shared" : "emblem-symbolic-link");
  if (!emblem.isNull()) {
    painter.drawPixmap(corner, emblem.pixmap(mark, mark));
  } else {
    // No emblem in the theme: a small curved arrow on white, as links look elsewhere.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(corner.adjusted(0, 0, -1, -1));
    QPainterPath arrow;
    arrow.moveTo(corner.left() + mark * 0.25, corner.bottom() - mark * 0.2);
    arrow.quadTo(corner.left() + mark * 0.25, corner.top() + mark * 0.3, corner.right() - mark * 0.25,
                 corner.top() + mark * 0.3);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(overlay == 1 ? Qt::darkBlue : Qt::black, std::max(1.0, mark / 8.0)));
    painter.drawPath(arrow);
  }
  painter.end();
  overlaid_.insert(key, composed);
  return composed;
}
