// The line under each pane: how many items, how many selected and their
// size, and the free space of the folder's file system. It reads only what
// the list keeps already (its row count, selection count and selection size,
// whose sizes the list reads ahead in bulk); the file system is asked once
// per listing, not per selection.
#include <QLabel>

#include "app/LocationOpener.h"
#include "app/MainForm.h"
#include "platform/namespace/Drives.h"
#include "platform/network/Location.h"

QString TForm1::ByteSizeText(uint64_t bytes) {
  if (bytes < 1024) return QStringLiteral("%1 バイト").arg(bytes);
  static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 5) {
    value /= 1024;
    ++unit;
  }
  return QString::number(value, 'f', value < 100 ? 1 : 0) + " " + units[unit];
}

void TForm1::UpdateStatusLine(TShellListView* list, bool listed) {
  TPane* pane = PaneOf(list);
  if (!pane || list != pane->List) return;
  if (listed) {
    // Once per listing: a re-read may follow a change of the free space as well.
    uint64_t available = 0, total = 0;
    const std::string path = list->GetPathName();
    // A server's free space comes from the poll of its folder, on a worker.
    pane->FreeSpaceText = !network::InFuseMount(path) && GetDiskFreeSpace(path, available, total)
                              ? QStringLiteral("空き %1").arg(ByteSizeText(available))
                              : QString();
  }
  QString text;
  if (list->Reading()) {
    text = QStringLiteral("読み込み中…");
  } else if (TLocationOpener::Blanked(list)) {
    text = QStringLiteral("0 個の項目");  // as the empty view shows, not the desktop behind it
  } else {
    text = QStringLiteral("%1 個の項目").arg(list->FileList()->Count());
    if (int selected = list->SelectedCount(); selected > 0)
      text += QStringLiteral("　%1 個を選択（%2）")
                  .arg(selected)
                  .arg(list->SelSizeCounting() ? QStringLiteral("サイズ計算中") : ByteSizeText(list->SelSize()));
  }
  if (!pane->FreeSpaceText.isEmpty()) text += QStringLiteral("　") + pane->FreeSpaceText;
  pane->Status->setText(text);
}
