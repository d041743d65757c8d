// The preview: a picture (Image1) or a text (Memo1) shown in place of the
// other pane's list, with a row of preview tabs of its own (ImagePath,
// TextPath), following the selection of the current pane 400 ms after it
// settles on one item.
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTabBar>
#include <algorithm>

#include "app/MainForm.h"
#include "app/PreviewPicture.h"
#include "app/TextView.h"
#include "image/SPIBitmap.h"  // names the plug-in bitmap as the class of the plug-ins' formats
#include "image/SPIs.h"
#include "platform/namespace/PathText.h"
#include "platform/system/Exception.h"

namespace {

constexpr int kFollowDelayMs = 400;

// Tabs show '&' as itself, not as a mnemonic.
QString TabCaption(const std::string& path) {
  return QString::fromUtf8(TForm1::LastPathComponent(path)).replace('&', "&&");
}

bool ShownIn(const QWidget* preview, const QWidget* pane) {
  return preview->parentWidget() == pane && !preview->isHidden();
}

// Makes the preview a child of the pane, filling what the list leaves.
void MoveInto(QWidget* preview, QWidget* pane) {
  if (preview->parentWidget() == pane) return;
  if (QWidget* old = preview->parentWidget(); old && old->layout()) old->layout()->removeWidget(preview);
  preview->setParent(pane);
  // Above the pane's status line, its last row.
  auto* column = static_cast<QBoxLayout*>(pane->layout());
  column->insertWidget(std::max(0, column->count() - 1), preview, 1);
}

// Puts path into line index of lines; an index past the list (the files are
// edited by hand) is brought back to its last line.
void SetPreviewLine(TLineList& lines, int& index, const std::string& path) {
  if (lines.Count() == 0) lines.Add(path);
  index = std::clamp(index, 0, lines.Count() - 1);
  lines[index] = path;
}

}  // namespace

// --- The picture plug-ins -------------------------------------------------------------

void TForm1::CreatePictureHost() {
  SPIs1 = std::make_unique<TSPIs>();
  SPIs1->MacBinary = false;
  SPIs1->GraphicPreview = false;
  SPIs1->SearchOptions = {spsSusieDir};
  SPIs1->OnSearch = [this](TSPIs* sender, TSPI* spi, bool& accept) { SPIs1Search(sender, spi, accept); };
  // A state folder from before the bundled plug-ins names no plug-in folder yet.
  SeedSusiePluginPath();
  SPIs1->Loaded();
}

void TForm1::SPIs1Search(TSPIs* sender, TSPI* spi, bool& accept) {
  accept = spi && spi->InheritsFrom(TInSPI::StaticClass());
}

// --- Which files are previewed ---------------------------------------------------------

std::string TForm1::PreviewExtension(const std::string& path) {
  const std::string name = LastPathComponent(path);
  const size_t dot = name.rfind('.');
  // A name that only begins with a dot (.profile) has no extension here.
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

bool TForm1::IsImageFile(const std::string& ext) const {
  return !ext.empty() && ImageExt.find(ext) != std::string::npos;
}

bool TForm1::IsTextFile(const std::string& ext) const {
  return !ext.empty() && !IsImageFile(ext) && TextExt.find(ext) != std::string::npos;
}

// --- Loading ---------------------------------------------------------------------------------

void TForm1::LoadPreviewImage(const std::string& path) { LoadPreviewImage(path, Image1->parentWidget()); }

void TForm1::LoadPreviewImage(const std::string& path, QWidget* pane, std::function<void()> shown,
                              std::function<void()> failed) {
  // Decoded aside: until the answer comes the pane keeps what it shows, and a
  // picture that fails leaves it so.
  StopPreviewPicture();
  Preview.PictureFailed = std::move(failed);
  Image1->setCursor(Qt::WaitCursor);
  if (!PictureLoader) PictureLoader = std::make_unique<TPictureLoader>();
  const QSize area = pane ? pane->size() : Image1->size();
  PictureLoader->Load(path, area, Preview.PictureMemoryLimit,
                      [this, shown = std::move(shown)](const TPreviewPicture& picture) {
                        Guarded([&] {
                          Image1->unsetCursor();
                          std::function<void()> failed = std::move(Preview.PictureFailed);
                          Preview.PictureFailed = nullptr;
                          if (!picture.Error.empty()) {
                            if (failed) failed();
                            throw Exception(picture.Error);
                          }
                          if (shown) shown();
                          if (picture.Image.isNull()) {
                            Image1->clear();
                            Image1->setWordWrap(true);  // a narrow pane still shows the whole message
                            Image1->setText(QString::fromStdString(picture.Message));
                          } else {
                            Image1->setPixmap(QPixmap::fromImage(picture.Image));
                          }
                        });
                      });
}

void TForm1::StopPreviewPicture() {
  if (PictureLoader) PictureLoader->Stop();
  Image1->unsetCursor();
  // A request never answered leaves nothing behind.
  if (std::function<void()> failed = std::move(Preview.PictureFailed)) {
    Preview.PictureFailed = nullptr;
    failed();
  }
}

bool TForm1::PreviewPictureBusy() const { return PictureLoader && PictureLoader->Busy(); }

void TForm1::LoadPreviewText(const std::string& path) {
  // Read in the background; only the newest file is shown.
  Memo1->Open(path);
}

// --- Showing a preview ----------------------------------------------------------------------

void TForm1::EnterPreview(QWidget* preview, TPane& target, const TLineList& lines, int index) {
  QWidget* pane = target.Widget;
  QTabBar* tabs = target.Tabs;
  if (ShownIn(preview, pane)) {
    // The pane shows this kind already: a new line gets its tab.
    if (tabs->count() <= index) {
      while (tabs->count() <= index) tabs->addTab(QString());
      tabs->setCurrentIndex(index);
    }
    tabs->setTabText(index, TabCaption(lines[index]));
    return;
  }
  // Only a folder tab is kept aside: coming from the other kind of preview,
  // the tab current now is a preview tab and the folder's stays as it was.
  const bool folderShown = !target.List->isHidden();
  MoveInto(preview, pane);
  target.Edit->hide();
  target.List->hide();
  if (preview == Image1) {
    Memo1->hide();
    Memo1->clear();
  } else {
    StopPreviewPicture();
    Image1->hide();
    Image1->clear();
  }
  preview->show();
  if (folderShown) target.SavedTab = tabs->currentIndex();
  RebuildTabs(tabs, lines);
  tabs->setCurrentIndex(index);
}

void TForm1::ShowPreview(TPane& target, const std::string& path, bool picture, std::function<void()> failed) {
  if (picture) {
    // Fitted to the pane it is going to, which may not be the one it is in; the
    // tab and the pane change once the picture is ready.
    LoadPreviewImage(
        path, target.Widget,
        [this, &target, path] {
          SetPreviewLine(ImagePath, ImageTabIndex, path);
          EnterPreview(Image1, target, ImagePath, ImageTabIndex);
        },
        std::move(failed));
  } else {
    LoadPreviewText(path);
    SetPreviewLine(TextPath, TextTabIndex, path);
    EnterPreview(Memo1, target, TextPath, TextTabIndex);
  }
}

// --- Preview tabs --------------------------------------------------------------------------

void TForm1::PreviewTabChange(QTabBar* sender) {
  TPane* paneOfTabs = PaneOf(sender);
  if (!paneOfTabs || sender != paneOfTabs->Tabs) return;
  QWidget* pane = paneOfTabs->Widget;
  std::string line;
  if (ShownIn(Image1, pane)) {
    ImageTabIndex = sender->currentIndex();
    if (ImageTabIndex < 0 || ImageTabIndex >= ImagePath.Count()) return;
    line = ImagePath[ImageTabIndex];
  } else if (ShownIn(Memo1, pane)) {
    TextTabIndex = sender->currentIndex();
    if (TextTabIndex < 0 || TextTabIndex >= TextPath.Count()) return;
    line = TextPath[TextTabIndex];
    LoadPreviewText(line);
  } else {
    return;
  }
  // The other pane goes to the file's folder and puts the focus mark on it.
  const std::string folder = DirName(line);
  TShellListView* other = OtherPane(*paneOfTabs).List;
  if (other->GetPathName() != folder) {
    other->SetPathName(folder);
    FocusItemByCaption(LastPathComponent(line), other);
  }
  // After the move: a selection that moves stops the picture on its way.
  if (ShownIn(Image1, pane)) LoadPreviewImage(line);
}

void TForm1::FocusItemByCaption(const std::string& name, TShellListView* list) {
  if (!list || name.empty()) return;
  const QString caption = QString::fromUtf8(name);
  TShellFileList* items = list->FileList();
  // From the first item on: the first file of a folder is found too.
  for (int row = 0; row < items->Count(); ++row) {
    TShellFileItem* item = items->Items(row);
    if (!item) continue;
    if (LastPathComponent(item->GetItemPath()) != name &&
        QString::fromUtf8(item->GetDisplayName()).compare(caption, Qt::CaseInsensitive) != 0)
      continue;
    items->FocusWhenListed({});
    if (list->FocusedRow() != row) {
      list->SetFocusedRow(row);
      list->MakeRowVisible(row);
    }
    return;
  }
  // A folder still listed (a server's) may bring the row later.
  items->FocusWhenListed(name);
}

// --- Following the selection ----------------------------------------------------------------

void TForm1::LV1SelectItem(TShellListView* sender, TShellFileItem* item, bool selected) {
  if (!selected || !sender) return;
  if (Image1->isHidden() && Memo1->isHidden()) return;
  if (sender->SelectedCount() == 1) ChangeFileTimer->start(kFollowDelayMs);
}

void TForm1::LV1ShSelChange(TShellListView* sender) {
  ChangeFileTimer->stop();
  // The selection moved on: the picture on its way is no longer wanted.
  if (sender && sender->isVisible() && PreviewPictureBusy()) StopPreviewPicture();
}

void TForm1::ChangeFileTimerTimer() {
  ChangeFileTimer->stop();
  TPane* source = CurrentPane();
  if (!source) return;
  TPane& target = OtherPane(*source);
  const std::string path = FocusedItemPath(source->List);
  const std::string ext = PreviewExtension(path);
  if (path.empty() || ext.empty()) return;
  // A file of the other kind, or of neither, leaves the preview as it is.
  if (ShownIn(Image1, target.Widget) && IsImageFile(ext))
    ShowPreview(target, path, true);
  else if (ShownIn(Memo1, target.Widget) && IsTextFile(ext))
    ShowPreview(target, path, false);
}
